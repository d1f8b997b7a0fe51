#include "protocol/nmea.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/frame.h"

namespace vantora {
namespace {

// "$" body "*" checksum CR LF, the checksum computed over body.
std::string Sentence(const std::string& body) {
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n",
                  XorChecksum(reinterpret_cast<const uint8_t*>(body.data()), static_cast<int>(body.size())));
    return "$" + body + tail;
}

struct Fed {
    int consumed;
    int result;
};

Fed Feed(TNmea& nmea, const std::string& text) {
    int result = -1;
    const int consumed =
        nmea.Parse(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()), result);
    return {consumed, result};
}

// Feeds text the way the receive thread does: again from where Parse stopped, until all is taken.
std::vector<int> FeedAll(TNmea& nmea, const std::string& text) {
    std::vector<int> results;
    size_t at = 0;
    while (at < text.size()) {
        const Fed f = Feed(nmea, text.substr(at));
        if (f.result != 0) results.push_back(f.result);
        at += f.consumed;
    }
    return results;
}

NavRecord Snapshot(const TNmea& nmea) {
    NavRecord r;
    std::memcpy(&r, &nmea.Record(), sizeof r);
    return r;
}

bool SameRecord(const NavRecord& a, const NavRecord& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

const std::string GgaBody = "GPGGA,123519.000,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,";

// Body of a sentence with the given address, count fields and a counted length (as the length
// rule counts it, with checksum) of exactly length characters, the padding spread over the fields.
std::string BodyOfLength(const std::string& address, int fields, int length) {
    // "$", the address with its comma, each field with its comma, the checksum part.
    int extra = length - (1 + 6 + 2 * fields + 3);
    std::string body = address;
    for (int i = 0; i < fields; ++i) {
        const int pad = std::min(extra, 20);
        body += "," + std::string(1 + pad, 'X');
        extra -= pad;
    }
    return body;
}

// One byte per call, so that no delimiter sits far into a call's input.
int FeedBytewise(TNmea& nmea, const std::string& text) {
    int last = 0;
    for (char c : text) {
        const Fed f = Feed(nmea, std::string(1, c));
        if (f.result != 0) last = f.result;
    }
    return last;
}

TEST(NmeaGga, ExampleSentenceFillsRecordAndConsumesThroughLf) {
    TNmea nmea;
    const std::string gga = Sentence(GgaBody);
    const Fed f = Feed(nmea, gga + "$GPGLL,rest");
    EXPECT_EQ(f.result, SentenceAccepted);
    EXPECT_EQ(f.consumed, static_cast<int>(gga.size()));
    const NavRecord& r = nmea.Record();
    EXPECT_EQ(r.Hour, 12);
    EXPECT_EQ(r.Minute, 35);
    EXPECT_EQ(r.Second, 19);
    EXPECT_EQ(r.Latitude, static_cast<float>(4807.038));
    EXPECT_EQ(r.LatitudeHemisphere, 'N');
    EXPECT_EQ(r.Longitude, 1131.0f);
    EXPECT_EQ(r.LongitudeHemisphere, 'E');
    EXPECT_EQ(r.FixQuality, QualityGps);
    EXPECT_EQ(r.FixMode, Mode3D);
    EXPECT_EQ(r.Altitude, 545);
    EXPECT_EQ(r.Updated, 1);
    EXPECT_EQ(nmea.ErrorCount(), 0);
    EXPECT_EQ(nmea.SentenceCount(KindGga), 1);
    EXPECT_EQ(nmea.LastKind(), KindGga);
}

TEST(NmeaGga, MalformedVariants) {
    const std::string good = Sentence(GgaBody);
    std::string wrongSum = good;
    wrongSum[wrongSum.size() - 3] = wrongSum[wrongSum.size() - 3] == '0' ? '1' : '0';
    const std::string oneFewer = GgaBody.substr(0, GgaBody.size() - 1);  // drops the last empty field
    struct Case {
        const char* name;
        std::string text;
        int result;
        int errors;
        int ggaCount;
        bool changes;
    };
    const Case cases[] = {
        {"wrong checksum", wrongSum, 0, 1, 0, false},
        {"no checksum", "$" + GgaBody + "\r\n", SentenceAccepted, 0, 1, true},
        {"one field fewer", Sentence(oneFewer), 0, 0, 1, false},
        {"talker GN", Sentence("GN" + GgaBody.substr(2)), 0, 1, 0, false},
        {"checksum ended by LF", good.substr(0, good.size() - 2) + "\n", 0, 1, 0, false},
        {"checksum of three digits", good.substr(0, good.size() - 2) + "0\r\n", 0, 1, 0, false},
        {"CR without LF", good.substr(0, good.size() - 1) + ",", 0, 1, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TNmea nmea;
        const NavRecord before = Snapshot(nmea);
        const Fed f = Feed(nmea, c.text);
        EXPECT_EQ(f.result, c.result);
        EXPECT_EQ(nmea.ErrorCount(), c.errors);
        EXPECT_EQ(nmea.SentenceCount(KindGga), c.ggaCount);
        EXPECT_EQ(!SameRecord(before, nmea.Record()), c.changes);
    }
}

TEST(NmeaGga, LowerCaseChecksumDigits) {
    // Find a body whose checksum has a letter digit, then send it in lower case.
    for (int n = 0; n < 64; ++n) {
        const std::string body = "GPGLL," + std::to_string(n) + ",2,3,4,5,6";
        std::string s = Sentence(body);
        const std::string sum = s.substr(s.size() - 4, 2);
        if (sum.find_first_of("ABCDEF") == std::string::npos) continue;
        for (size_t i = s.size() - 4; i < s.size() - 2; ++i)
            s[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(s[i])));
        TNmea nmea;
        EXPECT_EQ(Feed(nmea, s).result, SentenceAccepted) << s;
        EXPECT_EQ(nmea.ErrorCount(), 0);
        return;
    }
    FAIL() << "no body with a letter in its checksum";
}

TEST(NmeaStream, SplitAtEveryBytePosition) {
    const std::string text = Sentence(GgaBody);
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        SCOPED_TRACE(cut);
        TNmea nmea;
        const Fed first = Feed(nmea, text.substr(0, cut));
        const Fed second = Feed(nmea, text.substr(cut));
        if (cut == text.size()) {
            EXPECT_EQ(first.result, SentenceAccepted);
            EXPECT_EQ(second.consumed, 0);
        } else {
            EXPECT_EQ(first.result, 0);
            EXPECT_EQ(first.consumed, static_cast<int>(cut));
            EXPECT_EQ(second.result, SentenceAccepted);
            EXPECT_EQ(second.consumed, static_cast<int>(text.size() - cut));
        }
        EXPECT_EQ(nmea.ErrorCount(), 0);
        EXPECT_EQ(nmea.Record().Latitude, static_cast<float>(4807.038));
    }
}

