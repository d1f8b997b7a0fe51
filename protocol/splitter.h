// Splits the received byte stream into NMEA sentences and binary frames, feeds each to its
// parser, and hands every ended (or abandoned) item to a sink as one memo line.
#pragma once

#include <cstdint>
#include <string_view>

#include "protocol/binary.h"
#include "protocol/nmea.h"
#include "protocol/platform.h"

namespace vantora {

struct SplitItem {
    bool Binary;          // handed to TBinary (else to TNmea)
    bool Abandoned;       // not ended within the time limit
    int Result;           // NMEA: the parser's result; binary: 1 when the checksum matched
    std::string_view Line;  // the memo text: the bytes without the last two (CR LF), up to a zero byte
    std::string_view Raw;   // the same bytes, not cut at a zero byte
};

class SplitterSink {
public:
    virtual ~SplitterSink() = default;
    virtual void ItemEnded(const SplitItem& item) = 0;
};

// 1 at the first '%', 0 at the first '$', whichever comes first; -1 when neither occurs.
int FindMarker(const uint8_t* bytes, int count);

class TStreamSplitter {
public:
    static constexpr int LineSize = 256;
    static constexpr int AbandonSeconds = 3;

    enum Mode { Nothing = 0, BinaryEnded = 1, NmeaEnded = 2, BinaryOpen = 3, NmeaOpen = 4 };

    TStreamSplitter(TNmea& nmea, TBinary& binary, const Clock& clock, SplitterSink& sink);

    // Splits n bytes of one read.
    void Feed(const uint8_t* data, int n);
    int CurrentMode() const { return mode_; }

private:
    void EmitLine(bool binary, bool abandoned, int result);

    TNmea& nmea_;
    TBinary& binary_;
    const Clock& clock_;
    SplitterSink& sink_;
    int mode_ = Nothing;
    int64_t deadline_ = 0;
    uint8_t line_[LineSize] = {};
    int lineLength_ = 0;
};

}  // namespace vantora
