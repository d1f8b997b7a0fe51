// Feeds arbitrary bytes to the NMEA parser in chunk sizes chosen by the input itself,
// the way the receive thread does: again from where Parse stopped, until all is taken.
#include <cstddef>
#include <cstdint>

#include "fuzz/check.h"
#include "protocol/nmea.h"

using vantora::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte says how many schedule bytes follow; each schedule byte gives one chunk
    // length (1..128) and, with its top bit, asks for a Reset or ClearFix before that chunk.
    if (size == 0) return 0;
    const size_t scheduleLength = data[0] % 16 + 1;
    if (size < 1 + scheduleLength) return 0;
    const uint8_t* schedule = data + 1;
    const uint8_t* bytes = data + 1 + scheduleLength;
    int left = static_cast<int>(size - 1 - scheduleLength);

    vantora::TNmea nmea;
    const int32_t config[10] = {0, 1, 1, 1, 1, 1, 1, 1, 0, 1};
    nmea.SetConfig(data[0] & 0x80 ? config : nullptr);

    for (size_t call = 0; left > 0; ++call) {
        const uint8_t s = schedule[call % scheduleLength];
        if (s & 0x80) {
            if (call % 2 == 0)
                nmea.Reset();
            else
                nmea.ClearFix();
        }
        const int chunk = (s & 0x7F) + 1 < left ? (s & 0x7F) + 1 : left;
        int result = -1;
        const int consumed = nmea.Parse(bytes, chunk, result);
        Check(consumed >= 1 && consumed <= chunk);
        Check(result == 0 ? consumed == chunk : true);
        Check(result == 0 || result == vantora::SentenceAccepted ||
              (result >= vantora::LoaderHello && result <= vantora::EraseAck));
        if (result != 0) Check(nmea.Record().Updated == 1);
        bytes += consumed;
        left -= consumed;
    }

    Check(nmea.ErrorCount() >= 0);
    for (int k = 0; k < vantora::SentenceKindCount; ++k)
        Check(nmea.SentenceCount(k) >= 0 && nmea.SentenceCount(k) <= vantora::TNmea::CounterCap);
    int result = -1;
    Check(nmea.Parse(nullptr, 0, result) == 0 && result == 0);
    return 0;
}