TEST(NmeaStream, SentencesOneByteAtATimeAndBackToBack) {
    const std::string text = Sentence("GPGLL,a,b,c,d,e,f") + Sentence(GgaBody) + Sentence("PQLN,41,72");
    TNmea bytewise;
    std::vector<int> results;
    for (char c : text) {
        const Fed f = Feed(bytewise, std::string(1, c));
        EXPECT_EQ(f.consumed, 1);
        if (f.result != 0) results.push_back(f.result);
    }
    const std::vector<int> expected = {SentenceAccepted, SentenceAccepted, LoadAck};
    EXPECT_EQ(results, expected);
    TNmea whole;
    EXPECT_EQ(FeedAll(whole, text), expected);
    EXPECT_EQ(bytewise.ErrorCount(), 0);
}

TEST(NmeaStream, DelimiterLimitWithinOneCall) {
    // The LF of the example is its 73rd byte: behind 10 ordinary bytes it sits at index 82, behind 11 at 83.
    const std::string gga = Sentence(GgaBody);
    ASSERT_EQ(gga.size(), 73u);
    for (int pad : {10, 11}) {
        TNmea nmea;
        const Fed f = Feed(nmea, std::string(pad, 'x') + gga);
        EXPECT_EQ(f.result, SentenceAccepted);
        EXPECT_EQ(f.consumed, pad + 73);
        EXPECT_EQ(nmea.ErrorCount(), pad == 10 ? 0 : 1) << pad;
    }
}

