#include "protocol/commands.h"

#include <charconv>
#include <cstring>
#include <limits>

#include "protocol/text.h"

namespace vantora {

const CommandInfo CommandTable[32] = {
    {0x01, "Restart(01h)", 0, "pnRestart", 23},
    {0x02, "Configure IO (02h)", 0, "pnCfgIO", 15},
    {0x03, "Set Datum (03h)", 0, "pnSetDatum", 15},
    {0x04, "Configure NMEA (04h)", 0, "pnCfgNmea", 15},
    {0x05, "Query Firmware Revision (05h)", 0, "pnRevision", 9},
    {0x06, "Request Clock Offset (06h)", 10, "pnClkOff", 7},
    {0x07, "Perform Built-In-Test (07h)", 10, "pnBIT", 8},
    {0x08, "Set Factory Default (08h)", 0, "pnNothing", 11},
    {0x09, "Read Ephemeris (09h)", 10, "pnReadEphs", 8},
    {0x0A, "Load Ephemeris (0Ah)", 10, "pnNothing", 0},
    {0x0B, "Read Almanac (0Bh)", 10, "pnReadAlmc", 8},
    {0x0C, "Load Almanac (0Ch)", 10, "pnNothing", 0},
    {0x0D, "Set ID (0Dh)", 1, "pnID", 16},
    {0x0E, "Query ID (0Eh)", 1, "pnID", 8},
    {0x0F, "Set DOP mask (0Fh)", 1, "pnDopMask", 11},
    {0x10, "Set Elevation Mask (10h)", 1, "pnElvMask", 8},
    {0x11, "DGPS Control (11h)", 1, "pnDgpsCtrl", 9},
    {0x12, "1PPS Control (12h)", 5, "pn1PPS", 10},
    {0x13, "Set Output Format (13h)", 5, "pnOutputFormat", 8},
    {0x14, "Snap Fix Control (14h)", 10, "pnNothing", 0},
    {0x15, "Adjust Week Number (15h)", 10, "pnNothing", 0},
    {0x16, "Fast Hot Start Mode (16h)", 10, "pnFastHotStart", 0},
    {0x17, "Query Navigation Setting (17h)", 1, "pnShowText", 8},
    {0x18, "Query System Setting (18h)", 1, "pnShowText", 8},
    {0x19, "Set Locale (19h)", 0, "pnLocale", 12},
    {0x1A, "Configure Binary Output (1Ah)", 10, "pnNothing", 0},
    {0x1B, "Set Extended Datum (1Bh)", 1, "pnSetDatum", 29},
    {0x1C, "Position Enhancement (1Ch)", 10, "pnNothing", 0},
    {0x1D, "Record Trace (1Dh)", 1, "pnTraceRecord", 15},
    {0x1E, "Read Trace (1Eh)", 1, "pnTraceRead", 14},
    {0x1F, "Maintain Trace Buffer (1Fh)", 1, "pnMaintainTrace", 9},
    {0x20, "Update Rate (20h)", 1, "pnUpdateRate", 8},
};

const CommandInfo* FindCommand(int number) {
    if (number < 1 || number > 32) return nullptr;
    return &CommandTable[number - 1];
}

namespace {

constexpr ControlKind T = ControlKind::Text;
constexpr ControlKind I = ControlKind::Item;
constexpr ControlKind C = ControlKind::Check;

// The form's defaults. Radio groups whose form selects nothing (rgSelDgps) start on item 0,
// check boxes the form leaves unchecked (cbUpdateSTime) start unchecked.
const std::vector<ControlInfo> kControls = {
    // pnRestart (the date and time are refreshed by the window when the panel is placed)
    {"SetStartMode", I, "", 1, 5},
    {"RSTyear", T, "1980", 0, 0},
    {"RSTmonth", T, "1", 0, 0},
    {"RSTday", T, "1", 0, 0},
    {"RSThour", T, "0", 0, 0},
    {"RSTminute", T, "0", 0, 0},
    {"RSTsecond", T, "0", 0, 0},
    {"RSTLat", T, "4913", 0, 0},
    {"RSTLong", T, "-12306", 0, 0},
    // pnCfgIO
    {"rgPort", I, "", 0, 2},
    {"rgBaud", I, "", 0, 4},
    // pnSetDatum
    {"lbEdIdx", T, "0", 0, 0},
    {"lbDx", T, "0", 0, 0},
    {"lbDy", T, "0", 0, 0},
    {"lbDz", T, "0", 0, 0},
    {"lbElpA", T, "", 0, 0},
    {"lbElpF", T, "", 0, 0},
    // pnCfgNmea
    {"lbRMC", T, "1", 0, 0},
    {"lbVTG", T, "0", 0, 0},
    {"lbGLL", T, "0", 0, 0},
    {"lbGSV", T, "1", 0, 0},
    {"lbGSA", T, "1", 0, 0},
    {"lbGGA", T, "1", 0, 0},
    {"lbZDA", T, "0", 0, 0},
    {"cbChkSumd", C, "", 1, 0},
    // pnBIT
    {"lbItem", T, "0", 0, 0},
    // pnID
    {"rgID", I, "", 1, 2},
    {"edModuleID", T, "", 0, 0},
    // pnDopMask
    {"rgDopMask", I, "", 1, 4},
    {"edGdop", T, "25", 0, 0},
    {"edPdop", T, "20", 0, 0},
    {"edHdop", T, "15", 0, 0},
    // pnElvMask
    {"edElvMask", T, "5", 0, 0},
    // pnDgpsCtrl
    {"rgSelDgps", I, "", 0, 2},
    // pn1PPS
    {"rg1PPS", I, "", 0, 3},
    {"ed1ppsBW", T, "1", 0, 0},
    {"ed1ppsMul", T, "1", 0, 0},
    // pnOutputFormat
    {"rgOutputFormat", I, "", 1, 5},
    // pnLocale
    {"cbUpdateSTime", C, "", 0, 0},
    {"lbZoneHour", T, "", 0, 0},
    {"lbZoneMinute", T, "", 0, 0},
    {"lbZoneSecond", T, "", 0, 0},
    {"lbDstAdjust", T, "", 0, 0},
    {"rgGMTsign", I, "", 0, 2},
    // pnTraceRecord
    {"rgTraceRecordAction", I, "", 0, 2},
    {"lbTraceDist", T, "", 0, 0},
    {"lbTracePeriod", T, "", 0, 0},
    {"lbTraceTime", T, "", 0, 0},
    // pnTraceRead
    {"rgTraceReadAction", I, "", 0, 2},
    {"rgTraceRdFmt", I, "", 0, 2},
    {"lbTracePos", T, "", 0, 0},
    {"rgTraceBaud", I, "", 3, 4},
    // pnMaintainTrace
    {"rgTraceStatus", I, "", 0, 4},
    {"rgPwrOnState", I, "", 0, 2},
    // pnUpdateRate
    {"lbUpdateRate", T, "1", 0, 0},
};

// The controls each builder reads, in payload order.
std::vector<const char*> ControlNamesOf(int cmd) {
    switch (cmd) {
        case 0x01:
            return {"SetStartMode", "RSTyear",   "RSTmonth", "RSTday", "RSThour",
                    "RSTminute",    "RSTsecond", "RSTLat",   "RSTLong"};
        case 0x02:
            return {"rgPort", "rgBaud"};
        case 0x03:
            return {"lbEdIdx", "lbDx", "lbDy", "lbDz"};
        case 0x04:
            return {"cbChkSumd", "lbRMC", "lbVTG", "lbGGA", "lbGSA", "lbGSV", "lbGLL", "lbZDA"};
        case 0x07:
            return {"lbItem"};
        case 0x0D:
            return {"rgID", "edModuleID"};
        case 0x0E:
            return {"rgID"};
        case 0x0F:
            return {"rgDopMask", "edGdop", "edPdop", "edHdop"};
        case 0x10:
            return {"edElvMask"};
        case 0x11:
            return {"rgSelDgps"};
        case 0x12:
            return {"rg1PPS", "ed1ppsBW", "ed1ppsMul"};
        case 0x13:
            return {"rgOutputFormat"};
        case 0x19:
            return {"cbUpdateSTime", "rgGMTsign",    "lbZoneHour",
                    "lbZoneMinute",  "lbZoneSecond", "lbDstAdjust"};
        case 0x1B:
            return {"lbElpA", "lbElpF", "lbDx", "lbDy", "lbDz"};
        case 0x1D:
            return {"rgTraceRecordAction", "lbTraceDist", "lbTracePeriod", "lbTraceTime"};
        case 0x1E:
            return {"rgTraceReadAction", "rgTraceRdFmt", "lbTracePos", "rgTraceBaud"};
        case 0x1F:
            return {"rgTraceStatus", "rgPwrOnState"};
        case 0x20:
            return {"lbUpdateRate"};
        default:
            return {};
    }
}

// White space as atoi skips it.
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The low 16 bits of the degrees-and-minutes conversion, for any 64-bit value: the sum is
// taken modulo 2^64 so that values near the limits cannot overflow.
int64_t DegMin64(int64_t v) {
    const int64_t whole = (v / 100) * 100;  // never larger in magnitude than v
    const int64_t minutes = ((v % 100) * 10) / 6;
    return static_cast<int64_t>(static_cast<uint64_t>(whole) + static_cast<uint64_t>(minutes));
}

// A fixed payload buffer written little-endian; values are cut to their field width.
struct Payload {
    uint8_t Bytes[32] = {};
    int Size = 0;

