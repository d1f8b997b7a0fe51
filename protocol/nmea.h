// NMEA 0183 sentence parser: fed raw bytes in chunks of any size, fills a NavRecord and
// recognises the receiver's proprietary PQLN notices that the firmware loader waits for.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "protocol/gnss_sky.h"
#include "protocol/nav_record.h"

namespace vantora {

// Ten words: 0 sentence mask, 1..7 periods of GGA, GLL, GSA, GSV, RMC, VTG, ZDA,
// 8 spare, 9 whose low byte is the NMEA checksum flag.
using NmeaConfig = std::array<int32_t, 10>;

enum NmeaConfigWord {
    CfgMask = 0,
    CfgGga = 1,
    CfgGll,
    CfgGsa,
    CfgGsv,
    CfgRmc,
    CfgVtg,
    CfgZda,
    CfgSpare,
    CfgChecksum
};

// Handler results that Parse reports (besides 1, a standard sentence accepted).
enum NmeaNotice : int {
    SentenceAccepted = 1,
    LoaderHello = 0x101,
    LoaderDataRequest = 0x102,
    LoaderCrcReport = 0x103,
    LoadAck = 0x104,
    LoadNack = 0x105,
    EraseAck = 0x106,
};

// Why the parser rejected a sentence.
enum Rejection { NotRejected = 0, RejectChecksum, RejectFields, RejectKind, RejectLength, RejectFraming };
// "checksum", "fields", "kind", "length", "framing"; "" for NotRejected.
const char* RejectionName(int why);

enum SentenceKind {
    KindGga = 0,
    KindGll,
    KindGsa,
    KindGsv,
    KindRmc,
    KindVtg,
    KindZda,
    KindPqln,
    SentenceKindCount
};

// "PGGAPGLLPGSAPGSVPRMCPVTGPZDAPQLN": the four-character key of each kind.
inline constexpr char SentenceKeys[SentenceKindCount][5] = {"PGGA", "PGLL", "PGSA", "PGSV",
                                                            "PRMC", "PVTG", "PZDA", "PQLN"};

// Sentence mask word: bit i set when word i + 1 is non-zero, for i below SentenceKindCount.
int32_t EnabledKindMask(const NmeaConfig& config);

class TNmea {
public:
    static constexpr int FieldSlots = 32;
    static constexpr int FieldSize = 32;  // 31 characters and the terminator
    static constexpr int CounterCap = 1024;
    // The longest line taken, "$" through LF: NMEA's own 82, and room for the longer sentences
    // of high-precision receivers.
    static constexpr int MaxLine = 255;

    TNmea();

    // Feeds count bytes; returns the bytes consumed. result is 0 or a handler's non-zero
    // result; on a non-zero result the bytes after that sentence's LF are not consumed.
    int Parse(const uint8_t* bytes, int count, int& result);
    // Decodes one whole sentence as the lexer cut it ("$" through its LF, CR LF or LF alone): the
    // handler's result, 0 when rejected (LastRejection says why). LastKind is the kind its address
    // named, or -1. A sentence without its LF is read for its address only.
    int Decode(const uint8_t* sentence, int size);
    int LastRejection() const { return rejection_; }
    void Reset();
    void ClearFix();
    void SetConfig(const int32_t* words);
    const NmeaConfig& Config() const { return config_; }

    bool SentenceSeen() const;
    int SentenceCount(int kind) const { return counters_[kind]; }
    int ErrorCount() const { return errors_; }  // sentences rejected
    void ClearErrors() { errors_ = 0; }
    uint16_t ReportedCrc() const { return reportedCrc_; }
    // Kind of the sentence last addressed (-1 before any): lets tools name what ended.
    int LastKind() const { return kind_; }

    NavRecord& Record() { return nav_; }
    const NavRecord& Record() const { return nav_; }
    // Every constellation's satellites; updated with the record.
    const GnssSky& Sky() const { return sky_; }

private:
    // Talkers: each constellation's own (numbered as its system), and GN's for a mixed solution.
    static constexpr int Talkers = GnssSystemCount + 1;

    // The kind the address names (and its talker), or -1.
    int Address(const uint8_t* body, int length);
    int DecodeLine(const uint8_t* line, int size, bool ended);
    void Reject(Rejection why);
    int Dispatch();
    // A field as it lies in the sentence; empty for one this sentence did not carry.
    std::string_view Field(int i) const;
    // A field's leading number as atoi and atof read it; 0 for none.
    int32_t Int(int i) const;
    double Decimal(int i) const;
    int HandleGga();
    int HandleGll();
    int HandleGsa();
    int HandleGsv();
    int HandleRmc();
    int HandleVtg();
    int HandleZda();
    int HandlePqln();
    void TakeTime(std::string_view t);
    void TakePosition(int field);
    void TakeValidity(std::string_view status, std::string_view mode);
    bool IsUsed(int system, int32_t number) const;
    void MarkUsed();
    SkySatellite* SkyEntry(int system, int number);
    SkySatellite* PlaceInSky(int system, int number);  // SkyEntry's search and insertion
    void NewCycle();
    void RecountTalker(int talker);
    void Recount();

    NmeaConfig config_{};
    // Streaming: the line being gathered by Parse.
    uint8_t line_[MaxLine] = {};
    int lineLength_ = 0;
    bool afterCr_ = false;
    // The sentence being decoded: its talker and the start of each field after the address.
    int talker_ = 0;
    const char* body_ = nullptr;          // after the "$"
    const char* lineEnd_ = nullptr;       // past the sentence's last byte: numbers are read up to it
    // Where each field starts in the body; then its end + 1. Room for the places the comma scan
    // writes past the last.
    uint8_t fieldAt_[MaxLine + 8] = {};
    int fieldCount_ = 0;
    int kind_ = -1;
    int previousKind_ = -1;
    // Systems a run of mixed GSAs listed so far, and the last one's (bit 7: numbers of none).
    unsigned runSystems_ = 0;
    unsigned previousListed_ = 0;
    bool previousFull_ = false;  // the last mixed GSA filled all twelve places
    int counters_[SentenceKindCount] = {};
    int errors_ = 0;
    int rejection_ = NotRejected;
    uint16_t reportedCrc_ = 0;
    int32_t staging_[16] = {};
    // Satellites in use per system, numbers 0..255, from each system's last GSA; the record's
    // used masks are the GPS and SBAS part.
    uint32_t usedSet_[GnssSystemCount][8] = {};
    int16_t usedCount_[GnssSystemCount + 1] = {};  // the last for numbers of no known system
    // Satellites in view per talker and signal, as each's last GSV said, and the cycle of it.
    int32_t inView_[Talkers][16] = {};
    uint32_t inViewCycle_[Talkers][16] = {};
    uint16_t signalsSeen_[Talkers] = {};
    int32_t talkerView_[Talkers] = {};  // each talker's satellites in view, from the above
    int64_t viewTotal_ = 0;             // their sum
    int64_t usedTotal_ = 0;             // the sum of usedCount_
    uint16_t groupsInCycle_[Talkers] = {};  // signals whose GSV group began this cycle
    uint32_t cycle_ = 1;
    int placed_ = 0;  // sky entries reported in this cycle: the first ones
    NavRecord nav_{};
    GnssSky sky_{};
};

}  // namespace vantora
