#include "protocol/splitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/frame.h"
#include "tests/support/sample_stream.h"

namespace vantora {
namespace {

using sample::BinaryFrame;
using sample::Sentence;

const std::string kGga = Sentence("GPGGA,123519.000,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,");
const std::string kClockOffset = BinaryFrame(0xF2, 0x82, {0x12, 0x34});

struct Line {
    bool binary;
    bool abandoned;
    int result;
    std::string text;
};

class Recorder : public SplitterSink {
public:
    void ItemEnded(const SplitItem& item) override {
        lines.push_back({item.Binary, item.Abandoned, item.Result, std::string(item.Line)});
    }
    std::vector<Line> lines;
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
};

TEST(FindMarker, FirstMarkerWins) {
    struct Case {
        std::string bytes;
        int expected;
    } cases[] = {
        {"", -1}, {"plain text", -1}, {"$GP", 0}, {"%%", 1}, {"ab$cd%", 0}, {"ab%cd$", 1}, {"\r\n%$", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(
            FindMarker(reinterpret_cast<const uint8_t*>(c.bytes.data()), static_cast<int>(c.bytes.size())),
            c.expected)
            << c.bytes;
    }
}

TEST(Splitter, EverySentenceAndFrameBecomesOneLine) {
    SplitterRig rig;
    rig.Feed(kGga + kClockOffset + kGga);
    ASSERT_EQ(rig.sink.lines.size(), 3u);
    EXPECT_FALSE(rig.sink.lines[0].binary);
    EXPECT_EQ(rig.sink.lines[0].text, kGga.substr(0, kGga.size() - 2));
    EXPECT_EQ(rig.sink.lines[0].result, 1);
    EXPECT_TRUE(rig.sink.lines[1].binary);
    EXPECT_EQ(rig.sink.lines[1].result, 1);
    EXPECT_EQ(rig.binary.ClockOffset, 0x3412);
    EXPECT_FALSE(rig.sink.lines[2].binary);
    EXPECT_EQ(rig.splitter.CurrentMode(), TStreamSplitter::NmeaEnded);
}

TEST(Splitter, ItemsSplitAcrossReadsAtEveryPointGiveTheSameLines) {
    const std::string stream = kGga + kClockOffset + kGga;
    for (size_t cut = 1; cut < stream.size(); ++cut) {
        SplitterRig rig;
        rig.Feed(stream.substr(0, cut));
        rig.Feed(stream.substr(cut));
        ASSERT_EQ(rig.sink.lines.size(), 3u) << "cut at " << cut;
        EXPECT_EQ(rig.sink.lines[1].binary, true) << "cut at " << cut;
        EXPECT_EQ(rig.sink.lines[2].text, kGga.substr(0, kGga.size() - 2)) << "cut at " << cut;
    }
}

TEST(Splitter, EndOfSentenceThenStartOfFrame) {
    SplitterRig rig;
    rig.Feed(kGga.substr(0, 20));
    rig.Feed(kGga.substr(20) + kClockOffset.substr(0, 4));
    ASSERT_EQ(rig.sink.lines.size(), 1u);
    EXPECT_EQ(rig.splitter.CurrentMode(), TStreamSplitter::BinaryOpen);
    rig.Feed(kClockOffset.substr(4));
    ASSERT_EQ(rig.sink.lines.size(), 2u);
    EXPECT_TRUE(rig.sink.lines[1].binary);
}

TEST(Splitter, TextWithoutMarkersIsDropped) {
    SplitterRig rig;
    rig.Feed("no markers at all\r\n");
    EXPECT_TRUE(rig.sink.lines.empty());
    EXPECT_EQ(rig.splitter.CurrentMode(), TStreamSplitter::Nothing);
}

TEST(Splitter, UnfinishedItemIsAbandonedAfterItsDeadline) {
    struct Case {
        std::string start;
        std::string later;
        bool binary;
    } cases[] = {
        {"$GPGGA,1235", "19", false},
        {kClockOffset.substr(0, 5), std::string(1, '\x34'), true},
    };
    for (const auto& c : cases) {
        SplitterRig rig;
        rig.Feed(c.start);
        rig.clock.AdvanceSeconds(2);
        rig.Feed(c.later.substr(0, 1));  // still within the deadline
        EXPECT_TRUE(rig.sink.lines.empty());
        rig.clock.AdvanceSeconds(1);
        rig.Feed(c.later.substr(1) + "x");
        ASSERT_EQ(rig.sink.lines.size(), 1u);
        const Line& line = rig.sink.lines[0];
        EXPECT_TRUE(line.abandoned);
        EXPECT_EQ(line.binary, c.binary);
        const std::string all = c.start + c.later + "x";
        EXPECT_EQ(line.text.size(), all.size() - 2);
    }
}

TEST(Splitter, OverlongLineIsDroppedButItemStillParsed) {
    SplitterRig rig;
    // The frame parser consumes 300 bytes of noise together with the frame that follows.
    rig.Feed("%" + std::string(300, 'x') + kClockOffset);
    ASSERT_EQ(rig.sink.lines.size(), 1u);
    EXPECT_EQ(rig.sink.lines[0].text, "");
    EXPECT_EQ(rig.binary.ClockOffset, 0x3412);
}

TEST(Splitter, LineStopsAtFirstZeroByte) {
    SplitterRig rig;
    rig.Feed(BinaryFrame(0xF2, 0x82, {0x00, 0x34}));
    ASSERT_EQ(rig.sink.lines.size(), 1u);
    EXPECT_EQ(rig.sink.lines[0].text, "%%\xF2\x82");
}

}  // namespace
}  // namespace vantora
