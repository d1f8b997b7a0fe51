#include "protocol/nmea.h"

#include <cstdint>
#include <cstring>
#include <iterator>

#include "protocol/frame.h"

namespace vantora {

const char SentenceKeys[SentenceKindCount][5] = {"PGGA", "PGLL", "PGSA", "PGSV",
                                                 "PRMC", "PVTG", "PZDA", "PQLN"};

int32_t EnabledKindMask(const NmeaConfig& config) {
    int32_t mask = 0;
    for (int i = 0; i < SentenceKindCount; ++i)
        if (config[i + 1] != 0) mask |= 1 << i;
    return mask;
}

namespace {

struct ClassTable {
    uint8_t c[256] = {};
    constexpr ClassTable() {
        c[static_cast<uint8_t>('$')] = 1;
        c[static_cast<uint8_t>(',')] = 2;
        c[static_cast<uint8_t>('*')] = 3;
        c[0x0D] = 4;
        c[0x0A] = 5;
    }
};
constexpr ClassTable ByteClass;

enum ByteClassCode { Ordinary = 0, Dollar = 1, Comma = 2, Star = 3, Cr = 4, Lf = 5 };

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// One scanf "%Nd" conversion (width 0: no limit). White space is skipped and not counted;
// the sign counts toward the width. False when no digit was read. Saturates at the int32 range.
bool ScanInt(const char*& p, int width, int32_t& out) {
    while (IsSpace(*p)) ++p;
    int left = width > 0 ? width : INT32_MAX;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
        --left;
    }
    int64_t v = 0;
    bool any = false;
    for (; left > 0 && IsDigit(*p); ++p, --left) {
        if (v <= INT32_MAX) v = v * 10 + (*p - '0');
        any = true;
    }
    if (!any) return false;
    if (negative) v = -v;
    out = v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
    return true;
}

// "%Nd.%Md": how many of the two numbers were read.
int ScanPair(const char* p, int width1, int width2, int32_t& a, int32_t& b) {
    if (!ScanInt(p, width1, a)) return 0;
    if (*p != '.') return 1;
    ++p;
    return ScanInt(p, width2, b) ? 2 : 1;
}

// "%2d%2d%2d": how many of the three numbers were read.
int ScanTriple(const char*& p, int32_t& a, int32_t& b, int32_t& c) {
    if (!ScanInt(p, 2, a)) return 0;
    if (!ScanInt(p, 2, b)) return 1;
    return ScanInt(p, 2, c) ? 3 : 2;
}

// Leading decimal integer as atoi reads it; 0 when there is none.
int32_t ParseInt(const char* p) {
    // Most fields are a few plain digits.
    int32_t v = 0;
    int n = 0;
    for (; n < 9 && IsDigit(p[n]); ++n) v = v * 10 + (p[n] - '0');
    if (n > 0 && n < 9) return v;
    v = 0;
    return ScanInt(p, 0, v) ? v : 0;
}

// Leading decimal number ("-12.345") as atof reads it; 0 when there is none.
double ParseDecimal(const char* p) {
    static constexpr double Pow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    while (IsSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    uint64_t mantissa = 0;
    int digits = 0;  // significant digits kept in the mantissa
    int scale = 0;
    for (; IsDigit(*p); ++p) {
        if (digits < 19) {
            mantissa = mantissa * 10 + (*p - '0');
            if (mantissa != 0) ++digits;
        } else {
            ++scale;
        }
    }
    if (*p == '.') {
        for (++p; IsDigit(*p); ++p) {
            if (digits < 19) {
                mantissa = mantissa * 10 + (*p - '0');
                if (mantissa != 0) ++digits;
                --scale;
            }
        }
    }
    double v = static_cast<double>(mantissa);
    for (; scale > 22; scale -= 22) v *= 1e22;
    for (; scale < -22; scale += 22) v /= 1e22;
    v = scale >= 0 ? v * Pow10[scale] : v / Pow10[-scale];
    return negative ? -v : v;
}

int32_t TruncateToInt(double v) {
    if (!(v > -2147483649.0)) return INT32_MIN;
    if (!(v < 2147483648.0)) return INT32_MAX;
    return static_cast<int32_t>(v);
}

// Two hexadecimal digits as one byte value; -1 when either is not one.
int HexPair(char a, char b) {
    const int hi = HexDigit(a);
    const int lo = HexDigit(b);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

// Exactly two hexadecimal digits; -1 otherwise.
int ParseHexPair(const char* p) {
    return std::strlen(p) != 2 ? -1 : HexPair(p[0], p[1]);
}

// Leading hexadecimal number, low 16 bits kept.
uint16_t ParseHex16(const char* p) {
    while (IsSpace(*p)) ++p;
    uint32_t v = 0;
    for (int d; (d = HexDigit(*p)) >= 0; ++p) v = (v << 4 | static_cast<uint32_t>(d)) & 0xFFFF;
    return static_cast<uint16_t>(v);
}

}  // namespace

TNmea::TNmea() {
    config_ = {0, 1, 0, 1, 1, 1, 0, 0, 0, 1};
    config_[CfgMask] = EnabledKindMask(config_);
    Reset();
}

int TNmea::Parse(const uint8_t* bytes, int count, int& result) {
    result = 0;
    if (bytes == nullptr || count <= 0) return 0;
    int i = 0;
    for (;;) {
        // Ordinary bytes go to the token; a full token restarts at position 0, so after a long
        // run it holds the run's last characters. k counts characters since the last delimiter,
        // as 33..64 once the token has restarted, which keeps both the position and the fact.
        uint32_t k = static_cast<uint32_t>(tokenLength_) + (tokenWrapped_ ? TokenSize : 0);
        uint8_t x = tokenXor_;
        int cls = Ordinary;
        for (; i < count; ++i) {
            const uint8_t b = bytes[i];
            cls = ByteClass.c[b];
            if (cls != Ordinary) break;
            token_[k % TokenSize] = static_cast<char>(b);
            x ^= b;
            ++k;
        }
        tokenXor_ = x;  // meaningless once wrapped: such a token is never stored as a field
        if (k > static_cast<uint32_t>(TokenSize)) {
            tokenWrapped_ = true;
            tokenLength_ = static_cast<int>((k - 1) % TokenSize) + 1;
        } else {
            tokenLength_ = static_cast<int>(k);
        }
        if (i == count) return count;

        OnDelimiter(cls, result);
        tokenLength_ = 0;
        tokenWrapped_ = false;
        tokenXor_ = 0;
        if (result != 0) return i + 1;
        if (sentenceLength_ > MaxSentenceLength && state_ != Idle) Reject(RejectLength);
        ++i;
    }
}

void TNmea::OnDelimiter(int cls, int& result) {
    switch (state_) {
        case Idle:
            sentenceLength_ = cls == Dollar ? 1 : 0;
            if (cls == Dollar) state_ = Address;
            fieldCount_ = 0;
            break;
        case Address:
            OnAddress();
            break;
        case Fields:
            if (cls == Dollar) {
                sentenceLength_ = 1;
                state_ = Address;
                fieldCount_ = 0;
                break;
            }
            CloseField();
            if (state_ != Fields) break;  // dropped
            if (cls == Star) state_ = Checksum;
            if (cls == Cr) state_ = EndOfLine;
            break;
        case Checksum: {
            // The token is not terminated, so its length decides rather than strlen.
            const int given = tokenLength_ == 2 ? HexPair(token_[0], token_[1]) : -1;
            if (cls == Cr && given == checksum_) {
                sentenceLength_ += 3;
                state_ = EndOfLine;
            } else {
                Reject(given == checksum_ ? RejectFraming : RejectChecksum);
            }
            break;
        }
        case EndOfLine:
            if (cls == Lf) {
                state_ = Idle;
                result = Dispatch();
                if (result == 0) Reject(RejectFields);
            } else {
                Reject(RejectFraming);
            }
            break;
        default:
            Reject(RejectFraming);
            break;
    }
}

void TNmea::OnAddress() {
    state_ = Idle;
    const int len = tokenLength_;
    if (len == 4 || (len == 5 && token_[0] == 'G')) {
        const char* key = token_ + len - 4;
        for (int k = 0; k < SentenceKindCount; ++k) {
            if (std::memcmp(key, SentenceKeys[k], 4) != 0) continue;
            kind_ = k;
            state_ = Fields;
            checksum_ = XorChecksum(reinterpret_cast<const uint8_t*>(token_), len);
            sentenceLength_ += 6;
            return;
        }
    }
    Reject(RejectKind);
}

void TNmea::CloseField() {
    // A field slot holds 31 characters: a longer field, or a field beyond the last slot,
    // would not fit, so the sentence is dropped rather than stored cut.
    if (tokenWrapped_ || tokenLength_ >= FieldSize || fieldCount_ >= FieldSlots) {
        Reject(RejectFields);
        return;
    }
    char* slot = fields_[fieldCount_];
    std::memcpy(slot, token_, FieldSize);
    slot[tokenLength_] = '\0';
    checksum_ ^= ',' ^ tokenXor_;
    ++fieldCount_;
    sentenceLength_ += tokenLength_ + 1;
}

void TNmea::Reject(Rejection why) {
    state_ = Idle;
    sentenceLength_ = 0;
    rejection_ = why;
    ++errors_;
}

int TNmea::Decode(const uint8_t* sentence, int size) {
    StartOver();
    rejection_ = NotRejected;
    int result = 0;
    Parse(sentence, size, result);
    return result;
}

const char* RejectionName(int why) {
    static const char* const names[] = {"", "checksum", "fields", "kind", "length", "framing"};
    return why > 0 && why < static_cast<int>(std::size(names)) ? names[why] : "";
}

const char* TNmea::Field(int i) const {
    return i >= 0 && i < fieldCount_ ? fields_[i] : "";
}

int TNmea::Dispatch() {
    if (kind_ < 0 || kind_ >= SentenceKindCount) return 0;
    if (counters_[kind_] < CounterCap) ++counters_[kind_];
    int r = 0;
    switch (kind_) {
        case KindGga:
            r = HandleGga();
            break;
        case KindGll:
            r = fieldCount_ == 6 ? 1 : 0;
            break;
        case KindGsa:
            r = HandleGsa();
            break;
        case KindGsv:
            r = HandleGsv();
            break;
        case KindRmc:
            r = HandleRmc();
            break;
        case KindVtg:
        case KindZda:
            r = fieldCount_ == 8 ? 1 : 0;
            break;
        case KindPqln:
            r = HandlePqln();
            break;
        default:
            break;
    }
    if (r != 0) nav_.Updated = 1;
    return r;
}

int TNmea::HandleGga() {
    if (fieldCount_ != 14) return 0;

    const char* p = Field(0);
    int32_t hour = 0, minute = 0, second = 0, ms = 0;
    if (ScanTriple(p, hour, minute, second) == 3) {
        if (*p == '.') {
            ++p;
            ScanInt(p, 3, ms);  // read and dropped
        }
        nav_.Hour = hour;
        nav_.Minute = minute;
        nav_.Second = second;
    }

    int32_t a = 0, b = 0;
    ScanPair(Field(1), 4, 4, a, b);
    nav_.Latitude = static_cast<float>(a + b * 0.0001);
    nav_.LatitudeHemisphere = Field(2)[0];

    a = 0;
    b = 0;
    ScanPair(Field(3), 5, 4, a, b);
    nav_.Longitude = static_cast<float>(a + b * 0.0001);
    nav_.LongitudeHemisphere = Field(4)[0];

    switch (ParseInt(Field(5))) {
        case 0:
            nav_.FixQuality = QualityNoFix;
            nav_.FixMode = ModeNoFix;
            break;
        case 1:
            nav_.FixQuality = QualityGps;
            nav_.FixMode = Mode3D;
            break;
        case 2:
            nav_.FixQuality = QualityDifferential;
            nav_.FixMode = Mode3DPlus;
            break;
        default:
            break;
    }

    nav_.Altitude = static_cast<int16_t>(ParseInt(Field(8)));
    return 1;
}

int TNmea::HandleGsa() {
    if (std::strlen(Field(0)) != 1 || std::strlen(Field(1)) != 1) return 0;
    nav_.SatellitesUsed = 0;
    usedLow_ = 0;
    usedHigh_ = 0;
    for (int i = 2; i <= 13; ++i) {
        const int32_t n = ParseInt(Field(i));
        if (n == 0) continue;
        ++nav_.SatellitesUsed;
        if (n >= 1 && n <= 32)
            usedLow_ |= 1u << (n - 1);
        else if (n >= 33 && n <= 64)
            usedHigh_ |= 1u << (n - 33);
    }
    nav_.Status = Field(0)[0];
    nav_.FixMode = ParseInt(Field(1)) - 1;
    if (nav_.FixQuality == QualityDifferential) nav_.FixMode = Mode3DPlus;
    nav_.Dop1 = static_cast<float>(ParseDecimal(Field(14)));
    nav_.Dop2 = static_cast<float>(ParseDecimal(Field(15)));
    nav_.Dop3 = static_cast<float>(ParseDecimal(Field(16)));
    return 1;
}

int TNmea::HandleGsv() {
    const int32_t total = ParseInt(Field(0));
    const int32_t number = ParseInt(Field(1));
    nav_.SatellitesInView = ParseInt(Field(2));
    if (number == 1) std::memset(staging_, 0, sizeof staging_);

    // The message number comes from the wire: k may be far outside the staging list.
    int64_t k = (static_cast<int64_t>(number) - 1) * 4;
    for (int j = 0; j < 4; ++j) {
        const int32_t n = ParseInt(Field(3 + 4 * j));
        if (n >= 1 && n <= 64) {
            SatelliteEntry& e = nav_.Satellites[n - 1];
            e.Elevation = ParseInt(Field(4 + 4 * j));
            e.Azimuth = ParseInt(Field(5 + 4 * j));
            e.Cn0 = ParseInt(Field(6 + 4 * j));
            e.Used = n <= 32 ? (usedLow_ >> (n - 1)) & 1 : (usedHigh_ >> (n - 33)) & 1;
        }
        if (k >= 0 && k < 16) staging_[k] = n;
        ++k;
        if (k >= nav_.SatellitesInView) break;
    }
    if (number == total) std::memcpy(nav_.InView, staging_, sizeof staging_);
    return total >= number ? 1 : 0;
}

int TNmea::HandleRmc() {
    if (fieldCount_ != 11 && fieldCount_ != 12) return 0;

    const char* p = Field(8);
    int32_t day = 0, month = 0, year = 0;
    // Only a complete date is taken: a partial one would leave the year without its century.
    if (ScanTriple(p, day, month, year) == 3) {
        nav_.Day = day;
        nav_.Month = month;
        nav_.Year = year + 2000;
    }

    nav_.Speed = static_cast<int16_t>(TruncateToInt(ParseDecimal(Field(6)) * 1.852));
    nav_.Course = static_cast<int16_t>(ParseInt(Field(7)));
    return 1;
}

int TNmea::HandlePqln() {
    if (fieldCount_ < 2) return 0;
    const int a = ParseHexPair(Field(0));
    const int b = ParseHexPair(Field(1));
    if (a == 0x4D && b == 0x21) {
        if (std::strcmp(Field(2), "HELLO") == 0) return LoaderHello;
        if (std::strcmp(Field(2), "DATARQST") == 0) return LoaderDataRequest;
        return 0;
    }
    if (a == 0x4D && b == 0x20) {
        reportedCrc_ = ParseHex16(Field(2));
        return LoaderCrcReport;
    }
    if (a == 0x41 && b == 0x72) return LoadAck;
    if (a == 0x41 && b == 0x73) return EraseAck;
    if (a == 0x4E && b == 0x72) return LoadNack;
    return 0;
}

void TNmea::StartOver() {
    tokenLength_ = 0;
    tokenWrapped_ = false;
    tokenXor_ = 0;
    state_ = Idle;
    fieldCount_ = 0;
    sentenceLength_ = 0;
    kind_ = -1;
}

void TNmea::Reset() {
    StartOver();
    usedLow_ = 0;
    usedHigh_ = 0;
    std::memset(counters_, 0, sizeof counters_);
    nav_.Updated = 0;
}

void TNmea::ClearFix() {
    nav_.Speed = 0;
    nav_.Course = 0;
    nav_.Latitude = 0;
    nav_.LatitudeHemisphere = 'N';
    nav_.Longitude = 0;
    nav_.LongitudeHemisphere = 'E';
    nav_.Altitude = 0;
    nav_.Status = 'A';
    nav_.Dop1 = nav_.Dop2 = nav_.Dop3 = 0;
    nav_.SatellitesInView = 0;
    nav_.SatellitesUsed = 0;
    nav_.FixQuality = QualityGps;
    // 2D rather than "no fix": the view keeps showing a fix until the next GGA or GSA says otherwise.
    nav_.FixMode = Mode2D;
    for (int i = 0; i < 16; ++i) nav_.Satellites[i].Used = 0;
}

void TNmea::SetConfig(const int32_t* words) {
    if (words == nullptr) return;
    for (int i = 0; i < static_cast<int>(config_.size()); ++i) config_[i] = words[i];
    // Bits the caller set in the mask word stay set.
    config_[CfgMask] |= EnabledKindMask(config_);
}

bool TNmea::SentenceSeen() const {
    for (int c : counters_)
        if (c != 0) return true;
    return false;
}

}  // namespace vantora
