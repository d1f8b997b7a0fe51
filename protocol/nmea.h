// NMEA 0183 sentence parser: fed raw bytes in chunks of any size, fills a NavRecord and
// recognises the receiver's proprietary PQLN notices that the firmware loader waits for.
#pragma once

#include <array>
#include <cstdint>

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
extern const char SentenceKeys[SentenceKindCount][5];

// Sentence mask word: bit i set when word i + 1 is non-zero, for i below SentenceKindCount.
int32_t EnabledKindMask(const NmeaConfig& config);

class TNmea {
public:
    static constexpr int TokenSize = 32;
    static constexpr int FieldSlots = 32;
    static constexpr int FieldSize = 32;  // 31 characters and the terminator
    static constexpr int CounterCap = 1024;
    static constexpr int MaxSentenceLength = 80;

    TNmea();

    // Feeds count bytes; returns the bytes consumed. result is 0 or a handler's non-zero
    // result; on a non-zero result the bytes after that sentence's LF are not consumed.
    int Parse(const uint8_t* bytes, int count, int& result);
    // Decodes one whole sentence as the lexer cut it ("$" to LF): the handler's result, 0 when
    // rejected (LastRejection says why). LastKind is the kind its address named, or -1.
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
    // Forgets the sentence under way (its tokens and fields), nothing else.
    void StartOver();
    enum State { Idle = 0, Address = 1, Fields = 4, Checksum = 5, EndOfLine = 6 };

    void OnDelimiter(int cls, int& result);
    void OnAddress();
    void CloseField();
    void Reject(Rejection why);
    int Dispatch();
    const char* Field(int i) const;  // "" for a field this sentence did not carry
    int HandleGga();
    int HandleGsa();
    int HandleGsv();
    int HandleRmc();
    int HandlePqln();

    NmeaConfig config_{};
    int tokenLength_ = 0;
    char token_[TokenSize] = {};
    bool tokenWrapped_ = false;  // the token restarted: it held more than TokenSize characters
    uint8_t tokenXor_ = 0;       // XOR of the token's characters
    int state_ = Idle;
    uint8_t checksum_ = 0;
    uint32_t usedLow_ = 0;
    uint32_t usedHigh_ = 0;
    char fields_[FieldSlots][FieldSize] = {};
    int8_t fieldCount_ = 0;
    int sentenceLength_ = 0;
    int kind_ = -1;
    int counters_[SentenceKindCount] = {};
    int errors_ = 0;
    int rejection_ = NotRejected;
    uint16_t reportedCrc_ = 0;
    int32_t staging_[16] = {};
    NavRecord nav_{};
    GnssSky sky_{};
};

}  // namespace vantora
