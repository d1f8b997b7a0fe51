#include "protocol/nmea.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string_view>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vantora {

int32_t EnabledKindMask(const NmeaConfig& config) {
    int32_t mask = 0;
    for (int i = 0; i < SentenceKindCount; ++i)
        if (config[i + 1] != 0) mask |= 1 << i;
    return mask;
}

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Leading decimal integer of a field as atoi reads it (blanks, a sign, digits); 0 when there is
// none. Saturates at the int32 range.
int32_t ToIntSlow(std::string_view f) {
    if (f.empty()) return 0;
    if (f.size() - 1 < 9) {
        int32_t v = 0;
        size_t i = 0;
        for (; i < f.size() && IsDigit(f[i]); ++i) v = v * 10 + (f[i] - '0');
        if (i > 0) return v;  // digits first: no blanks or sign, the number ends at the first other byte
    }
    const char* p = f.data();
    const char* const end = p + f.size();
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    int64_t v = 0;
    for (; p < end && IsDigit(*p); ++p)
        if (v <= INT32_MAX) v = v * 10 + (*p - '0');
    if (negative) v = -v;
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}

// Leading decimal number of a field ("-12.345", any number of decimals) as atof reads it; 0
// when there is none.
constexpr double Pow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                            1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

double ToDecimal(std::string_view f) {
    const char* p = f.data();
    const char* const end = p + f.size();
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    uint64_t mantissa = 0;
    int digits = 0;  // significant digits kept in the mantissa
    int scale = 0;
    for (; p < end && IsDigit(*p); ++p) {
        if (digits < 19) {
            mantissa = mantissa * 10 + (*p - '0');
            if (mantissa != 0) ++digits;
        } else {
            ++scale;
        }
    }
    if (p < end && *p == '.') {
        for (++p; p < end && IsDigit(*p); ++p) {
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

// Eight bytes at a time: a byte value repeated, the high bit of each byte.
constexpr uint64_t Ones = 0x0101010101010101ull, Highs = 0x8080808080808080ull, Lows = ~Highs;

// The high bit of each byte of w that is c.
inline uint64_t BytesEqual(uint64_t w, uint8_t c) {
    const uint64_t t = w ^ (Ones * c);
    return ~(((t & Lows) + Lows) | t | Lows);
}

// The eight bytes from p, p's own in the low byte, read without passing end: near the end the
// window moves back and the bytes past end read as zeros. Needs p < end and 8 bytes before end.
inline uint64_t Window(const char* p, const char* end) {
    const char* const q = end - p >= 8 ? p : end - 8;
    uint64_t w;
    std::memcpy(&w, q, sizeof w);
    return w >> ((p - q) * 8);
}

// How many of the first n bytes of w (at most 8) are decimal digits before any other byte;
// digits gets the bytes' digit values.
inline int LeadingDigits(uint64_t w, int n, uint64_t& digits) {
    const uint64_t d = w - Ones * '0';
    // A byte that is no digit is above 9 here or wrapped: its borrow reaches only later bytes.
    uint64_t other = (d | (d + Ones * (0x80 - 10))) & Highs;
    if (n < 8) other |= Highs << (n * 8);
    digits = d;
    return other == 0 ? 8 : __builtin_ctzll(other) / 8;
}

// The number the first count (1..8) digit values of d spell, the first the most significant:
// moved to the top so the bytes below read as leading zeros, then pairs, quads and the whole
// by multiplication.
inline uint32_t DigitsValue(uint64_t d, int count) {
    d <<= (8 - count) * 8;
    d = d * 10 + (d >> 8);
    d = ((d & 0x000000FF000000FFull) * (100 + (1000000ull << 32)) +
         ((d >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32))) >>
        32;
    return static_cast<uint32_t>(d);
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

// Two digits at p as a number; -1 when either is not a digit.
int TwoDigits(const char* p) {
    return IsDigit(p[0]) && IsDigit(p[1]) ? (p[0] - '0') * 10 + (p[1] - '0') : -1;
}

// "hhmmss" with any number of decimals after a point; false when it is not a time of day.
bool ReadTime(std::string_view f, int32_t& hour, int32_t& minute, int32_t& second) {
    const char* p = f.data();
    const int n = static_cast<int>(f.size());
    if (n < 6 || (n > 6 && p[6] != '.')) return false;
    const int h = TwoDigits(p), m = TwoDigits(p + 2), s = TwoDigits(p + 4);
    if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 60) return false;
    for (int i = 7; i < n; ++i)
        if (!IsDigit(p[i])) return false;
    hour = h, minute = m, second = s;  // fractions of a second are not kept
    return true;
}

// Two-digit years: the receivers that send them were built from 1980 on.
int32_t FullYear(int yy) {
    return yy >= 80 ? 1900 + yy : 2000 + yy;
}

// NMEA's talkers of satellite systems, and GN for a solution of several.
struct TalkerName {
    char Id[3];
    int System;
};
constexpr int Mixed = GnssSystemCount;
constexpr TalkerName TalkerNames[] = {{"GP", SystemGps},   {"GN", Mixed},       {"GL", SystemGlonass},
                                      {"GA", SystemGalileo}, {"GB", SystemBeidou}, {"BD", SystemBeidou},
                                      {"GQ", SystemQzss},  {"QZ", SystemQzss},  {"GI", SystemNavic}};

// The system of satellite number n as a sentence of the given system (or Mixed) numbers it:
// GPS sentences carry SBAS as 33..64, mixed ones GPS, SBAS and GLONASS by range; -1 for a
// number a mixed sentence cannot place.
int SatelliteSystem(int base, int32_t n) {
    if (base == SystemGps) return n >= 33 && n <= 64 ? SystemSbas : SystemGps;
    if (base != Mixed) return base;
    if (n >= 1 && n <= 32) return SystemGps;
    if (n >= 33 && n <= 64) return SystemSbas;
    if (n >= 65 && n <= 96) return SystemGlonass;
    return -1;
}

}  // namespace

TNmea::TNmea() {
    config_ = {0, 1, 0, 1, 1, 1, 0, 0, 0, 1};
    config_[CfgMask] = EnabledKindMask(config_);
    sky_.Quality = GgaNone;
    Reset();
}

int TNmea::Parse(const uint8_t* bytes, int count, int& result) {
    result = 0;
    if (bytes == nullptr || count <= 0) return 0;
    for (int i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        if (b == '$') {
            if (lineLength_ > 0) Reject(RejectFraming);  // broken off by the next sentence
            line_[0] = b;
            lineLength_ = 1;
            afterCr_ = false;
            continue;
        }
        if (lineLength_ == 0) continue;  // between sentences
        if (afterCr_ && b != '\n') {
            Reject(RejectFraming);
            continue;
        }
        if (lineLength_ == MaxLine) {
            Reject(RejectLength);
            continue;
        }
        line_[lineLength_++] = b;
        afterCr_ = b == '\r';
        if (b != '\n') continue;
        const int size = lineLength_;
        lineLength_ = 0;
        rejection_ = NotRejected;
        result = DecodeLine(line_, size, true);
        if (result != 0) return i + 1;
    }
    return count;
}

int TNmea::Decode(const uint8_t* sentence, int size) {
    rejection_ = NotRejected;
    kind_ = -1;
    if (sentence == nullptr || size <= 0) return 0;
    return DecodeLine(sentence, size, sentence[size - 1] == '\n');
}

namespace {

// Bytes a sentence's fields may not hold: a checksum mark before its place, a line end.
enum : uint8_t { StrayStar = 1, StrayLineEnd = 2 };
struct StrayTable {
    uint8_t c[256] = {};
    constexpr StrayTable() {
        c[static_cast<uint8_t>('*')] = StrayStar;
        c[0x0D] = c[0x0A] = StrayLineEnd;
    }
};
constexpr StrayTable Stray;

// Sixteen bytes as one value: the compiler's vector type, which is SSE2 on x86-64 and the
// like elsewhere.
using Bytes16 = uint8_t __attribute__((vector_size(16)));
using Flags16 = decltype(Bytes16{} == Bytes16{1});  // a byte of all ones where true

inline Bytes16 Load16(const uint8_t* p) {
    Bytes16 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// One bit per byte whose high bit is set, byte 0 in bit 0.
inline unsigned Mask16(Flags16 flags) {
#if defined(__SSE2__) && !defined(VANTORA_PORTABLE_SCAN)
    return static_cast<unsigned>(_mm_movemask_epi8(reinterpret_cast<__m128i>(flags)));
#else
    uint64_t half[2];
    std::memcpy(half, &flags, sizeof half);
    const auto gather = [](uint64_t w) { return (((w & Highs) >> 7) * 0x0102040810204080ull) >> 56; };
    return static_cast<unsigned>(gather(half[0]) | gather(half[1]) << 8);
#endif
}

// For each byte of a comma mask: the places after its commas (bit k: place k + 1), the first in
// the low byte, and how many there are.
struct PlaceTable {
    uint64_t Of[256] = {};
    uint8_t Count[256] = {};
    constexpr PlaceTable() {
        for (int m = 0; m < 256; ++m)
            for (int b = 0; b < 8; ++b)
                if (m >> b & 1) Of[m] |= static_cast<uint64_t>(b + 1) << (8 * Count[m]++);
    }
};
constexpr PlaceTable Places;

}  // namespace

int TNmea::DecodeLine(const uint8_t* line, int size, bool ended) {
    kind_ = -1;
    if (line[0] != '$') {
        Reject(RejectFraming);
        return 0;
    }
    int n = size;
    if (ended) {
        --n;
        if (n > 1 && line[n - 1] == '\r') --n;
    }
    const uint8_t* const body = line + 1;
    int length = n - 1;  // "$" to the line end or "*"
    kind_ = Address(body, length);
    if (!ended) return 0;  // cut off: its address still names what was lost
    if (kind_ < 0) {
        Reject(RejectKind);
        return 0;
    }
    if (size > MaxLine) {
        Reject(RejectLength);
        return 0;
    }
    const bool summed = length >= 3 && body[length - 3] == '*';
    if (summed) length -= 3;

    // One pass, sixteen bytes at a time: the checksum, where each field starts and any stray
    // byte. A chunk's commas give their places through a table, eight at a time, without a loop
    // over the commas; a chunk holding a stray '*' or line end has the sentence looked at byte by
    // byte. A field longer than a slot spans a whole chunk without a comma: only then are the
    // places compared.
    uint8_t* const at = fieldAt_;
    uint64_t xw = 0;
    uint8_t stray = 0;
    int count = 0;
    // A field slot holds 31 characters: the places of consecutive commas tell a longer field.
    int last = INT32_MAX / 2;  // the address before the first comma is no field
    bool tooLong = false;
    if (length >= 16) {
        Bytes16 acc{};
        Flags16 odd{};
        uint8_t* out = at;
        bool gap = false;  // a chunk without a comma: only then may a field be too long
        // The places after a chunk's commas (bits of m, from place o + 1): eight at a time from
        // the table, written whole and advanced by their count.
        const auto place = [&](unsigned m, int o) {
            const uint64_t low = Places.Of[m & 0xFF] + Ones * static_cast<uint64_t>(o);
            const uint64_t high = Places.Of[m >> 8] + Ones * static_cast<uint64_t>(o + 8);
            std::memcpy(out, &low, sizeof low);
            out += Places.Count[m & 0xFF];
            std::memcpy(out, &high, sizeof high);
            out += Places.Count[m >> 8];
        };
        const auto strays = [](Bytes16 v) { return (v == '*') | (v == '\r') | (v == '\n'); };
        int o = 0;
        for (; o + 16 <= length; o += 16) {
            const Bytes16 v = Load16(body + o);
            acc ^= v;
            odd |= strays(v);
            const unsigned m = Mask16(v == ',');
            gap |= m == 0;
            place(m, o);
        }
        if (o < length) {  // the sentence's last 16 bytes, those taken already left out
            static constexpr uint8_t Fresh[32] = {0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,
                                                  0,   0,   0,   0,   0,   255, 255, 255, 255, 255, 255,
                                                  255, 255, 255, 255, 255, 255, 255, 255, 255, 255};
            const int from = length - 16, seen = o - from;
            const Bytes16 v = Load16(body + from);
            acc ^= v & Load16(Fresh + 16 - seen);
            odd |= strays(v);
            place(Mask16(v == ',') >> seen, o);
        }
        uint64_t halves[2];
        std::memcpy(halves, &acc, sizeof halves);
        xw = halves[0] ^ halves[1];
        if (Mask16(odd) != 0)
            for (int k = 0; k < length; ++k) stray |= Stray.c[body[k]];
        count = static_cast<int>(out - at);
        if (count > 0) last = at[count - 1];
        if (gap)
            for (int k = 1; k < count; ++k) tooLong |= at[k] - at[k - 1] > FieldSize;
    } else {
        for (int i = 0; i < length; ++i) {
            const uint8_t c = body[i];
            xw ^= c;
            stray |= Stray.c[c];
            at[count] = static_cast<uint8_t>(i + 1);
            if (c != ',') continue;
            ++count;
            tooLong |= i + 1 - last > FieldSize;
            last = i + 1;
        }
    }
    tooLong |= length + 1 - last > FieldSize;
    xw ^= xw >> 32;
    xw ^= xw >> 16;
    xw ^= xw >> 8;
    const uint8_t x = static_cast<uint8_t>(xw);
    at[count] = static_cast<uint8_t>(length + 1);
    body_ = reinterpret_cast<const char*>(body);
    lineEnd_ = reinterpret_cast<const char*>(line + size);
    fieldCount_ = count;
    // 31 characters to a field and 32 fields: more is dropped, not cut.
    if (count > FieldSlots || tooLong) {
        Reject(RejectFields);
        return 0;
    }
    if ((stray & StrayStar) != 0 || (summed && HexPair(static_cast<char>(body[length + 1]),
                                                        static_cast<char>(body[length + 2])) != x)) {
        Reject(RejectChecksum);
        return 0;
    }
    if ((stray & StrayLineEnd) != 0) {
        Reject(RejectFraming);
        return 0;
    }
    const int result = Dispatch();
    if (result == 0) Reject(RejectFields);
    return result;
}

namespace {

// The address's letters as a little-endian number, and perfect hashes of those the parser
// knows: one multiplication and one compare instead of a search.
constexpr uint32_t Letters(const char* s, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(s[i])) << (8 * i);
    return v;
}
constexpr uint32_t KindHash = 0x4a7780b, TalkerHash = 0x9e3779b1;
struct Slot {
    uint32_t Letters = 0;
    int8_t Value = -1;
};
constexpr std::array<Slot, 8> KindSlots = [] {
    std::array<Slot, 8> t{};
    for (int k = 0; k < KindPqln; ++k) {
        const uint32_t l = Letters(SentenceKeys[k] + 1, 3);
        t[(l * KindHash) >> 29] = {l, static_cast<int8_t>(k)};
    }
    return t;
}();
constexpr std::array<Slot, 16> TalkerSlots = [] {
    std::array<Slot, 16> t{};
    for (const TalkerName& n : TalkerNames) {
        const uint32_t l = Letters(n.Id, 2);
        t[(l * TalkerHash) >> 28] = {l, static_cast<int8_t>(n.System)};
    }
    return t;
}();
static_assert([] {
    int kinds = 0, talkers = 0;
    for (const Slot& s : KindSlots) kinds += s.Value >= 0;
    for (const Slot& s : TalkerSlots) talkers += s.Value >= 0;
    return kinds == KindPqln && talkers == static_cast<int>(std::size(TalkerNames));
}(), "the hashes must keep every kind and talker apart");

}  // namespace

// The address ends at the first ',' or '*': the first word usually holds it.
int TNmea::Address(const uint8_t* body, int length) {
    int n = 0;
    if (length >= 8) {
        uint64_t w;
        std::memcpy(&w, body, sizeof w);
        const uint64_t ends = BytesEqual(w, ',') | BytesEqual(w, '*');
        n = ends != 0 ? std::countr_zero(ends) / 8 : 8;  // eight or more: no address known
    } else {
        while (n < length && body[n] != ',' && body[n] != '*') ++n;
    }
    const char* const a = reinterpret_cast<const char*>(body);
    if (n == 4) return std::memcmp(a, SentenceKeys[KindPqln], 4) == 0 ? KindPqln : -1;
    if (n != 5) return -1;
    const uint32_t talker = Letters(a, 2), kind = Letters(a + 2, 3);
    const Slot& t = TalkerSlots[(talker * TalkerHash) >> 28];
    const Slot& k = KindSlots[(kind * KindHash) >> 29];
    if (t.Letters != talker || t.Value < 0 || k.Letters != kind) return -1;
    talker_ = t.Value;
    return k.Value;
}

void TNmea::Reject(Rejection why) {
    lineLength_ = 0;
    afterCr_ = false;
    rejection_ = why;
    ++errors_;
}

const char* RejectionName(int why) {
    static const char* const names[] = {"", "checksum", "fields", "kind", "length", "framing"};
    return why > 0 && why < static_cast<int>(std::size(names)) ? names[why] : "";
}

std::string_view TNmea::Field(int i) const {
    if (i < 0 || i >= fieldCount_) return {};
    return {body_ + fieldAt_[i], static_cast<size_t>(fieldAt_[i + 1] - fieldAt_[i] - 1)};
}

inline int32_t TNmea::Int(int i) const {
    const std::string_view f = Field(i);
    const size_t n = f.size();
    // Most fields are one to three plain digits, two the most common (satellite numbers,
    // elevations, C/N0): each length its own short way, well predicted in a steady stream.
    const auto digit = [&](size_t k) { return static_cast<int32_t>(f[k] - '0'); };
    if (n == 2 && IsDigit(f[0]) && IsDigit(f[1])) return digit(0) * 10 + digit(1);
    if (n == 3 && IsDigit(f[0]) && IsDigit(f[1]) && IsDigit(f[2])) return digit(0) * 100 + digit(1) * 10 + digit(2);
    if (n == 1 && IsDigit(f[0])) return digit(0);
    return ToIntSlow(f);
}

// Plain "ddd.ddd": up to five characters byte by byte, longer ones with up to eight digits each
// side word-wise (a line shorter than a word byte-wise); the same double as ToDecimal, which reads
// anything else.
double TNmea::Decimal(int i) const {
    static constexpr uint32_t Scale[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
    const std::string_view f = Field(i);
    if (f.empty()) return 0;
    const int n = static_cast<int>(f.size());
    const char* const p = f.data();
    if (n <= 5) {  // DOPs and speeds: a few digits, byte by byte
        uint32_t v = 0;
        int point = -1;
        bool plain = true;
        for (int k = 0; k < n; ++k) {
            const unsigned d = static_cast<unsigned>(static_cast<uint8_t>(p[k])) - '0';
            if (d < 10)
                v = v * 10 + d;
            else if (p[k] == '.' && point < 0)
                point = k;
            else
                plain = false;
        }
        if (plain) return point < 0 ? static_cast<double>(v) : static_cast<double>(v) / Pow10[n - point - 1];
        return ToDecimal(f);
    }
    uint64_t d;
    const int whole = lineEnd_ - body_ >= 7 ? LeadingDigits(Window(p, lineEnd_), n, d) : 0;
    if (whole == 0 || whole == 8) return ToDecimal(f);
    uint64_t v = DigitsValue(d, whole);
    if (whole + 1 >= n || p[whole] != '.') return static_cast<double>(v);
    const int fraction = LeadingDigits(Window(p + whole + 1, lineEnd_), n - whole - 1, d);
    if (fraction == 8) return ToDecimal(f);
    if (fraction == 0) return static_cast<double>(v);
    v = v * Scale[fraction] + DigitsValue(d, fraction);
    return static_cast<double>(v) / Pow10[fraction];
}

namespace {

char First(std::string_view f) {
    return f.empty() ? '\0' : f[0];
}

}  // namespace

int TNmea::Dispatch() {
    if (counters_[kind_] < CounterCap) ++counters_[kind_];
    int r = 0;
    switch (kind_) {
        case KindGga: r = HandleGga(); break;
        case KindGll: r = HandleGll(); break;
        case KindGsa: r = HandleGsa(); break;
        case KindGsv: r = HandleGsv(); break;
        case KindRmc: r = HandleRmc(); break;
        case KindVtg: r = HandleVtg(); break;
        case KindZda: r = HandleZda(); break;
        case KindPqln: r = HandlePqln(); break;
        default: break;
    }
    previousKind_ = kind_;
    if (r != 0) nav_.Updated = 1;
    return r;
}

void TNmea::TakeTime(std::string_view t) {
    int32_t hour, minute, second;
    if (!ReadTime(t, hour, minute, second)) return;  // a time that does not read leaves the last
    nav_.Hour = hour;
    nav_.Minute = minute;
    nav_.Second = second;
}

void TNmea::TakePosition(int field) {
    nav_.Latitude = static_cast<float>(Decimal(field));
    nav_.LatitudeHemisphere = First(Field(field + 1));
    nav_.Longitude = static_cast<float>(Decimal(field + 2));
    nav_.LongitudeHemisphere = First(Field(field + 3));
}

namespace {

// GLL and RMC: status 'A', and a mode indicator (NMEA 2.3 on) other than 'N', no fix.
bool Valid(char status, char mode) {
    return status == 'A' && mode != 'N';
}

}  // namespace

// The fix a GLL or RMC states: none, or, when nothing richer (GGA, GSA) has given one, a 3D fix,
// differential when the mode says so.
void TNmea::TakeValidity(std::string_view status, std::string_view mode) {
    const char m = First(mode);
    if (!Valid(First(status), m)) {
        nav_.FixQuality = QualityNoFix;
        nav_.FixMode = ModeNoFix;
        return;
    }
    if (nav_.FixMode != ModeNoFix && nav_.FixQuality != QualityNoFix) return;
    const bool differential = m == 'D' || m == 'R' || m == 'F' || m == 'P';
    nav_.FixQuality = differential ? QualityDifferential : QualityGps;
    nav_.FixMode = differential ? Mode3DPlus : Mode3D;
}

int TNmea::HandleGga() {
    if (fieldCount_ != 14) return 0;
    TakeTime(Field(0));
    TakePosition(1);
    const int32_t quality = Int(5);
    switch (quality) {
        case GgaInvalid:
            nav_.FixQuality = QualityNoFix;
            nav_.FixMode = ModeNoFix;
            break;
        case GgaGps:
        case GgaPps:
        case GgaDeadReckoning:
        case GgaSimulation:
            nav_.FixQuality = QualityGps;
            nav_.FixMode = Mode3D;
            break;
        case GgaDifferential:
        case GgaRtk:
        case GgaFloat:
            nav_.FixQuality = QualityDifferential;
            nav_.FixMode = Mode3DPlus;
            break;
        default:
            break;  // manual input and unknown qualities leave the fix
    }
    if (quality >= 0 && quality <= 9) sky_.Quality = static_cast<int8_t>(quality);
    nav_.Altitude = static_cast<int16_t>(Int(8));
    return 1;
}

int TNmea::HandleGll() {
    // NMEA 2.3 added the mode indicator.
    if (fieldCount_ != 6 && fieldCount_ != 7) return 0;
    if (Valid(First(Field(5)), First(Field(6)))) {
        TakePosition(0);
        TakeTime(Field(4));
    }
    TakeValidity(Field(5), Field(6));
    return 1;
}

int TNmea::HandleRmc() {
    // 11 fields; NMEA 2.3 adds the mode indicator, 4.10 the navigational status.
    if (fieldCount_ < 11 || fieldCount_ > 14) return 0;
    const std::string_view mode = Field(fieldCount_ >= 12 ? 11 : -1);
    if (Valid(First(Field(1)), First(mode))) {
        TakeTime(Field(0));
        TakePosition(2);
    }
    TakeValidity(Field(1), mode);

    // Only a complete date is taken: a partial one would leave the year without its century.
    const std::string_view date = Field(8);
    if (date.size() == 6) {
        const int day = TwoDigits(&date[0]), month = TwoDigits(&date[2]), year = TwoDigits(&date[4]);
        if (day >= 0 && month >= 0 && year >= 0) {
            nav_.Day = day;
            nav_.Month = month;
            nav_.Year = FullYear(year);
        }
    }
    nav_.Speed = static_cast<int16_t>(TruncateToInt(Decimal(6) * 1.852));
    nav_.Course = static_cast<int16_t>(Int(7));
    return 1;
}

int TNmea::HandleVtg() {
    // 8 fields; NMEA 2.3 adds the mode indicator.
    if (fieldCount_ != 8 && fieldCount_ != 9) return 0;
    nav_.Course = static_cast<int16_t>(Int(0));
    nav_.Speed = static_cast<int16_t>(TruncateToInt(Decimal(6)));
    return 1;
}

int TNmea::HandleZda() {
    // Time, day, month, four-digit year, the local zone; some receivers add two fields of their own.
    if (fieldCount_ < 6 || fieldCount_ > 8) return 0;
    TakeTime(Field(0));
    const int32_t day = Int(1), month = Int(2), year = Int(3);
    if (day >= 1 && day <= 31 && month >= 1 && month <= 12 && Field(3).size() == 4 && year >= 1980) {
        nav_.Day = day;
        nav_.Month = month;
        nav_.Year = year;
    }
    return 1;
}

int TNmea::HandleGsa() {
    if (Field(0).size() != 1 || Field(1).size() != 1) return 0;
    // The system whose satellites this GSA lists: NMEA 4.10's system ID, else the talker's.
    int system = talker_;
    const int32_t id = Int(17);
    if (id >= 1 && id <= 6) system = id - 1;
    int32_t numbers[12];
    int systems[12];  // each number's, -1 for none
    for (int i = 0; i < 12; ++i) {
        numbers[i] = Int(2 + i);
        systems[i] = SatelliteSystem(system, numbers[i]);
    }
    int cleared[4] = {system, -1, -1, -1};
    if (system == SystemGps) cleared[1] = SystemSbas;
    if (system == Mixed) {
        // A mixed GSA without ID is one of a run, one per system and fix (a system of more than
        // twelve continues in the next). The run starts afresh after another sentence, or when a
        // system it listed comes again after a GSA that was not full: a receiver that sends only
        // GSAs would otherwise add up its satellites fix after fix.
        unsigned listed = 0;
        int slots = 0;
        for (int i = 0; i < 12; ++i) {
            if (numbers[i] == 0) continue;
            listed |= 1u << (systems[i] < 0 ? GnssSystemCount : systems[i]);
            ++slots;
        }
        const bool continued = previousFull_ && (listed & ~previousListed_) == 0;
        const bool afresh = previousKind_ != KindGsa || ((listed & runSystems_) != 0 && !continued);
        runSystems_ = (afresh ? 0 : runSystems_) | listed;
        previousListed_ = listed;
        previousFull_ = slots == 12;
        cleared[0] = afresh ? SystemGps : -1;
        cleared[1] = afresh ? SystemSbas : -1;
        cleared[2] = afresh ? SystemGlonass : -1;
        if (afresh) usedCount_[GnssSystemCount] = 0;
    }
    for (int s : cleared) {
        if (s < 0 || s >= GnssSystemCount) continue;
        std::memset(usedSet_[s], 0, sizeof usedSet_[s]);
        usedCount_[s] = 0;
    }
    for (int i = 0; i < 12; ++i) {
        const int32_t n = numbers[i], s = systems[i];
        if (n == 0) continue;
        if (s < 0) {
            ++usedCount_[GnssSystemCount];
            continue;
        }
        ++usedCount_[s];
        if (n >= 1 && n <= 255) usedSet_[s][n >> 5] |= 1u << (n & 31);
    }
    MarkUsed();
    usedTotal_ = 0;
    for (int16_t c : usedCount_) usedTotal_ += c;

    nav_.Status = First(Field(0));
    nav_.FixMode = Int(1) - 1;
    if (nav_.FixQuality == QualityDifferential) nav_.FixMode = Mode3DPlus;
    nav_.Dop1 = static_cast<float>(Decimal(14));
    nav_.Dop2 = static_cast<float>(Decimal(15));
    nav_.Dop3 = static_cast<float>(Decimal(16));
    Recount();
    return 1;
}

bool TNmea::IsUsed(int system, int32_t n) const {
    return n >= 0 && n <= 255 && (usedSet_[system][n >> 5] >> (n & 31) & 1) != 0;
}

void TNmea::MarkUsed() {
    for (int i = 0; i < sky_.Count; ++i) {
        SkySatellite& e = sky_.Satellites[i];
        e.Used = IsUsed(e.System, e.Number) ? 1 : 0;
    }
}

// Satellites come in the order of the last cycle: the next one is usually the first unplaced.
inline SkySatellite* TNmea::SkyEntry(int system, int number) {
    SkySatellite* const next = sky_.Satellites + placed_;
    if (placed_ < sky_.Count && next->Number == number && next->System == system) {
        ++placed_;
        return next;
    }
    return PlaceInSky(system, number);
}

int TNmea::HandleGsv() {
    const int32_t total = Int(0);
    const int32_t number = Int(1);
    const int32_t inView = Int(2);
    // NMEA 4.10 ends the sentence with the signal ID after the satellite blocks.
    const bool hasSignal = fieldCount_ >= 4 && (fieldCount_ - 3) % 4 == 1;
    const int blockFields = fieldCount_ - (hasSignal ? 1 : 0);
    const std::string_view signalId = Field(hasSignal ? fieldCount_ - 1 : -1);
    const int signal = signalId.size() == 1 ? std::max(0, HexDigit(signalId[0])) : 0;
    // Up to four blocks of number, elevation, azimuth, C/N0; a field it did not carry reads 0.
    int32_t block[16] = {};
    for (int i = 0; i < 16 && 3 + i < blockFields; ++i) block[i] = Int(3 + i);

    if (talker_ == SystemGps && signal <= 1) {
        // GPS's own (of NMEA 4.10's signal groups, L1 C/A's): the record's table of satellites
        // 1..64 and its in-view list.
        if (number == 1) std::memset(staging_, 0, sizeof staging_);
        // The message number comes from the wire: k may be far outside the staging list.
        int64_t k = (static_cast<int64_t>(number) - 1) * 4;
        for (const int32_t* b = block; b < block + 16; b += 4) {
            const int32_t n = b[0];
            if (n >= 1 && n <= 64) {
                SatelliteEntry& e = nav_.Satellites[n - 1];
                e.Elevation = b[1];
                e.Azimuth = b[2];
                e.Cn0 = b[3];
                e.Used = IsUsed(n <= 32 ? SystemGps : SystemSbas, n) ? 1 : 0;
            }
            if (k >= 0 && k < 16) staging_[k] = n;
            ++k;
            if (k >= inView) break;
        }
        if (number == total) std::memcpy(nav_.InView, staging_, sizeof staging_);
    }
    // The counts change only when this group's count does, or when it was stale, or at a new cycle.
    bool recount = (signalsSeen_[talker_] >> signal & 1) == 0 || inView_[talker_][signal] != inView ||
                   inViewCycle_[talker_][signal] + 2 < cycle_;
    inView_[talker_][signal] = inView;
    inViewCycle_[talker_][signal] = cycle_;
    signalsSeen_[talker_] = static_cast<uint16_t>(signalsSeen_[talker_] | 1u << signal);
    if (total < number) {
        if (recount) {
            RecountTalker(talker_);
            Recount();
        }
        return 0;
    }

    // Every system's sky. A group that begins for a talker and signal already seen begins the
    // next report cycle.
    if (number == 1) {
        if (groupsInCycle_[talker_] >> signal & 1) {
            NewCycle();
            recount = true;
        }
        groupsInCycle_[talker_] = static_cast<uint16_t>(groupsInCycle_[talker_] | 1u << signal);
    }
    inViewCycle_[talker_][signal] = cycle_;
    for (const int32_t* b = block; b < block + 16 && b - block + 6 < blockFields; b += 4) {
        const int32_t n = b[0];
        const int system = SatelliteSystem(talker_, n);
        if (n <= 0 || n > 255 || system < 0) continue;
        SkySatellite* const e = SkyEntry(system, n);
        if (e == nullptr) continue;  // the sky is full
        SkySatellite u = *e;  // changed in a copy: stores to the entry would have every member read again
        u.Elevation = static_cast<int16_t>(std::clamp(b[1], -90, 90));
        u.Azimuth = static_cast<int16_t>(std::clamp(b[2], 0, 360));
        // Of the signals of one cycle, the strongest is shown.
        const int16_t cn0 = static_cast<int16_t>(std::clamp(b[3], 0, 99));
        if (u.Age != 0 || cn0 > u.Cn0) {
            u.Cn0 = cn0;
            u.Signal = static_cast<uint8_t>(signal);
        }
        u.Age = 0;
        u.Used = IsUsed(system, n) ? 1 : 0;
        *e = u;
    }
    if (recount) {
        RecountTalker(talker_);
        Recount();
    }
    return 1;
}

// The sky lists this cycle's satellites first, in report order, then those of the last cycle
// not reported again yet.
SkySatellite* TNmea::PlaceInSky(int system, int number) {
    SkySatellite* const sats = sky_.Satellites;
    for (int i = placed_; i < sky_.Count; ++i) {
        if (sats[i].System != system || sats[i].Number != number) continue;
        if (i != placed_) {
            const SkySatellite e = sats[i];
            std::memmove(sats + placed_ + 1, sats + placed_, sizeof e * static_cast<size_t>(i - placed_));
            sats[placed_] = e;
        }
        return &sats[placed_++];
    }
    for (int i = 0; i < placed_; ++i)  // reported again this cycle, for another signal
        if (sats[i].System == system && sats[i].Number == number) return &sats[i];
    if (sky_.Count == GnssSky::Capacity) return nullptr;
    if (placed_ != sky_.Count)
        std::memmove(sats + placed_ + 1, sats + placed_, sizeof *sats * static_cast<size_t>(sky_.Count - placed_));
    ++sky_.Count;
    SkySatellite& e = sats[placed_++];
    e = SkySatellite{};
    e.System = static_cast<uint8_t>(system);
    e.Number = static_cast<int16_t>(number);
    e.Age = 1;  // not reported in this cycle yet
    sky_.Systems = static_cast<uint8_t>(sky_.Systems | 1u << system);
    return &e;
}

// A satellite missing from two whole cycles drops out: one lost sentence does not blink it.
void TNmea::NewCycle() {
    ++cycle_;
    for (int t = 0; t < Talkers; ++t)
        if (signalsSeen_[t] != 0) RecountTalker(t);  // a talker never seen counts none already
    std::memset(groupsInCycle_, 0, sizeof groupsInCycle_);
    placed_ = 0;
    bool gone = false;
    for (int i = 0; i < sky_.Count; ++i) gone |= ++sky_.Satellites[i].Age >= 3;
    if (!gone) return;  // usually: the sky and its systems stay as they are
    int kept = 0;
    sky_.Systems = 0;
    for (int i = 0; i < sky_.Count; ++i) {
        const SkySatellite& e = sky_.Satellites[i];
        if (e.Age >= 3) continue;
        sky_.Systems = static_cast<uint8_t>(sky_.Systems | 1u << e.System);
        sky_.Satellites[kept++] = e;
    }
    sky_.Count = static_cast<int16_t>(kept);
}

// Satellites in view of a talker: the most any of its signals' groups announced in the last
// three cycles (as long as their satellites stay in the sky). Kept per talker: only a GSV's own
// talker changes, and every talker at a new cycle.
void TNmea::RecountTalker(int t) {
    bool any = false;
    int32_t most = 0;
    for (uint32_t left = signalsSeen_[t]; left != 0; left &= left - 1) {
        const int s = __builtin_ctz(left);
        if (inViewCycle_[t][s] + 2 < cycle_) continue;  // as long as its satellites stay in the sky
        if (!any || inView_[t][s] > most) most = inView_[t][s];
        any = true;
    }
    viewTotal_ += static_cast<int64_t>(most) - talkerView_[t];
    talkerView_[t] = most;
}

// Satellites in view: every talker's; in use: every system's last GSA.
void TNmea::Recount() {
    const int64_t view = viewTotal_;
    const int64_t used = usedTotal_;
    nav_.SatellitesInView = static_cast<int32_t>(std::clamp<int64_t>(view, INT32_MIN, INT32_MAX));
    nav_.SatellitesUsed = static_cast<int32_t>(used);
    sky_.InView = static_cast<int16_t>(std::clamp<int64_t>(view, 0, INT16_MAX));
    sky_.Used = static_cast<int16_t>(used);
}

int TNmea::HandlePqln() {
    if (fieldCount_ < 2) return 0;
    const std::string_view f0 = Field(0), f1 = Field(1), f2 = Field(2);
    const int a = f0.size() == 2 ? HexPair(f0[0], f0[1]) : -1;
    const int b = f1.size() == 2 ? HexPair(f1[0], f1[1]) : -1;
    if (a == 0x4D && b == 0x21) {
        if (f2 == "HELLO") return LoaderHello;
        if (f2 == "DATARQST") return LoaderDataRequest;
        return 0;
    }
    if (a == 0x4D && b == 0x20) {
        // Leading hexadecimal number, low 16 bits kept.
        const char* p = f2.data();
        const char* const end = p + f2.size();
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
        uint32_t v = 0;
        for (int d; p < end && (d = HexDigit(*p)) >= 0; ++p) v = (v << 4 | static_cast<uint32_t>(d)) & 0xFFFF;
        reportedCrc_ = static_cast<uint16_t>(v);
        return LoaderCrcReport;
    }
    if (a == 0x41 && b == 0x72) return LoadAck;
    if (a == 0x41 && b == 0x73) return EraseAck;
    if (a == 0x4E && b == 0x72) return LoadNack;
    return 0;
}

void TNmea::Reset() {
    lineLength_ = 0;
    afterCr_ = false;
    fieldCount_ = 0;
    kind_ = -1;
    previousKind_ = -1;
    std::memset(usedSet_, 0, sizeof usedSet_);
    std::memset(counters_, 0, sizeof counters_);
    std::memset(groupsInCycle_, 0, sizeof groupsInCycle_);
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
    // The sky starts empty: it may have been another receiver's.
    sky_ = GnssSky{};
    sky_.Quality = GgaNone;
    std::memset(usedCount_, 0, sizeof usedCount_);
    std::memset(inView_, 0, sizeof inView_);
    std::memset(inViewCycle_, 0, sizeof inViewCycle_);
    std::memset(signalsSeen_, 0, sizeof signalsSeen_);
    std::memset(talkerView_, 0, sizeof talkerView_);
    viewTotal_ = 0;
    usedTotal_ = 0;
    std::memset(groupsInCycle_, 0, sizeof groupsInCycle_);
    placed_ = 0;
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
