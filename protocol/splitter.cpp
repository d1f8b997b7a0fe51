#include "protocol/splitter.h"

#include <cstring>

namespace vantora {

int FindMarker(const uint8_t* bytes, int count) {
    for (int i = 0; i < count; ++i) {
        if (bytes[i] == '%') return 1;
        if (bytes[i] == '$') return 0;
    }
    return -1;
}

TStreamSplitter::TStreamSplitter(TNmea& nmea, TBinary& binary, const Clock& clock, SplitterSink& sink)
    : nmea_(nmea), binary_(binary), clock_(clock), sink_(sink) {}

void TStreamSplitter::Feed(const uint8_t* data, int n) {
    const uint8_t* p = data;
    int r = n;
    while (r > 0) {
        int c = 0;
        int ended = 0;
        bool binary = false;
        bool abandoned = false;
        switch (mode_) {
            case BinaryOpen:
                binary = true;
                c = binary_.Parse(p, r, ended);
                if (ended) {
                    mode_ = BinaryEnded;
                } else if (clock_.NowSeconds() >= deadline_) {
                    mode_ = BinaryEnded;
                    abandoned = true;
                }
                break;
            case NmeaOpen:
                c = nmea_.Parse(p, r, ended);
                if (ended) {
                    mode_ = NmeaEnded;
                } else if (clock_.NowSeconds() >= deadline_) {
                    mode_ = NmeaEnded;
                    abandoned = true;
                }
                break;
            default: {
                const int m = FindMarker(p, r);
                if (m < 0) return;  // no marker: the rest of this read is dropped
                binary = (m == 1);
                c = binary ? binary_.Parse(p, r, ended) : nmea_.Parse(p, r, ended);
                if (ended) {
                    mode_ = binary ? BinaryEnded : NmeaEnded;
                } else {
                    deadline_ = clock_.NowSeconds() + AbandonSeconds;
                    mode_ = binary ? BinaryOpen : NmeaOpen;
                }
            }
        }
        // A line that would not fit is dropped; the item itself is still parsed.
        if (lineLength_ + c < LineSize) {
            std::memcpy(line_ + lineLength_, p, c);
            lineLength_ += c;
        } else {
            lineLength_ = 0;
        }
        r -= c;
        p += c;
        if (mode_ == BinaryEnded || mode_ == NmeaEnded) {
            const int result = binary ? (ended && binary_.LastChecksumOk() ? 1 : 0) : ended;
            EmitLine(binary, abandoned, result);
        }
        if (c <= 0) return;  // a parser that consumed nothing would loop for ever
    }
}

void TStreamSplitter::EmitLine(bool binary, bool abandoned, int result) {
    const int raw = lineLength_ >= 2 ? lineLength_ - 2 : 0;
    int len = raw;
    // The memo shows the line up to its first zero byte.
    const void* zero = std::memchr(line_, 0, len);
    if (zero) len = static_cast<int>(static_cast<const uint8_t*>(zero) - line_);
    lineLength_ = 0;
    const char* text = reinterpret_cast<const char*>(line_);
    SplitItem item{binary, abandoned, result, std::string_view(text, static_cast<size_t>(len)),
                   std::string_view(text, static_cast<size_t>(raw))};
    sink_.ItemEnded(item);
}

}  // namespace vantora
