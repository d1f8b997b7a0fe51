// The lexer and both parsers behind the splitter. The input is fed in chunk sizes it chooses,
// with a clock it moves so that items are abandoned too; and its first bytes change one byte of
// a clean stream, which may cost at most the one item holding that byte. Every frame taken is
// whole, and the binary decoders keep the satellites in view in range.
#include <cstddef>
#include <cstdint>

#include "fuzz/check.h"
#include "protocol/splitter.h"
#include "tests/support/sample_stream.h"

namespace {

using vantora::fuzz::Check;

class CheckingSink : public vantora::SplitterSink {
public:
    void ItemEnded(const vantora::SplitItem& item) override {
        Check(item.Line.size() <= item.Raw.size() && item.Raw.size() <= vantora::TLexer::MaxFrame);
        if (item.Type != vantora::TLexer::Garbage) Check(!item.Rejected == (item.Result != 0));
        if (item.Type == vantora::TLexer::Frame && item.Result != 0)
            Check(item.Size >= 7 && static_cast<int>(item.Raw.size()) == item.Size - 2);  // CR LF taken off
        if (item.Result != 0) ++taken;
    }
    int taken = 0;
};

struct Rig {
    vantora::ManualClock clock;
    vantora::NullReplyDisplay display;
    vantora::ReceiverTables tables{};
    vantora::TNmea nmea;
    vantora::TBinary binary{display, tables};
    CheckingSink sink;
    vantora::TStreamSplitter splitter{nmea, binary, clock, sink};
};

int Taken(const std::string& stream) {
    static Rig rig;  // the tables are large: one rig, its parsers' state carried over harmlessly
    rig.sink.taken = 0;
    rig.splitter.Feed(reinterpret_cast<const uint8_t*>(stream.data()), static_cast<int>(stream.size()));
    rig.splitter.Finish();
    return rig.sink.taken;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string clean = vantora::sample::Make(2).mixed;
    static const int cleanTaken = Taken(clean);
    if (size >= 3) {
        std::string changed = clean;
        changed[(data[0] | data[1] << 8) % changed.size()] = static_cast<char>(data[2]);
        Check(Taken(changed) >= cleanTaken - 1);
    }

    static Rig rig;
    size_t i = 0;
    while (i < size) {
        // One control byte: low 6 bits choose the chunk length, the top bits move the clock.
        const uint8_t control = data[i++];
        const size_t chunk = (control & 0x3F) + 1;
        rig.clock.AdvanceSeconds(control >> 6);
        const size_t n = chunk < size - i ? chunk : size - i;
        rig.splitter.Feed(data + i, static_cast<int>(n));
        i += n;
    }
    rig.splitter.Finish();
    for (int v : rig.binary.Record().InView) Check(v >= 0 && v <= 63);
    return 0;
}