    void U8(int64_t v) {
        if (Size < static_cast<int>(sizeof Bytes)) Bytes[Size++] = static_cast<uint8_t>(v);
    }
    void U16(int64_t v) {
        U8(v);
        U8(v >> 8);
    }
    void U32(int64_t v) {
        U16(v);
        U16(v >> 16);
    }
    void F64(double d) {
        uint64_t bits = 0;
        std::memcpy(&bits, &d, sizeof bits);
        for (int i = 0; i < 8; ++i) U8(static_cast<int64_t>((bits >> (8 * i)) & 0xFF));
    }
    void Zeros(int count) {
        for (int i = 0; i < count; ++i) U8(0);
    }
};

}  // namespace

const std::vector<ControlInfo>& ControlTable() {
    return kControls;
}

const ControlInfo* FindControl(const std::string& name) {
    for (const ControlInfo& c : kControls) {
        if (name == c.Name) return &c;
    }
    return nullptr;
}

std::vector<const ControlInfo*> CommandControls(int cmd) {
    std::vector<const ControlInfo*> out;
    for (const char* name : ControlNamesOf(cmd)) out.push_back(FindControl(name));
    return out;
}

// ---- PanelValues ----

// A control that was never set reads as its default: an empty object is the form's defaults.
PanelValues PanelValues::Defaults() {
    return PanelValues{};
}

std::string PanelValues::Text(const std::string& control) const {
    auto it = texts_.find(control);
    if (it != texts_.end()) return it->second;
    const ControlInfo* c = FindControl(control);
    return c && c->Kind == ControlKind::Text ? c->DefaultText : "";
}

int PanelValues::Item(const std::string& control) const {
    auto it = items_.find(control);
    if (it != items_.end()) return it->second;
    const ControlInfo* c = FindControl(control);
    return c && c->Kind == ControlKind::Item ? c->DefaultValue : 0;
}

bool PanelValues::Checked(const std::string& control) const {
    auto it = checks_.find(control);
    if (it != checks_.end()) return it->second;
    const ControlInfo* c = FindControl(control);
    return c && c->Kind == ControlKind::Check && c->DefaultValue != 0;
}

void PanelValues::SetText(const std::string& control, const std::string& text) {
    texts_[control] = text;
}
void PanelValues::SetItem(const std::string& control, int index) {
    items_[control] = index;
}
void PanelValues::SetChecked(const std::string& control, bool checked) {
    checks_[control] = checked;
}

std::optional<ControlKind> PanelValues::KindOf(const std::string& control) {
    const ControlInfo* c = FindControl(control);
    if (!c) return std::nullopt;
    return c->Kind;
}

bool PanelValues::Assign(const std::string& control, const std::string& value, std::string& error) {
    const ControlInfo* c = FindControl(control);
    if (!c) {
        error = "unknown control '" + control + "'";
        return false;
    }
    switch (c->Kind) {
        case ControlKind::Text:
            SetText(control, value);
            return true;
        case ControlKind::Item: {
            auto index = StrictInteger(value);
            if (!index || *index < 0 || *index >= c->Items) {
                error = control + ": '" + value + "' is not an item index (0.." +
                        std::to_string(c->Items - 1) + ")";
                return false;
            }
            SetItem(control, static_cast<int>(*index));
            return true;
        }
        case ControlKind::Check: {
            std::string lower;
            for (char ch : value) lower += (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
            if (lower == "1" || lower == "true") {
                SetChecked(control, true);
                return true;
            }
            if (lower == "0" || lower == "false") {
                SetChecked(control, false);
                return true;
            }
            error = control + ": '" + value + "' is not a check box state (0, 1, true or false)";
            return false;
        }
    }
    error = "unknown control '" + control + "'";
    return false;
}

// ---- conversions ----

std::optional<int64_t> StrictInteger(const std::string& text) {
    return ParseInteger(text, 10, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
}

std::optional<double> StrictReal(const std::string& text) {
    // Check the form first: from_chars alone would take "inf", "nan" and hex forms.
    size_t i = 0;
    const size_t n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    const size_t numberStart = (n > 0 && text[0] == '+') ? 1 : 0;  // from_chars takes no '+'
    size_t digits = 0;
    while (i < n && IsDigit(text[i])) ++i, ++digits;
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && IsDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
        size_t expDigits = 0;
        while (i < n && IsDigit(text[i])) ++i, ++expDigits;
        if (expDigits == 0) return std::nullopt;
    }
    if (i != n) return std::nullopt;
    double value = 0;
    const char* first = text.data() + numberStart;
    const char* last = text.data() + n;
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || ptr != last) return std::nullopt;
    return value;
}

int64_t IntegerOr(const std::string& text, int64_t fallback) {
    return StrictInteger(text).value_or(fallback);
}

int64_t LeadingNumber(const std::string& text) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && IsSpace(text[i])) ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    uint64_t magnitude = 0;
    for (; i < n && IsDigit(text[i]); ++i) {
        const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
    }
    return negative ? static_cast<int64_t>(uint64_t{0} - magnitude) : static_cast<int64_t>(magnitude);
}

