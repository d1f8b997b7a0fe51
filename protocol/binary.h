// Binary frame decoders and the holder of the decoded reports.
#pragma once

#include <cstdint>

#include "protocol/frame.h"
#include "protocol/nav_record.h"
#include "protocol/reply_display.h"

namespace vantora {

struct MessageKind {
    uint8_t Id1;
    uint8_t Id2;
    int32_t Length;  // identifier bytes + payload; 0 ends the table
};

// The messages the host accepts, in search order; the index is the decoder's number.
extern const MessageKind BinaryMessageTable[20];

enum BinaryMessageIndex {
    MsgRevision = 0,
    MsgBuiltInTest,
    MsgClockOffset,
    MsgEphemeris,
    MsgAlmanac,
    MsgModuleId,
    MsgNavD0,
    MsgNavD1,
    MsgNavD2,
    MsgNavD3,
    MsgNavD4,
    MsgTraceData,
    MsgTraceStatusShort,
    MsgTraceStatusLong,
    MsgNavSetting,
    MsgSystemSetting,
    MsgNotice50,
    MsgAck,
    MsgNak,
};

struct TraceStatus {
    int32_t State;  // 0 stopped, 1 recording, 2 reading
    int32_t UsedPercent;
    int32_t Logged;  // number of records logged
    int32_t ReadPosition;
};

struct RevisionReport {
    char Label[12];
    uint32_t Date;  // 0 = no report
    uint32_t Time;
    uint16_t Crc;
};

// Ephemerides, almanacs and module IDs: read by the displays and the save actions.
struct ReceiverTables {
    uint8_t EphemerisTable[32][120];
    uint8_t EphemerisCount;
    uint32_t EphemerisMask;  // bit n-1: satellite n arrived since the last request
    uint8_t AlmanacTable[32][48];
    uint8_t AlmanacCount;
    uint32_t AlmanacMask;
    int32_t ModuleIds[2];  // 0 production ID, 1 user key ID
};

class TBinary {
  public:
    static constexpr int BufferSize = 515;

    // owner receives the display requests; tables receives ephemerides, almanacs, IDs.
    TBinary(ReplyDisplay& owner, ReceiverTables& tables);

    void Dispatch(int index, const uint8_t* message, int length);

    // Outcome of the last frame that ended: whether its checksum matched, and its identifiers.
    bool LastChecksumOk() const { return lastChecksumOk_; }
    uint8_t LastId1() const { return lastIds_[0]; }
    uint8_t LastId2() const { return lastIds_[1]; }

    NavRecord& Record() { return nav_; }
    const NavRecord& Record() const { return nav_; }
    ReceiverTables& Tables() { return tables_; }

    TraceStatus Trace{};
    uint16_t ClockOffset = 0;  // 0 = none
    RevisionReport Revision{};
    int32_t TestResults[4] = {0, 0, 0, 0};  // -1 = none

    // Requests made by Send before the reply arrives.
    void ClearRevision() { Revision = RevisionReport{}; }
    void ClearClockOffset() { ClockOffset = 0; }
    void ClearTestResults() {
        for (auto& r : TestResults) r = -1;
    }

    // Index of the accepted message with these identifiers, -1 for none.
    static int Lookup(uint8_t id1, uint8_t id2);
    // Decodes one whole frame as the lexer cut it ("%%" to CR LF); true when its checksum matched.
    bool DecodeFrame(const uint8_t* frame, int size);

  private:
    void DecodeRevision(const uint8_t* p);
    void DecodeBuiltInTest(const uint8_t* p);
    void DecodeEphemeris(const uint8_t* p);
    void DecodeAlmanac(const uint8_t* p);
    void DecodeModuleId(const uint8_t* p);
    void DecodeNavD0(const uint8_t* p);
    void DecodeNavD1(const uint8_t* p);
    void DecodeNavD2(const uint8_t* p);
    void DecodeNavD3(const uint8_t* p);
    void DecodeNavD4(const uint8_t* p);
    void DecodeTraceStatus(const uint8_t* p, bool longForm);

    ReplyDisplay& owner_;
    ReceiverTables& tables_;
    int expected_ = 0;
    uint8_t lastIds_[2] = {};
    int matched_ = -1;
    bool lastChecksumOk_ = false;
    NavRecord nav_{};
};

}  // namespace vantora
