// Parser throughput over a realistic stream. Run: build/bench/vantora-bench
#include <benchmark/benchmark.h>

#include "protocol/binary.h"
#include "protocol/nmea.h"
#include "protocol/splitter.h"
#include "tests/support/sample_stream.h"

namespace {

const vantora::sample::Stream& Sample() {
    static const vantora::sample::Stream s = vantora::sample::Make(600);
    return s;
}

// Feeds the stream in the receive thread's 2048-byte reads, as the parser sees it.
template <typename Parse>
void FeedAll(const std::string& bytes, Parse parse) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const int total = static_cast<int>(bytes.size());
    for (int off = 0; off < total; off += 2048) {
        int r = std::min(2048, total - off);
        const uint8_t* q = p + off;
        while (r > 0) {
            const int c = parse(q, r);
            q += c;
            r -= c;
        }
    }
}

void BM_NmeaParse(benchmark::State& state) {
    const auto& s = Sample();
    vantora::TNmea nmea;
    for (auto _ : state) {
        FeedAll(s.nmea, [&](const uint8_t* q, int r) {
            int result = 0;
            return nmea.Parse(q, r, result);
        });
        benchmark::DoNotOptimize(nmea.Record());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(s.nmea.size()));
    state.SetItemsProcessed(state.iterations() * s.sentences);
}
BENCHMARK(BM_NmeaParse)->Unit(benchmark::kMillisecond);

void BM_BinaryParse(benchmark::State& state) {
    const auto& s = Sample();
    vantora::NullReplyDisplay display;
    static vantora::ReceiverTables tables;
    vantora::TBinary binary(display, tables);
    for (auto _ : state) {
        FeedAll(s.binary, [&](const uint8_t* q, int r) {
            int ended = 0;
            return binary.Parse(q, r, ended);
        });
        benchmark::DoNotOptimize(binary.Record());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(s.binary.size()));
    state.SetItemsProcessed(state.iterations() * s.frames);
}
BENCHMARK(BM_BinaryParse)->Unit(benchmark::kMillisecond);

// The mixed stream through the splitter and both parsers, as the receive thread runs it.
void BM_SplitMixed(benchmark::State& state) {
    const auto& s = Sample();
    vantora::ManualClock clock;
    vantora::NullReplyDisplay display;
    static vantora::ReceiverTables tables;
    vantora::TNmea nmea;
    vantora::TBinary binary(display, tables);
    vantora::sample::CountingSink sink;
    vantora::TStreamSplitter splitter(nmea, binary, clock, sink);
    const auto* p = reinterpret_cast<const uint8_t*>(s.mixed.data());
    const int total = static_cast<int>(s.mixed.size());
    for (auto _ : state) {
        for (int off = 0; off < total; off += 2048) splitter.Feed(p + off, std::min(2048, total - off));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(total));
    state.SetItemsProcessed(sink.items);
}
BENCHMARK(BM_SplitMixed)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
