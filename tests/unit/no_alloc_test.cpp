// The parsers run on the receive thread for hours: they must not touch the heap while parsing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "protocol/binary.h"
#include "protocol/nmea.h"
#include "protocol/splitter.h"
#include "tests/support/sample_stream.h"

namespace {
std::atomic<long> g_allocations{0};
}

void* operator new(std::size_t n) {
    ++g_allocations;
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace vantora {
namespace {

TEST(NoAllocation, ParsersAndSplitterStayOffTheHeap) {
    const sample::Stream s = sample::Make(30);
    ManualClock clock;
    NullReplyDisplay display;
    auto tables = std::make_unique<ReceiverTables>();
    auto nmea = std::make_unique<TNmea>();
    auto binary = std::make_unique<TBinary>(display, *tables);
    sample::CountingSink sink;
    TStreamSplitter splitter(*nmea, *binary, clock, sink);
    const auto* p = reinterpret_cast<const uint8_t*>(s.mixed.data());
    const int total = static_cast<int>(s.mixed.size());

    const long before = g_allocations.load();
    for (int off = 0; off < total; off += 2048) splitter.Feed(p + off, std::min(2048, total - off));
    const long after = g_allocations.load();

    EXPECT_EQ(after - before, 0);
    EXPECT_EQ(sink.items, s.sentences + s.frames);
    EXPECT_EQ(splitter.ErrorCount(), 0);
}

}  // namespace
}  // namespace vantora
