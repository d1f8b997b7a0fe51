#include "protocol/splitter.h"

#include <cstring>

namespace vantora {

TStreamSplitter::TStreamSplitter(TNmea& nmea, TBinary& binary, const Clock& clock, SplitterSink& sink)
    : nmea_(nmea), binary_(binary), clock_(clock), sink_(sink) {}

void TStreamSplitter::Feed(const uint8_t* data, int n) {
    TLexer::Item item;
    if (lexer_.ItemOpen() && clock_.NowSeconds() >= deadline_ && lexer_.Abandon(item)) Emit(item);
    Drain(data, n);
    if (lexer_.ItemOpen() && lexer_.ItemsOpened() != timedItem_) {
        timedItem_ = lexer_.ItemsOpened();
        deadline_ = clock_.NowSeconds() + AbandonSeconds;
    }
}

void TStreamSplitter::Finish() {
    TLexer::Item item;
    do Drain(nullptr, 0);
    while (lexer_.Abandon(item) && (Emit(item), true));
}

void TStreamSplitter::Drain(const uint8_t* data, int n) {
    TLexer::Item item;
    bool ended = true;
    while (ended) {
        const int used = lexer_.Next(data, n, item, ended);
        if (data) data += used;
        n -= used;
        if (ended) Emit(item);
    }
}

void TStreamSplitter::Emit(const TLexer::Item& item) {
    SplitItem out{item.Kind, item.Ending == TLexer::Abandoned, 0, nullptr, -1, item.Size, {}, {}};
    if (item.Kind == TLexer::Garbage) {
        sink_.ItemEnded(out);
        return;
    }
    const bool whole = item.Ending == TLexer::Whole;
    if (item.Kind == TLexer::Sentence) {
        // A cut sentence is still read for its address: it names the kind that was lost.
        out.Result = nmea_.Decode(item.Data, item.Size);
        out.Kind = nmea_.LastKind();
        if (whole && out.Result == 0) out.Rejected = RejectionName(nmea_.LastRejection());
    } else if (whole) {
        out.Result = binary_.DecodeFrame(item.Data, item.Size) ? 1 : 0;
        if (out.Result == 0) out.Rejected = "checksum";
    }
    if (!whole) {
        out.Result = 0;
        out.Rejected = item.Ending == TLexer::Overlong ? "length" : "cut";
    }
    if (out.Rejected) ++errors_;

    int raw = item.Size;
    if (raw >= 2 && item.Data[raw - 2] == 0x0D && item.Data[raw - 1] == 0x0A) {
        raw -= 2;
    } else if (item.Kind == TLexer::Sentence && raw >= 1 && item.Data[raw - 1] == 0x0A) {
        raw -= 1;  // a sentence may end in LF alone
    }
    // The memo shows the line up to its first zero byte, which only a frame can hold.
    const void* zero =
        item.Kind == TLexer::Frame ? std::memchr(item.Data, 0, static_cast<size_t>(raw)) : nullptr;
    const int len = zero ? static_cast<int>(static_cast<const uint8_t*>(zero) - item.Data) : raw;
    const char* text = reinterpret_cast<const char*>(item.Data);
    out.Line = std::string_view(text, static_cast<size_t>(len));
    out.Raw = std::string_view(text, static_cast<size_t>(raw));
    sink_.ItemEnded(out);
}

}  // namespace vantora
