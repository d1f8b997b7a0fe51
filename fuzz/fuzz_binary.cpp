// Feeds arbitrary bytes to the binary frame parser in chunks whose sizes come from the data,
// the way the receive thread hands over whatever a read returned.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz/check.h"
#include "protocol/binary.h"

using vantora::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static vantora::NullReplyDisplay display;
    static vantora::ReceiverTables tables;
    // A fresh parser per input keeps runs reproducible; the tables only collect.
    vantora::TBinary binary(display, tables);

    int ended = 1;
    Check(binary.Parse(data, 0, ended) == 0 && ended == 0);
    Check(binary.Parse(data, -1, ended) == 0 && ended == 0);

    size_t at = 0;
    size_t step = 0;
    while (at < size) {
        // Chunk sizes 1..256 taken from the bytes themselves, so the fuzzer controls the splits.
        const size_t chunk = std::min<size_t>(size - at, 1 + ((data[step % size] * 31u + step) & 0xFF));
        ++step;
        size_t left = chunk;
        const uint8_t* p = data + at;
        while (left > 0) {
            const int used = binary.Parse(p, static_cast<int>(left), ended);
            Check(used >= 1 && static_cast<size_t>(used) <= left);
            if (ended == 1) {
                Check(p[used - 1] == 0x0A);
            } else {
                Check(ended == 0 && static_cast<size_t>(used) == left);
            }
            p += used;
            left -= static_cast<size_t>(used);
        }
        at += chunk;
    }

    const vantora::NavRecord& r = binary.Record();
    for (int v : r.InView) Check(v >= 0 && v <= 63);
    return 0;
}