int32_t DegMinToHundredths(int32_t v) {
    return static_cast<int32_t>(DegMin64(v));
}

std::string ConversionError::Message() const {
    return Control + ": '" + Text + "' is not a valid " + (Real ? "number" : "integer");
}

// ---- builders ----

namespace {

int32_t ClampTo32(int64_t v) {
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

// Reads the panel values for one build and remembers the first strict conversion that failed.
class Reader {
  public:
    explicit Reader(const PanelValues& v) : values_(v) {}

    // Each reading names the width of the field it goes into (0: checked elsewhere); a value
    // the field cannot carry as it is, or a text replaced by a default or cut to its leading
    // digits, is noted in Changes, and the frame is built as before.
    int64_t Strict(const char* control, int bits) {
        const std::string text = values_.Text(control);
        auto v = StrictInteger(text);
        if (!v) Fail(control, text, false);
        return Fit(control, v.value_or(0), bits);
    }
    double Real(const char* control) {
        const std::string text = values_.Text(control);
        auto v = StrictReal(text);
        if (!v) Fail(control, text, true);
        return v.value_or(0.0);
    }
    int64_t Or(const char* control, int64_t fallback, int bits) {
        const std::string text = values_.Text(control);
        const std::optional<int64_t> v = StrictInteger(text);
        if (!v && !text.empty())
            Note(control,
                 "'" + text + "' is not an integer; the default " + std::to_string(fallback) + " is sent");
        return Fit(control, v.value_or(fallback), bits);
    }
    int64_t Leading(const char* control, int bits) {
        const std::string text = values_.Text(control);
        const int64_t v = LeadingNumber(text);
        if (!text.empty() && !StrictInteger(text))
            Note(control, "'" + text + "' is read as " + std::to_string(v));
        return Fit(control, v, bits);
    }
    // Signed or unsigned readings of the field both count as fitting.
    int64_t Fit(const char* control, int64_t v, int bits) {
        if (bits <= 0 || bits >= 64) return v;
        const int64_t low = -(int64_t{1} << (bits - 1)), high = (int64_t{1} << bits) - 1;
        if (v < low || v > high)
            Note(control, std::to_string(v) + " does not fit the " + std::to_string(bits) + "-bit field; " +
                              std::to_string(v & high) + " is sent");
        return v;
    }
    int Item(const char* control) const { return values_.Item(control); }
    bool Checked(const char* control) const { return values_.Checked(control); }

    std::optional<ConversionError> Error;
    std::vector<std::string> Changes;

  private:
    void Note(const char* control, const std::string& what) {
        Changes.push_back(std::string(control) + ": " + what);
    }
    void Fail(const char* control, const std::string& text, bool real) {
        if (!Error) Error = ConversionError{control, text, real};
    }
    const PanelValues& values_;
};

uint8_t TraceActionCode(int item) {
    switch (item) {
        case 1:
            return 0x01;  // clear
        case 2:
            return 0x09;  // enable
        case 3:
            return 0x0A;  // disable
        default:
            return 0x00;  // read status; also for a group with nothing valid selected
    }
}

}  // namespace

BuiltCommand BuildCommand(int cmd, const PanelValues& values, const Clock& clock) {
    BuiltCommand out;
    Reader r(values);
    Payload p;
    SendEffects fx;

    switch (cmd) {
        case 0x01: {
            const int mode = r.Item("SetStartMode");
            p.U8(mode != 0 ? 1 : 0);
            p.U8(mode);
            p.U16(r.Strict("RSTyear", 16));
            p.U8(r.Strict("RSTmonth", 8));
            p.U8(r.Strict("RSTday", 8));
            p.U8(r.Strict("RSThour", 8));
            p.U8(r.Strict("RSTminute", 8));
            p.U8(r.Strict("RSTsecond", 8));
            p.U8(0);
            p.U16(r.Fit("RSTLat", DegMin64(r.Strict("RSTLat", 0)), 16));
            p.U16(r.Fit("RSTLong", DegMin64(r.Strict("RSTLong", 0)), 16));
            p.U16(0);
            break;
        }
        case 0x02:
            p.U8(r.Item("rgPort"));
            p.U8(r.Item("rgBaud"));
            p.Zeros(6);
            break;
        case 0x03:
            p.U16(r.Leading("lbEdIdx", 16));
            p.U16(r.Leading("lbDx", 16));
            p.U16(r.Leading("lbDy", 16));
            p.U16(r.Leading("lbDz", 16));
            break;
        case 0x04: {
            const int64_t rmc = r.Leading("lbRMC", 8), vtg = r.Leading("lbVTG", 8),
                          gga = r.Leading("lbGGA", 8);
            const int64_t gsa = r.Leading("lbGSA", 8), gsv = r.Leading("lbGSV", 8),
                          gll = r.Leading("lbGLL", 8);
            const int64_t zda = r.Leading("lbZDA", 8);
            fx.UpdateNmeaConfig = true;
            fx.NmeaChecksum = r.Checked("cbChkSumd");
            // The configuration words are 32 bits; the bytes sent are the low bits of what is stored.
            const int64_t periods[7] = {gga, gll, gsa, gsv, rmc, vtg, zda};
            for (int i = 0; i < 7; ++i) fx.NmeaPeriods[i] = ClampTo32(periods[i]);
            p.U8(fx.NmeaChecksum ? 1 : 0);
            p.U8(fx.NmeaPeriods[4]);  // RMC
            p.U8(fx.NmeaPeriods[5]);  // VTG
            p.U8(fx.NmeaPeriods[0]);  // GGA
            p.U8(fx.NmeaPeriods[2]);  // GSA
            p.U8(fx.NmeaPeriods[3]);  // GSV
            p.U8(fx.NmeaPeriods[1]);  // GLL
            p.U8(fx.NmeaPeriods[6]);  // ZDA
            break;
        }
        case 0x05:
            p.U8(1);
            p.U8(1);
            fx.ClearRevision = true;
            break;
        case 0x06:
            fx.ClearClockOffset = true;
            break;
        case 0x07:
            p.U8(r.Or("lbItem", 0, 8));
            fx.ClearTestResults = true;
            break;
        case 0x08:
            for (char c : {'K', 'V', 'D', 'T'}) p.U8(c);
            break;
        case 0x09:
            p.U8(0);
            fx.ClearEphemerisProgress = true;
            break;
        case 0x0B:
            p.U8(0);
            fx.ClearAlmanacProgress = true;
            break;
        case 0x0D: {
            const int kind = r.Item("rgID");
            p.U8(kind);
            p.U32(kind == 1 ? r.Or("edModuleID", 0, 32) : clock.UnixSeconds());
            p.Zeros(4);
            break;
        }
        case 0x0E:
            p.U8(r.Item("rgID"));
            break;
        case 0x0F:
            p.U8(r.Item("rgDopMask"));
            p.U8(r.Or("edGdop", 25, 8));
            p.U8(r.Or("edPdop", 20, 8));
            p.U8(r.Or("edHdop", 15, 8));
            break;
        case 0x10:
            p.U8(r.Or("edElvMask", 5, 8));
            break;
        case 0x11:
            p.U8(r.Item("rgSelDgps"));
            p.U8(0);
            break;
        case 0x12:
            p.U8(r.Item("rg1PPS"));
            p.U8(r.Or("ed1ppsBW", 1, 8));
            p.U8(r.Or("ed1ppsMul", 1, 8));
            break;
        case 0x13:
            p.U8(r.Item("rgOutputFormat"));
            break;
        case 0x17:
        case 0x18:
            p.U8(0);
            break;
        case 0x19: {
            const bool minus = r.Item("rgGMTsign") == 1;
            p.U8(r.Checked("cbUpdateSTime") ? 1 : 0);
            for (const char* zone : {"lbZoneHour", "lbZoneMinute", "lbZoneSecond"}) {
                // Negated within the byte: the same bits as negating the value, without overflow.
                const uint8_t b = static_cast<uint8_t>(r.Or(zone, 0, 8));
                p.U8(minus ? static_cast<uint8_t>(0u - b) : b);
            }
            p.U8(r.Or("lbDstAdjust", 0, 8));
            break;
        }
        case 0x1B:
            p.F64(r.Real("lbElpA"));
            p.F64(r.Real("lbElpF"));
            p.U16(r.Or("lbDx", 0, 16));
            p.U16(r.Or("lbDy", 0, 16));
            p.U16(r.Or("lbDz", 0, 16));
            break;
        case 0x1D:
            p.U8(r.Item("rgTraceRecordAction"));
            p.U8(0);
            p.U16(r.Or("lbTraceDist", 0, 16));
            p.U16(r.Or("lbTracePeriod", 0, 16));
            p.U16(r.Or("lbTraceTime", 0xFFFF, 16));
            break;
        case 0x1E: {
            const int action = r.Item("rgTraceReadAction");
            p.U8(action);
            p.U8(r.Item("rgTraceRdFmt") == 1 ? 0 : 1);
            p.U16(r.Or("lbTracePos", 0, 16));
            p.U8(1);
            p.U8(r.Item("rgTraceBaud"));
            p.U8(0);
            fx.TraceReadActive = action == 1;
            break;
        }
        case 0x1F:
            p.U8(TraceActionCode(r.Item("rgTraceStatus")));
            p.U8(r.Item("rgPwrOnState"));
            break;
        case 0x20:
            p.U8(r.Or("lbUpdateRate", 1, 8));
            break;
        default:
            return out;  // 0Ah, 0Ch, 14h, 15h, 16h, 1Ah, 1Ch, none selected, unknown
    }

    if (r.Error) {
        out.Error = r.Error;
        return out;
    }
    out.Changes = std::move(r.Changes);
    out.Length = BuildFrame(IdCommand, static_cast<uint8_t>(cmd), p.Bytes, p.Size, out.Frame, MaxFrameLength);
    out.Effects = fx;
    return out;
}

void ApplyNmeaEffects(const SendEffects& effects, NmeaConfig& config) {
    if (!effects.UpdateNmeaConfig) return;
    for (int i = 0; i < 7; ++i) config[CfgGga + i] = effects.NmeaPeriods[i];
    const uint32_t word = static_cast<uint32_t>(config[CfgChecksum]);
    config[CfgChecksum] = static_cast<int32_t>((word & 0xFFFFFF00u) | (effects.NmeaChecksum ? 1u : 0u));
}

}  // namespace vantora
