// The stream splitter with both parsers behind it, fed in chunk sizes the input chooses,
// with a clock that the input moves so that items are abandoned too.
#include <cstddef>
#include <cstdint>

#include "protocol/splitter.h"

namespace {

class CheckingSink : public vantora::SplitterSink {
public:
    void ItemEnded(const vantora::SplitItem& item) override {
        if (item.Line.size() > item.Raw.size() || item.Raw.size() >= vantora::TStreamSplitter::LineSize)
            __builtin_trap();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vantora::ManualClock clock;
    vantora::NullReplyDisplay display;
    static vantora::ReceiverTables tables;
    vantora::TNmea nmea;
    vantora::TBinary binary(display, tables);
    CheckingSink sink;
    vantora::TStreamSplitter splitter(nmea, binary, clock, sink);
    size_t i = 0;
    while (i < size) {
        // One control byte: low 6 bits choose the chunk length, the top bits move the clock.
        const uint8_t control = data[i++];
        const size_t chunk = (control & 0x3F) + 1;
        clock.AdvanceSeconds(control >> 6);
        const size_t n = chunk < size - i ? chunk : size - i;
        splitter.Feed(data + i, static_cast<int>(n));
        i += n;
    }
    return 0;
}
