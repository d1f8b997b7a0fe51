// Lexer and parser throughput over a realistic stream. Run: build/bench/vantora-bench
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "protocol/binary.h"
#include "protocol/lexer.h"
#include "protocol/nmea.h"
#include "protocol/splitter.h"
#include "tests/support/sample_stream.h"

namespace {

const vantora::sample::Stream& Sample() {
    static const vantora::sample::Stream s = vantora::sample::Make(600);
    return s;
}

// Lexes the stream in the receive thread's 2048-byte reads and hands each whole item to decode.
template <typename Decode>
void LexAll(vantora::TLexer& lexer, const std::string& bytes, Decode decode) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const int total = static_cast<int>(bytes.size());
    for (int off = 0; off < total; off += 2048) {
        int r = std::min(2048, total - off);
        const uint8_t* q = p + off;
        for (bool ended = true; ended;) {
            vantora::TLexer::Item item;
            const int c = lexer.Next(q, r, item, ended);
            q += c;
            r -= c;
            if (ended) decode(item);
        }
    }
}

void BM_NmeaParse(benchmark::State& state) {
    const auto& s = Sample();
    vantora::TLexer lexer;
    vantora::TNmea nmea;
    for (auto _ : state) {
        LexAll(lexer, s.nmea, [&](const vantora::TLexer::Item& item) {
            if (item.Kind == vantora::TLexer::Sentence) nmea.Decode(item.Data, item.Size);
        });
        benchmark::DoNotOptimize(nmea.Record());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(s.nmea.size()));
    state.SetItemsProcessed(state.iterations() * s.sentences);
}
BENCHMARK(BM_NmeaParse)->Unit(benchmark::kMillisecond);

// The parser alone: the same sentences, cut by the lexer once before the timing.
void BM_NmeaDecode(benchmark::State& state) {
    const auto& s = Sample();
    std::vector<std::string> sentences;
    vantora::TLexer lexer;
    LexAll(lexer, s.nmea, [&](const vantora::TLexer::Item& item) {
        if (item.Kind == vantora::TLexer::Sentence)
            sentences.emplace_back(reinterpret_cast<const char*>(item.Data), item.Size);
    });
    vantora::TNmea nmea;
    for (auto _ : state) {
        for (const std::string& one : sentences)
            nmea.Decode(reinterpret_cast<const uint8_t*>(one.data()), static_cast<int>(one.size()));
        benchmark::DoNotOptimize(nmea.Record());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(s.nmea.size()));
    state.SetItemsProcessed(state.iterations() * s.sentences);
}
BENCHMARK(BM_NmeaDecode)->Unit(benchmark::kMillisecond);

// The lexer alone over the same bytes.
void BM_NmeaLex(benchmark::State& state) {
    const auto& s = Sample();
    vantora::TLexer lexer;
    for (auto _ : state) {
        int items = 0;
        LexAll(lexer, s.nmea, [&](const vantora::TLexer::Item&) { ++items; });
        benchmark::DoNotOptimize(items);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(s.nmea.size()));
}
BENCHMARK(BM_NmeaLex)->Unit(benchmark::kMillisecond);

int HexValue(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The yardstick for BM_NmeaParse: the least any reader does, checking each sentence's checksum
// over the same bytes with a plain byte loop.
void BM_NmeaChecksumOnly(benchmark::State& state) {
    const auto& s = Sample();
    const auto* begin = reinterpret_cast<const uint8_t*>(s.nmea.data());
    const uint8_t* const end = begin + s.nmea.size();
    for (auto _ : state) {
        int good = 0;
        for (const uint8_t* p = begin; p < end;) {
            if (*p++ != '$') continue;
            uint8_t x = 0;
            while (p < end && *p != '*') x ^= *p++;
            if (end - p >= 3 && HexValue(p[1]) * 16 + HexValue(p[2]) == x) ++good;
        }
        benchmark::DoNotOptimize(good);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(s.nmea.size()));
    state.SetItemsProcessed(state.iterations() * s.sentences);
}
BENCHMARK(BM_NmeaChecksumOnly)->Unit(benchmark::kMillisecond);

void BM_BinaryParse(benchmark::State& state) {
    const auto& s = Sample();
    vantora::NullReplyDisplay display;
    static vantora::ReceiverTables tables;
    vantora::TLexer lexer;
    vantora::TBinary binary(display, tables);
    for (auto _ : state) {
        LexAll(lexer, s.binary, [&](const vantora::TLexer::Item& item) {
            if (item.Kind == vantora::TLexer::Frame) binary.DecodeFrame(item.Data, item.Size);
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
