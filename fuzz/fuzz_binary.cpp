// Arbitrary bytes through the lexer, in chunks whose sizes come from the data as a read's would,
// and every frame it cuts through the binary decoders.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz/check.h"
#include "protocol/binary.h"
#include "protocol/lexer.h"

using vantora::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static vantora::NullReplyDisplay display;
    static vantora::ReceiverTables tables;
    // A fresh lexer and decoder per input keeps runs reproducible; the tables only collect.
    vantora::TBinary binary(display, tables);
    vantora::TLexer lexer;

    size_t at = 0;
    for (size_t step = 0; at < size; ++step) {
        // Chunk sizes 1..256 taken from the bytes themselves, so the fuzzer controls the splits.
        const size_t chunk = std::min<size_t>(size - at, 1 + ((data[step % size] * 31u + step) & 0xFF));
        const uint8_t* p = data + at;
        int left = static_cast<int>(chunk);
        for (bool ended = true; ended;) {
            vantora::TLexer::Item item;
            const int used = lexer.Next(p, left, item, ended);
            Check(used >= 0 && used <= left && (ended || used == left));
            p += used;
            left -= used;
            if (!ended || item.Kind != vantora::TLexer::Frame) continue;
            Check(item.Size >= 7 && item.Data[item.Size - 1] == 0x0A && item.Data[item.Size - 2] == 0x0D);
            binary.DecodeFrame(item.Data, item.Size);
        }
        at += chunk;
    }

    const vantora::NavRecord& r = binary.Record();
    for (int v : r.InView) Check(v >= 0 && v <= 63);
    return 0;
}
