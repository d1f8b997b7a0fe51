#include "protocol/splitter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/frame.h"
#include "tests/support/sample_stream.h"

namespace vantora {
namespace {

using sample::BinaryFrame;
using sample::Sentence;

const std::string kGga = Sentence("GPGGA,123519.000,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,");
const std::string kBadGga = kGga.substr(0, kGga.size() - 3) + "0\r\n";
const std::string kClockOffset = BinaryFrame(0xF2, 0x82, {0x12, 0x34});

// Each item as a short word: s/f/g for sentence, frame, garbage; the result or the garbage
// length; the reason when rejected; "!" when abandoned.
class Recorder : public SplitterSink {
public:
    void ItemEnded(const SplitItem& item) override {
        std::string w = item.Type == TLexer::Garbage
                            ? "g" + std::to_string(item.Size)
                            : (item.Type == TLexer::Frame ? "f" : "s") + std::to_string(item.Result);
        if (item.Rejected) w += std::string(":") + item.Rejected;
        if (item.Abandoned) w += "!";
        words += (words.empty() ? "" : " ") + w;
        if (item.Type != TLexer::Garbage) lines.emplace_back(item.Line);
        if (item.Result == 1) ++taken;
    }
    std::string words;
    std::vector<std::string> lines;
    int taken = 0;
};

struct SplitterRig {
    ManualClock clock;
    NullReplyDisplay display;
    ReceiverTables tables{};
    TNmea nmea;
    TBinary binary{display, tables};
    Recorder sink;
    TStreamSplitter splitter{nmea, binary, clock, sink};

    void Feed(const std::string& s) {
        splitter.Feed(reinterpret_cast<const uint8_t*>(s.data()), static_cast<int>(s.size()));
    }
    // The whole stream in the receive thread's reads, then its end.
    void FeedAll(const std::string& s) {
        for (size_t at = 0; at < s.size(); at += 2048) Feed(s.substr(at, 2048));
        splitter.Finish();
    }
};

TEST(Splitter, EveryItemIsReportedOnceWithWhyItWasRejected) {
    const std::string dollarThenLong = "$" + std::string(300, 'A') + kGga;
    struct Case {
        std::string stream, words;
    } cases[] = {
        {kGga + kClockOffset + kGga, "s1 f1 s1"},
        {BinaryFrame(0xF2, 0x82, {0x25, 0x25}) + BinaryFrame(0xF2, 0x82, {0x0D, 0x0A}),
         "f1 f1"},              // by length
        {"%" + kGga, "g1 s1"},  // a stray leader costs itself only
        {"$" + kClockOffset + "%" + kClockOffset, "s0:cut f1 g1 f1"},
        {kBadGga + kGga + kBadGga + kGga + kBadGga, "s0:checksum s1 s0:checksum s1 s0:checksum"},
        {Sentence("GPXYZ,1") + Sentence("GPGGA,1,2") + Sentence("GPGGA,,,,,,,,,,,,,,,,") + kGga,
         "s0:kind s0:fields s0:fields s1"},
        {std::string(300, 'x') + kGga + std::string("\0\0", 2) + kGga,
         "g300 s1 g2 s1"},  // junk and NUL bytes
        {kGga.substr(0, 20) + std::string(1, '\0') + kGga, "s0:cut g1 s1"},
        {dollarThenLong, "s0:length g46 s1"},
        {kClockOffset.substr(0, 5) + kGga + kClockOffset, "g5 s1 f1"},  // a cut frame: its tail framed again
        {kClockOffset.substr(0, 6) + "x" + kGga, "g7 s1"},
        {BinaryFrame(0xF2, 0x82, {0x12, 0x35}).substr(0, 6) + "\x27\r\n", "f0:checksum"},
        {"%%\xF2\x01" + kGga, "g4 s1"},   // an unknown frame kind
        {kGga.substr(0, 30), "s0:cut!"},  // open at the end of the stream
    };
    for (const auto& c : cases) {
        SplitterRig rig;
        rig.FeedAll(c.stream);
        EXPECT_EQ(rig.sink.words, c.words) << c.stream;
        // The error count is the rejected items, once each.
        EXPECT_EQ(rig.splitter.ErrorCount(), std::count(c.words.begin(), c.words.end(), ':')) << c.stream;
    }
}

TEST(Splitter, ItemsSplitAcrossReadsAtEveryPointGiveTheSameLines) {
    // A frame's line stops at its first zero byte.
    const std::string stream = kGga + BinaryFrame(0xF2, 0x82, {0x00, 0x34}) + "%" + kBadGga + kGga;
    for (size_t cut = 1; cut < stream.size(); ++cut) {
        SplitterRig rig;
        rig.Feed(stream.substr(0, cut));
        rig.Feed(stream.substr(cut));
        EXPECT_EQ(rig.sink.words, "s1 f1 g1 s0:checksum s1") << "cut at " << cut;
        ASSERT_EQ(rig.sink.lines.size(), 4u);
        EXPECT_EQ(rig.sink.lines[1], "%%\xF2\x82") << "cut at " << cut;
        EXPECT_EQ(rig.sink.lines[3], kGga.substr(0, kGga.size() - 2)) << "cut at " << cut;
    }
}

TEST(Splitter, UnfinishedItemIsAbandonedAfterItsDeadline) {
    for (const std::string& start : {std::string("$GPGGA,1235"), kClockOffset.substr(0, 5)}) {
        SplitterRig rig;
        rig.Feed(start);
        rig.clock.AdvanceSeconds(2);
        rig.Feed("9");  // still within the deadline
        EXPECT_TRUE(rig.sink.words.empty());
        rig.clock.AdvanceSeconds(1);
        rig.Feed(kGga);
        EXPECT_EQ(rig.sink.words, (start[0] == '$' ? "s0:cut! s1" : "f0:cut! g5 s1")) << start;
        EXPECT_EQ(rig.sink.lines[0], start + "9");
    }
}

// A stray '%' or '$' anywhere in a recorded log costs at most the item it lands in.
TEST(Splitter, StrayLeaderAtEveryPositionOfARecordedLogLosesOneItemAtMost) {
    for (const char* name : {"sim-binary", "sim-replies"}) {
        std::ifstream file(std::string(VANTORA_SOURCE_DIR "/tests/logs/") + name + ".log", std::ios::binary);
        std::stringstream all;
        all << file.rdbuf();
        std::string log = all.str();
        log = log.substr(log.find('\n') + 1, 4000);  // after the "#" header; the first seconds do
        SplitterRig clean;
        clean.FeedAll(log);
        ASSERT_GT(clean.sink.taken, 20) << name;
        for (size_t at = 0; at <= log.size(); ++at) {
            for (char stray : {'%', '$'}) {
                SplitterRig rig;
                rig.FeedAll(log.substr(0, at) + stray + log.substr(at));
                ASSERT_GE(rig.sink.taken, clean.sink.taken - 1) << name << " '" << stray << "' at " << at;
            }
        }
    }
}

}  // namespace
}  // namespace vantora
