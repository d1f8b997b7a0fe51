// Cuts the received byte stream into items with the lexer, decodes each whole sentence and
// frame with its parser, and hands every item, accepted or not, to a sink.
#pragma once

#include <cstdint>
#include <string_view>

#include "protocol/binary.h"
#include "protocol/lexer.h"
#include "protocol/nmea.h"
#include "protocol/platform.h"

namespace vantora {

struct SplitItem {
    TLexer::Type Type;
    bool Abandoned;         // not ended within the time limit, or open at the end of the stream
    int Result;             // sentence: the parser's result; frame: 1 when its checksum matched
    const char* Rejected;   // why the item was not taken ("checksum", "cut", ...); nullptr when taken
    int Kind;               // sentence: the kind its address named, -1 for none
    int Size;               // the item's bytes (a garbage run's length)
    std::string_view Line;  // the memo text: the bytes without the line end, up to a zero byte
    std::string_view Raw;   // the same bytes, not cut at a zero byte
};

class SplitterSink {
public:
    virtual ~SplitterSink() = default;
    virtual void ItemEnded(const SplitItem& item) = 0;
};

class TStreamSplitter {
public:
    static constexpr int AbandonSeconds = 3;

    TStreamSplitter(TNmea& nmea, TBinary& binary, const Clock& clock, SplitterSink& sink);

    // Splits n bytes of one read. An item left open for AbandonSeconds is given up first.
    void Feed(const uint8_t* data, int n);
    // The end of the stream: what is still open is given up.
    void Finish();

    // Items rejected, once each: sentences and frames not taken, and items cut off.
    int ErrorCount() const { return errors_; }
    void ClearErrors() { errors_ = 0; }
    const TLexer& Lexer() const { return lexer_; }

private:
    void Drain(const uint8_t* data, int n);
    void Emit(const TLexer::Item& item);

    TNmea& nmea_;
    TBinary& binary_;
    const Clock& clock_;
    SplitterSink& sink_;
    TLexer lexer_;
    uint32_t timedItem_ = 0;
    int64_t deadline_ = 0;
    int errors_ = 0;
};

}  // namespace vantora