TEST(NmeaStream, SentenceLengthLimit) {
    struct Case {
        const char* name;
        std::string text;
        int result;
        int errors;
    };
    const Case cases[] = {
        {"80 counted characters", Sentence(BodyOfLength("GPGLL", 6, 80)), SentenceAccepted, 0},
        {"81 counted characters", Sentence(BodyOfLength("GPGLL", 6, 81)), 0, 1},
        {"81 reached at a field", Sentence(BodyOfLength("GPGLL", 6, 81 + 3)), 0, 1},
        {"80 without checksum", "$" + BodyOfLength("GPGLL", 6, 83) + "\r\n", SentenceAccepted, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TNmea nmea;
        EXPECT_EQ(FeedBytewise(nmea, c.text), c.result);
        EXPECT_EQ(nmea.ErrorCount(), c.errors);
        // The parser is ready for the next sentence either way.
        EXPECT_EQ(Feed(nmea, Sentence("GPGLL,1,2,3,4,5,6")).result, SentenceAccepted);
    }
}

TEST(NmeaStream, TokenKeepsLastCharactersOfALongRun) {
    TNmea nmea;
    // 40 characters: the address token holds only the last 8, which is no address.
    EXPECT_EQ(Feed(nmea, "$" + std::string(32, 'Q') + "ABCDEFGH,1,2,3,4,5,6\r\n").result, 0);
    EXPECT_EQ(nmea.ErrorCount(), 1);
    // 37 characters: the last 5 are a valid address (no checksum, so nothing else betrays it).
    EXPECT_EQ(Feed(nmea, "$" + std::string(32, 'Q') + "GPGLL,1,2,3,4,5,6\r\n").result, SentenceAccepted);
    EXPECT_EQ(nmea.ErrorCount(), 1);
}

TEST(NmeaStream, OversizedFieldsAndFieldCountsAreDroppedWhole) {
    struct Case {
        const char* name;
        std::string text;
        int result;
        int errors;
    };
    const std::string pqln32 = [] {
        std::string b = "PQLN,41,72";
        for (int i = 2; i < 32; ++i) b += ",1";
        return b;
    }();
    const Case cases[] = {
        {"31-character field", Sentence("GPGLL," + std::string(31, 'a') + ",2,3,4,5,6"), SentenceAccepted, 0},
        {"32-character field", Sentence("GPGLL," + std::string(32, 'a') + ",2,3,4,5,6"), 0, 1},
        {"40-character field", Sentence("GPGLL,1,2,3,4,5," + std::string(40, 'a')), 0, 1},
        {"last field too long, no checksum", "$GPGLL,1,2,3,4,5," + std::string(33, 'a') + "\r\n", 0, 1},
        {"32 fields", Sentence(pqln32), LoadAck, 0},
        {"33 fields", Sentence(pqln32 + ",1"), 0, 1},
        {"60 fields", "$PQLN,41,72" + std::string(58, ',') + "\r\n", 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TNmea nmea;
        const NavRecord before = Snapshot(nmea);
        const Fed f = Feed(nmea, c.text);
        EXPECT_EQ(f.result, c.result);
        EXPECT_EQ(nmea.ErrorCount(), c.errors);
        if (c.result == 0) {
            EXPECT_TRUE(SameRecord(before, nmea.Record()));
            EXPECT_FALSE(nmea.SentenceSeen());
        }
        EXPECT_EQ(Feed(nmea, Sentence("GPGLL,1,2,3,4,5,6")).result, SentenceAccepted);
        EXPECT_EQ(nmea.ErrorCount(), c.errors);
    }
}

TEST(NmeaPqln, LoaderNotices) {
    struct Case {
        std::string body;
        int result;
        uint16_t crc;
    };
    const Case cases[] = {
        {"PQLN,4D,21,HELLO", LoaderHello, 0},
        {"PQLN,4d,21,HELLO", LoaderHello, 0},
        {"PQLN,4D,21,DATARQST", LoaderDataRequest, 0},
        {"PQLN,4D,21,hello", 0, 0},
        {"PQLN,4D,21", 0, 0},
        {"PQLN,4D,20,1A2B", LoaderCrcReport, 0x1A2B},
        {"PQLN,4D,20,1a2b", LoaderCrcReport, 0x1A2B},
        {"PQLN,4D,20,FFFF", LoaderCrcReport, 0xFFFF},
        {"PQLN,41,72", LoadAck, 0},
        {"PQLN,4E,72", LoadNack, 0},
        {"PQLN,41,73", EraseAck, 0},
        {"PQLN,41,74", 0, 0},
        {"PQLN,REV,1.02", 0, 0},
        {"PQLN,41", 0, 0},
        {"PQLN,4,72", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        TNmea nmea;
        EXPECT_EQ(Feed(nmea, Sentence(c.body)).result, c.result);
        EXPECT_EQ(nmea.ReportedCrc(), c.crc);
        EXPECT_EQ(nmea.Record().Updated, c.result != 0 ? 1 : 0);
        EXPECT_EQ(nmea.SentenceCount(KindPqln), 1);
        EXPECT_EQ(nmea.ErrorCount(), 0);
    }
}

TEST(NmeaFields, NumberReadings) {
    // Each row is a GGA or RMC with one field replaced; check is run on the record.
    auto gga = [](const std::string& time, const std::string& lat, const std::string& lon,
                  const std::string& quality, const std::string& alt) {
        return Sentence("GPGGA," + time + "," + lat + ",N," + lon + ",E," + quality + ",08,0.9," + alt +
                        ",M,46.9,M,,");
    };
    auto rmc = [](const std::string& speed, const std::string& course, const std::string& date) {
        return Sentence("GPRMC,123519,A,4807.038,N,01131.000,E," + speed + "," + course + "," + date +
                        ",003.1,W");
    };
    struct Case {
        const char* name;
        std::string text;
        bool (*check)(const NavRecord&);
    };
    const Case cases[] = {
        {"latitude three decimals", gga("123519", "4807.038", "01131.0000", "1", "545.4"),
         [](const NavRecord& r) { return r.Latitude == static_cast<float>(4807.0038); }},
        {"latitude five decimals", gga("123519", "4807.03800", "01131.0000", "1", "545.4"),
         [](const NavRecord& r) { return r.Latitude == static_cast<float>(4807.038); }},
        {"latitude fraction beyond four digits", gga("123519", "4807.12345", "01131.0000", "1", "545.4"),
         [](const NavRecord& r) { return r.Latitude == static_cast<float>(4807.1234); }},
        {"latitude five integer digits", gga("123519", "48070.5", "01131.0000", "1", "545.4"),
         [](const NavRecord& r) { return r.Latitude == 4807.0f; }},
        {"latitude without point", gga("123519", "4807", "01131.0000", "1", "545.4"),
         [](const NavRecord& r) { return r.Latitude == 4807.0f; }},
        {"latitude empty", gga("123519", "", "01131.0000", "1", "545.4"),
         [](const NavRecord& r) { return r.Latitude == 0.0f && r.LatitudeHemisphere == 'N'; }},
        {"longitude one decimal", gga("123519", "4807.038", "01131.5", "1", "545.4"),
         [](const NavRecord& r) { return r.Longitude == static_cast<float>(1131.0005); }},
        {"longitude empty", gga("123519", "4807.038", "", "1", "545.4"),
         [](const NavRecord& r) { return r.Longitude == 0.0f; }},
        {"time with milliseconds", gga("010203.456", "", "", "1", ""),
         [](const NavRecord& r) { return r.Hour == 1 && r.Minute == 2 && r.Second == 3; }},
        {"time empty keeps previous", gga("", "", "", "1", ""),
         [](const NavRecord& r) { return r.Hour == 12 && r.Minute == 35 && r.Second == 19; }},
        {"time cut keeps previous", gga("0102", "", "", "1", ""),
         [](const NavRecord& r) { return r.Hour == 12 && r.Minute == 35 && r.Second == 19; }},
        {"quality 0", gga("123519", "", "", "0", ""),
         [](const NavRecord& r) { return r.FixQuality == QualityNoFix && r.FixMode == ModeNoFix; }},
        {"quality 2", gga("123519", "", "", "2", ""),
         [](const NavRecord& r) { return r.FixQuality == QualityDifferential && r.FixMode == Mode3DPlus; }},
        {"quality 6 leaves", gga("123519", "", "", "6", ""),
         [](const NavRecord& r) { return r.FixQuality == QualityGps && r.FixMode == Mode3D; }},
        {"altitude negative", gga("123519", "", "", "1", "-12.7"),
         [](const NavRecord& r) { return r.Altitude == -12; }},
        {"altitude empty", gga("123519", "", "", "1", ""),
         [](const NavRecord& r) { return r.Altitude == 0; }},
        {"speed truncated", rmc("10.8", "054.7", "230394"),
         [](const NavRecord& r) { return r.Speed == 20 && r.Course == 54; }},
        {"speed 1 knot", rmc("1.0", "359.9", "230394"),
         [](const NavRecord& r) { return r.Speed == 1 && r.Course == 359; }},
        {"speed and course empty", rmc("", "", "230394"),
         [](const NavRecord& r) { return r.Speed == 0 && r.Course == 0; }},
        {"date", rmc("0", "0", "230394"),
         [](const NavRecord& r) { return r.Day == 23 && r.Month == 3 && r.Year == 2094; }},
        {"date empty keeps previous", rmc("0", "0", ""),
         [](const NavRecord& r) { return r.Day == 1 && r.Month == 2 && r.Year == 2003; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TNmea nmea;
        // A known time, date and fix to see what a row leaves.
        ASSERT_EQ(Feed(nmea, Sentence(GgaBody)).result, SentenceAccepted);
        ASSERT_EQ(Feed(nmea, rmc("0", "0", "010203")).result, SentenceAccepted);
        EXPECT_EQ(Feed(nmea, c.text).result, SentenceAccepted);
        EXPECT_TRUE(c.check(nmea.Record()));
    }
}

TEST(NmeaFields, FieldCountRules) {
    struct Case {
        std::string body;
        int result;
    };
    const Case cases[] = {
        {"GPGLL,1,2,3,4,5,6", 1},
        {"GPGLL,1,2,3,4,5", 0},
        {"GPVTG,1,2,3,4,5,6,7,8", 1},
        {"GPVTG,1,2,3,4,5,6,7,8,9", 0},
        {"GPZDA,1,2,3,4,5,6,7,8", 1},
        {"GPZDA,1,2,3,4,5,6,7", 0},
        {"GPRMC,1,2,3,4,5,6,7,8,9,10,11", 1},
        {"GPRMC,1,2,3,4,5,6,7,8,9,10,11,12", 1},
        {"GPRMC,1,2,3,4,5,6,7,8,9,10", 0},
        {"GPGSA,AB,3", 0},
        {"GPGSA,A,", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        TNmea nmea;
        const NavRecord before = Snapshot(nmea);
        EXPECT_EQ(Feed(nmea, Sentence(c.body)).result, c.result);
        if (c.result == 0) {
            EXPECT_TRUE(SameRecord(before, nmea.Record()));
        }
        EXPECT_TRUE(nmea.SentenceSeen());
    }
}

TEST(NmeaGsa, UsedListDopsAndFixMode) {
    TNmea nmea;
    ASSERT_EQ(Feed(nmea, Sentence("GPGSA,A,3,01,17,32,33,64,65,,,,,,,2.5,1.3,2.1")).result, 1);
    const NavRecord& r = nmea.Record();
    EXPECT_EQ(r.SatellitesUsed, 6);  // 65 counts but marks nothing
    EXPECT_EQ(r.Status, 'A');
    EXPECT_EQ(r.FixMode, Mode3D);
    EXPECT_EQ(r.Dop1, 2.5f);
    EXPECT_EQ(r.Dop2, 1.3f);
    EXPECT_EQ(r.Dop3, 2.1f);

    // Differential fix makes any GSA mode 3D+.
    ASSERT_EQ(Feed(nmea, Sentence("GPGGA,123519,4807.038,N,01131.000,E,2,08,0.9,545.4,M,46.9,M,,")).result,
              1);
    ASSERT_EQ(Feed(nmea, Sentence("GPGSA,M,2,01,17,32,33,64,65,,,,,,,2.5,1.3,2.1")).result, 1);
    EXPECT_EQ(r.FixMode, Mode3DPlus);
    EXPECT_EQ(r.Status, 'M');

    // A short GSA reads its missing fields as empty, not the previous sentence's.
    ASSERT_EQ(Feed(nmea, Sentence("GPGSA,A,3,07")).result, 1);
    EXPECT_EQ(r.SatellitesUsed, 1);
    EXPECT_EQ(r.Dop1, 0.0f);
    EXPECT_EQ(r.Dop2, 0.0f);
    EXPECT_EQ(r.Dop3, 0.0f);
    // Only satellite 7 is used now.
    ASSERT_EQ(Feed(nmea, Sentence("GPGSV,1,1,02,07,10,20,30,17,40,50,60")).result, 1);
    EXPECT_EQ(r.Satellites[6].Used, 1);
    EXPECT_EQ(r.Satellites[16].Used, 0);
}

TEST(NmeaGsv, GroupOfThreeFillsEntriesAndSwapsListAtTheEnd) {
    TNmea nmea;
    ASSERT_EQ(Feed(nmea, Sentence("GPGSA,A,3,01,17,32,,,,,,,,,,1.0,1.0,1.0")).result, 1);
    ASSERT_EQ(Feed(nmea, Sentence("GPGSV,1,1,02,05,11,111,21,07,12,112,22")).result, 1);
    const NavRecord& r = nmea.Record();
    const int32_t oldList[16] = {5, 7};
    ASSERT_EQ(std::memcmp(r.InView, oldList, sizeof oldList), 0);

    const std::string group[3] = {
        "GPGSV,3,1,10,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45",
        "GPGSV,3,2,10,15,50,100,40,17,30,200,35,19,10,300,30,22,60,045,48",
        "GPGSV,3,3,10,24,05,010,20,32,70,120,44",
    };
    for (int m = 0; m < 2; ++m) {
        ASSERT_EQ(Feed(nmea, Sentence(group[m])).result, 1);
        EXPECT_EQ(std::memcmp(r.InView, oldList, sizeof oldList), 0) << "after message " << m + 1;
    }
    ASSERT_EQ(Feed(nmea, Sentence(group[2])).result, 1);
    const int32_t newList[16] = {1, 2, 12, 14, 15, 17, 19, 22, 24, 32};
    EXPECT_EQ(std::memcmp(r.InView, newList, sizeof newList), 0);
    EXPECT_EQ(r.SatellitesInView, 10);

    struct Entry {
        int n, el, az, cn0, used;
    };
    const Entry expected[] = {{1, 40, 83, 46, 1},   {2, 17, 308, 41, 0},  {12, 7, 344, 39, 0},
                              {14, 22, 228, 45, 0}, {15, 50, 100, 40, 0}, {17, 30, 200, 35, 1},
                              {19, 10, 300, 30, 0}, {22, 60, 45, 48, 0},  {24, 5, 10, 20, 0},
                              {32, 70, 120, 44, 1}};
    for (const Entry& e : expected) {
        SCOPED_TRACE(e.n);
        const SatelliteEntry& s = r.Satellites[e.n - 1];
        EXPECT_EQ(s.Elevation, e.el);
        EXPECT_EQ(s.Azimuth, e.az);
        EXPECT_EQ(s.Cn0, e.cn0);
        EXPECT_EQ(s.Used, e.used);
    }
}

TEST(NmeaGsv, HostileNumbersStayInBounds) {
    struct Case {
        const char* name;
        std::string body;
        int result;
        int32_t inView[4];  // first four of the in-view list after the sentence
    };
    const Case cases[] = {
        {"satellite numbers 0, 65, 200, -3",
         "GPGSV,1,1,04,00,1,2,3,65,1,2,3,200,1,2,3,-3,1,2,3",
         1,
         {0, 65, 200, -3}},
        {"message number 0", "GPGSV,0,0,04,01,1,2,3,02,1,2,3,03,1,2,3,04,1,2,3", 1, {9, 9, 9, 9}},
        {"message number -1", "GPGSV,3,-1,04,01,1,2,3,02,1,2,3,03,1,2,3,04,1,2,3", 1, {9, 9, 9, 9}},
        {"message number 9 of 9", "GPGSV,9,9,40,01,1,2,3,02,1,2,3,03,1,2,3,04,1,2,3", 1, {9, 9, 9, 9}},
        {"message number 9 of 3", "GPGSV,3,9,40,01,1,2,3,02,1,2,3,03,1,2,3,04,1,2,3", 0, {9, 9, 9, 9}},
        {"huge message number", "GPGSV,2147483647,2147483647,99,01,1,2,3", 1, {9, 9, 9, 9}},
        {"fields end early", "GPGSV,1,1,08,01,1,2,3", 1, {1, 0, 0, 0}},
        {"address only", "GPGSV", 1, {9, 9, 9, 9}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TNmea nmea;
        // A full group first, so that stale staging and stale fields would show.
        ASSERT_EQ(Feed(nmea, Sentence("GPGSV,1,1,04,09,50,51,52,09,50,51,52,09,50,51,52,09,50,51,52")).result,
                  1);
        EXPECT_EQ(Feed(nmea, Sentence(c.body)).result, c.result);
        const NavRecord& r = nmea.Record();
        for (int i = 0; i < 4; ++i) EXPECT_EQ(r.InView[i], c.inView[i]) << i;
        for (int n = 1; n <= 64; ++n) {
            if (n == 9 || n <= 4) continue;
            EXPECT_EQ(r.Satellites[n - 1].Elevation, 0) << n;
        }
        EXPECT_EQ(r.Satellites[8].Elevation, 50);  // untouched by the second sentence
    }
}

TEST(NmeaGsv, ShortFinalMessageDoesNotReuseOldFields) {
    TNmea nmea;
    ASSERT_EQ(Feed(nmea, Sentence("GPGSV,2,1,06,01,10,11,12,02,20,21,22,03,30,31,32,04,40,41,42")).result, 1);
    // Announces 6 but carries one satellite: the second slot must read as empty, not "02,20,...".
    ASSERT_EQ(Feed(nmea, Sentence("GPGSV,2,2,06,05,50,51,52")).result, 1);
    const int32_t list[16] = {1, 2, 3, 4, 5, 0};
    EXPECT_EQ(std::memcmp(nmea.Record().InView, list, sizeof list), 0);
    EXPECT_EQ(nmea.Record().Satellites[1].Elevation, 20);
}

TEST(NmeaState, ClearFixValues) {
    TNmea nmea;
    FeedAll(nmea, Sentence(GgaBody) + Sentence("GPRMC,1,A,1,N,1,E,10,20,230394,,") +
                      Sentence("GPGSA,A,3,03,17,,,,,,,,,,,2.5,1.3,2.1") +
                      Sentence("GPGSV,1,1,02,03,10,11,12,17,20,21,22"));
    const NavRecord before = Snapshot(nmea);
    ASSERT_EQ(before.Satellites[2].Used, 1);
    ASSERT_EQ(before.Satellites[16].Used, 1);
    nmea.ClearFix();
    const NavRecord& r = nmea.Record();
    EXPECT_EQ(r.Speed, 0);
    EXPECT_EQ(r.Course, 0);
    EXPECT_EQ(r.Latitude, 0.0f);
    EXPECT_EQ(r.LatitudeHemisphere, 'N');
    EXPECT_EQ(r.Longitude, 0.0f);
    EXPECT_EQ(r.LongitudeHemisphere, 'E');
    EXPECT_EQ(r.Altitude, 0);
    EXPECT_EQ(r.Status, 'A');
    EXPECT_EQ(r.Dop1, 0.0f);
    EXPECT_EQ(r.Dop2, 0.0f);
    EXPECT_EQ(r.Dop3, 0.0f);
    EXPECT_EQ(r.SatellitesInView, 0);
    EXPECT_EQ(r.SatellitesUsed, 0);
    EXPECT_EQ(r.FixQuality, 0);
    EXPECT_EQ(r.FixMode, Mode2D);
    EXPECT_EQ(r.Satellites[2].Used, 0);
    EXPECT_EQ(r.Satellites[16].Used, 1);  // only entries 1..16 are cleared
    EXPECT_EQ(r.Satellites[2].Elevation, 10);
    EXPECT_EQ(std::memcmp(r.InView, before.InView, sizeof r.InView), 0);
    EXPECT_EQ(r.Hour, 12);
    EXPECT_EQ(r.Year, 2094);
    EXPECT_EQ(r.Updated, before.Updated);
}

TEST(NmeaState, ResetKeepsErrorsConfigAndRecord) {
    TNmea nmea;
    const int32_t words[10] = {0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    nmea.SetConfig(words);
    FeedAll(nmea, Sentence("GPGSA,A,3,03,,,,,,,,,,,,2.5,1.3,2.1") + "$GNGGA,\r\n" + Sentence(GgaBody));
    ASSERT_EQ(nmea.ErrorCount(), 1);
    // Leave a sentence half read.
    ASSERT_EQ(Feed(nmea, "$GPGLL,1,2,3").result, 0);
    const NmeaConfig config = nmea.Config();
    const NavRecord before = Snapshot(nmea);

    nmea.Reset();
    EXPECT_EQ(nmea.ErrorCount(), 1);
    EXPECT_EQ(nmea.Config(), config);
    EXPECT_FALSE(nmea.SentenceSeen());
    EXPECT_EQ(nmea.Record().Updated, 0);
    EXPECT_EQ(nmea.Record().Latitude, before.Latitude);
    EXPECT_EQ(nmea.Record().Dop1, before.Dop1);
    EXPECT_EQ(nmea.LastKind(), -1);
    // The half sentence is gone: its rest ends nothing.
    EXPECT_EQ(Feed(nmea, ",4,5,6\r\n").result, 0);
    // The used masks were cleared.
    ASSERT_EQ(Feed(nmea, Sentence("GPGSV,1,1,01,03,10,11,12")).result, 1);
    EXPECT_EQ(nmea.Record().Satellites[2].Used, 0);
    EXPECT_EQ(nmea.ErrorCount(), 1);
}

TEST(NmeaState, ConfigurationWords) {
    TNmea nmea;
    const NmeaConfig defaults = {0x1D, 1, 0, 1, 1, 1, 0, 0, 0, 1};
    EXPECT_EQ(nmea.Config(), defaults);
    nmea.SetConfig(nullptr);
    EXPECT_EQ(nmea.Config(), defaults);

    // The given mask is taken and only gains bits for the enabled kinds (word 8 is kind 7).
    const int32_t words[10] = {0x100, 0, 5, 0, 0, 0, 0, 1, 7, 0};
    nmea.SetConfig(words);
    const NmeaConfig expected = {0x100 | 0x02 | 0x40 | 0x80, 0, 5, 0, 0, 0, 0, 1, 7, 0};
    EXPECT_EQ(nmea.Config(), expected);
    // Parsing does not depend on it.
    EXPECT_EQ(Feed(nmea, Sentence(GgaBody)).result, SentenceAccepted);
}

TEST(NmeaState, CountersAndSentenceSeen) {
    TNmea nmea;
    EXPECT_FALSE(nmea.SentenceSeen());
    EXPECT_EQ(Feed(nmea, Sentence("GPVTG,1")).result, 0);  // wrong count still counts
    EXPECT_TRUE(nmea.SentenceSeen());
    EXPECT_EQ(nmea.SentenceCount(KindVtg), 1);

    std::string many;
    for (int i = 0; i < 1030; ++i) many += Sentence("GPGLL,1,2,3,4,5,6");
    EXPECT_EQ(FeedAll(nmea, many).size(), 1030u);
    EXPECT_EQ(nmea.SentenceCount(KindGll), TNmea::CounterCap);
    EXPECT_EQ(nmea.SentenceCount(KindVtg), 1);
    EXPECT_EQ(nmea.ErrorCount(), 0);

    int result = 7;
    EXPECT_EQ(nmea.Parse(nullptr, 0, result), 0);
    EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace vantora
