#include "protocol/nmea.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "../support/sample_stream.h"

namespace vantora {
namespace {

using sample::Sentence;

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
// With bytewise, one byte per call, so that no delimiter sits far into a call's input.
std::vector<int> FeedAll(TNmea& nmea, const std::string& text, bool bytewise = false) {
    std::vector<int> results;
    for (size_t at = 0; at < text.size();) {
        const Fed f = Feed(nmea, text.substr(at, bytewise ? 1 : std::string::npos));
        if (f.result != 0) results.push_back(f.result);
        at += f.consumed;
    }
    return results;
}

// A byte copy: records are compared byte for byte, padding included.
NavRecord Snapshot(const TNmea& nmea) {
    NavRecord r;
    std::memcpy(&r, &nmea.Record(), sizeof r);
    return r;
}

bool SameRecord(const NavRecord& a, const NavRecord& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

const std::string GgaBody = "GPGGA,123519.000,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,";
const std::string Gll = Sentence("GPGLL,1,2,3,4,5,6");

// Body of a sentence with the given address and count fields that, with "$", "*hh" and CR LF,
// is exactly length + 2 bytes long; the padding is spread over the fields.
std::string BodyOfLength(const std::string& address, int fields, int length) {
    int extra = length - (1 + static_cast<int>(address.size()) + 2 * fields + 3);  // "$", address, fields with commas, "*hh"
    std::string body = address;
    for (int i = 0; i < fields; ++i) {
        const int pad = std::min(extra, 30);
        body += "," + std::string(1 + pad, 'X');
        extra -= pad;
    }
    return body;
}

// The record in one line: time, date, position, fix, DOPs, the used and in-view satellites with
// their entries, so that one table row checks everything a sentence writes.
std::string Digest(const NavRecord& r) {
    std::ostringstream s;
    s.precision(9);
    s << r.Year << '-' << r.Month << '-' << r.Day << ' ' << r.Hour << ':' << r.Minute << ':' << r.Second << ' '
      << r.Latitude << r.LatitudeHemisphere << ' ' << r.Longitude << r.LongitudeHemisphere << " alt " << r.Altitude
      << " spd " << r.Speed << " crs " << r.Course << " q" << r.FixQuality << " m" << r.FixMode << ' '
      << (r.Status ? r.Status : '-') << " dop " << r.Dop1 << '/' << r.Dop2 << '/' << r.Dop3 << " used "
      << r.SatellitesUsed << " view " << r.SatellitesInView << " [";
    for (int i = 0; i < 16 && r.InView[i] != 0; ++i) {
        s << ' ' << r.InView[i];
        if (r.InView[i] >= 1 && r.InView[i] <= 64) {
            const SatelliteEntry& e = r.Satellites[r.InView[i] - 1];
            s << ':' << e.Elevation << '/' << e.Azimuth << '/' << e.Cn0 << (e.Used ? "u" : "");
        }
    }
    s << " ] used";
    for (int n = 1; n <= 64; ++n)
        if (r.Satellites[n - 1].Used) s << ' ' << n;
    return s.str();
}

// Sentences and the record they leave, each row after a known time, date and fix (the GGA
// example and an RMC), so that what a sentence leaves alone shows too.
TEST(NmeaRecord, SentencesAndTheRecordTheyLeave) {
    const auto gga = [](const std::string& time, const std::string& lat, const std::string& lon,
                        const std::string& quality, const std::string& alt) {
        return Sentence("GPGGA," + time + "," + lat + ",N," + lon + ",E," + quality + ",08,0.9," + alt +
                        ",M,46.9,M,,");
    };
    const auto rmc = [](const std::string& speed, const std::string& course, const std::string& date) {
        return Sentence("GPRMC,123519,A,4807.038,N,01131.000,E," + speed + "," + course + "," + date +
                        ",003.1,W");
    };
    const std::string group[3] = {
        Sentence("GPGSV,3,1,10,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45"),
        Sentence("GPGSV,3,2,10,15,50,100,40,17,30,200,35,19,10,300,30,22,60,045,48"),
        Sentence("GPGSV,3,3,10,24,05,010,20,32,70,120,44"),
    };
    const std::string used = Sentence("GPGSA,A,3,01,17,32,,,,,,,,,,1.0,1.0,1.0") +
                             Sentence("GPGSV,1,1,02,05,11,111,21,07,12,112,22");
    const std::string gnGsaFix =
        Sentence("GNGSA,A,3,01,02,03,04,,,,,,,,,1.5,0.9,1.2") + Sentence("GNGSA,A,3,65,66,67,,,,,,,,,,1.5,0.9,1.2");
    const std::string gnGsaSplit = Sentence("GNGSA,A,3,01,02,03,04,05,06,07,08,09,10,11,12,1.5,0.9,1.2") +
                                   Sentence("GNGSA,A,3,13,,,,,,,,,,,,1.5,0.9,1.2") + Sentence("GNGSA,A,3,65,66,,,,,,,,,,,1.5,0.9,1.2");
    const std::pair<std::string, std::string> rows[] = {
        {"", "2003-2-1 12:35:19 4807.03809N 1131E alt 545 spd 0 crs 0 q0 m2 - dop 0/0/0 used 0 view 0 [ ] used"},
        // Minutes and seconds with any number of decimals, as the numbers they are.
        {gga("123519", "4807.038", "", "1", ""), "2003-2-1 12:35:19 4807.03809N 0E alt 0 spd 0 crs 0 q0 m2 - dop 0/0/0 used 0 view 0 [ ] used"},
        {gga("123520.5", "4527.458", "01131.5", "1", ""), "2003-2-1 12:35:20 4527.45801N 1131.5E alt 0 spd 0 crs 0 q0 m2 - dop 0/0/0 used 0 view 0 [ ] used"},
        {gga("010203.456789", "4807.03800", "01131.12345678", "0", "-12.7"), "2003-2-1 1:2:3 4807.03809N 1131.12341E alt -12 spd 0 crs 0 q5 m0 - dop 0/0/0 used 0 view 0 [ ] used"},
        // Numbers of many digits, a point without digits on one side, a blank, a sign
        {gga("123519", "12345678.5", "0.123456789", "1", "+7"), "2003-2-1 12:35:19 12345678N 0.123456791E alt 7 spd 0 crs 0 q0 m2 - dop 0/0/0 used 0 view 0 [ ] used"},
        {gga("123519", "1234567.12345678", " 12.5", "1", "045.9"), "2003-2-1 12:35:19 1234567.12N 12.5E alt 45 spd 0 crs 0 q0 m2 - dop 0/0/0 used 0 view 0 [ ] used"},
        {gga("123519", ".5", "7.", "1", "-0"), "2003-2-1 12:35:19 0.5N 7E alt 0 spd 0 crs 0 q0 m2 - dop 0/0/0 used 0 view 0 [ ] used"},
        // A cut or impossible time keeps the previous one
        {gga("0102", "", "", "2", "") + gga("246000", "", "", "2", ""), "2003-2-1 12:35:19 0N 0E alt 0 spd 0 crs 0 q1 m3 - dop 0/0/0 used 0 view 0 [ ] used"},
        // GGA's qualities: RTK fixed and float are differential, dead reckoning and simulation a fix, manual input leaves it
        {gga("123519", "", "", "0", "") + gga("123519", "", "", "4", ""), "2003-2-1 12:35:19 0N 0E alt 0 spd 0 crs 0 q1 m3 - dop 0/0/0 used 0 view 0 [ ] used"},
        {gga("123519", "", "", "0", "") + gga("123519", "", "", "5", ""), "2003-2-1 12:35:19 0N 0E alt 0 spd 0 crs 0 q1 m3 - dop 0/0/0 used 0 view 0 [ ] used"},
        {gga("123519", "", "", "0", "") + gga("123519", "", "", "6", ""), "2003-2-1 12:35:19 0N 0E alt 0 spd 0 crs 0 q0 m2 - dop 0/0/0 used 0 view 0 [ ] used"},
        {gga("123519", "", "", "0", "") + gga("123519", "", "", "8", ""), "2003-2-1 12:35:19 0N 0E alt 0 spd 0 crs 0 q0 m2 - dop 0/0/0 used 0 view 0 [ ] used"},
        {gga("123519", "", "", "0", "") + gga("123519", "", "", "7", ""), "2003-2-1 12:35:19 0N 0E alt 0 spd 0 crs 0 q5 m0 - dop 0/0/0 used 0 view 0 [ ] used"},
        // Any talker; the legal 80-character sentence
        {"$GPGGA,021613.949,5029.3800,N,10441.0389,W,1,04,12.5,572.4,M,-20.3,M,0.0,0000*7E\r\n", "2003-2-1 2:16:13 5029.37988N 10441.0391W alt 572 spd 0 crs 0 q0 m2 - dop 0/0/0 used 0 view 0 [ ] used"},
        {"$GNGGA,123519.000,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,*47\n", "2003-2-1 12:35:19 4807.03809N 1131E alt 545 spd 0 crs 0 q0 m2 - dop 0/0/0 used 0 view 0 [ ] used"},
        // Two-digit years from 1980 to 2079
        {rmc("10.8", "054.7", "230399"), "1999-3-23 12:35:19 4807.03809N 1131E alt 545 spd 20 crs 54 q0 m2 - dop 0/0/0 used 0 view 0 [ ] used"},
        {rmc("10.8", "054.7", "230380") + rmc("", "", "310179"), "2079-1-31 12:35:19 4807.03809N 1131E alt 545 spd 0 crs 0 q0 m2 - dop 0/0/0 used 0 view 0 [ ] used"},
        // RMC of NMEA 4.10 (13 fields) and 4.11 (14); not valid: no position, time or fix
        {Sentence("GARMC,101010.25,A,4527.458,S,00730.1,W,10.8,77.52,091202,,,D,V"), "2002-12-9 10:10:10 4527.45801S 730.099976W alt 545 spd 20 crs 77 q0 m2 - dop 0/0/0 used 0 view 0 [ ] used"},
        {Sentence("GBRMC,101010.25,V,4527.458,S,00730.1,W,,,091202,,,N,V,C"), "2002-12-9 12:35:19 4807.03809N 1131E alt 545 spd 0 crs 0 q5 m0 - dop 0/0/0 used 0 view 0 [ ] used"},
        // Without GGA, a valid RMC or GLL gives a fix; GLL (NMEA 2.3: with its mode) position and time
        {rmc("0", "0", "") + Sentence("GLGLL,4527.458,S,00730.1,W,101010,V,N") + Sentence("GNGLL,4527.458,S,00730.1,W,101010.5,A,D"), "2003-2-1 10:10:10 4527.45801S 730.099976W alt 545 spd 0 crs 0 q1 m3 - dop 0/0/0 used 0 view 0 [ ] used"},
        {Sentence("GPGLL,4527.458,S,00730.1,W,101010,V"), "2003-2-1 12:35:19 4807.03809N 1131E alt 545 spd 0 crs 0 q5 m0 - dop 0/0/0 used 0 view 0 [ ] used"},
        // VTG: the km/h field and the true course; ZDA: date and time
        {Sentence("GNVTG,077.52,T,,M,010.8,N,020.9,K,A") + Sentence("GQZDA,201530.00,04,07,2002,00,00"), "2002-7-4 20:15:30 4807.03809N 1131E alt 545 spd 20 crs 77 q0 m2 - dop 0/0/0 used 0 view 0 [ ] used"},
        // An empty date keeps the previous one
        {rmc("", "", ""), "2003-2-1 12:35:19 4807.03809N 1131E alt 545 spd 0 crs 0 q0 m2 - dop 0/0/0 used 0 view 0 [ ] used"},
        // DOPs with a second point, a sign, a letter: read as far as they are numbers.
        {Sentence("GPGSA,A,3,01,,,,,,,,,,,,1.2.3,-1.5,12x"), "2003-2-1 12:35:19 4807.03809N 1131E alt 545 spd 0 crs 0 q0 m2 A dop 1.20000005/-1.5/12 used 1 view 0 [ ] used"},
        // Mixed GSAs without system ID, one per system and fix: counted once a fix, also with
        // nothing between the fixes; more than twelve of one system go on in the next GSA.
        {gnGsaFix + gnGsaFix, "2003-2-1 12:35:19 4807.03809N 1131E alt 545 spd 0 crs 0 q0 m2 A dop 1.5/0.899999976/1.20000005 used 7 view 0 [ ] used"},
        {gnGsaSplit + gnGsaSplit, "2003-2-1 12:35:19 4807.03809N 1131E alt 545 spd 0 crs 0 q0 m2 A dop 1.5/0.899999976/1.20000005 used 15 view 0 [ ] used"},
        // 65 counts but marks nothing.
        {Sentence("GPGSA,A,3,01,17,32,33,64,65,,,,,,,2.5,1.3,2.1"), "2003-2-1 12:35:19 4807.03809N 1131E alt 545 spd 0 crs 0 q0 m2 A dop 2.5/1.29999995/2.0999999 used 6 view 0 [ ] used"},
        // A differential fix makes any GSA mode 3D+.
        {gga("123519", "", "", "2", "") + Sentence("GPGSA,M,2,01,17,32,33,64,65,,,,,,,2.5,1.3,2.1"), "2003-2-1 12:35:19 0N 0E alt 0 spd 0 crs 0 q1 m3 M dop 2.5/1.29999995/2.0999999 used 6 view 0 [ ] used"},
        // A short GSA reads its missing fields as empty, not the previous sentence's.
        {Sentence("GPGSA,A,3,01,17,32,33,64,65,,,,,,,2.5,1.3,2.1") + Sentence("GPGSA,A,3,07") +
             Sentence("GPGSV,1,1,02,07,10,20,30,17,40,50,60"),
         "2003-2-1 12:35:19 4807.03809N 1131E alt 545 spd 0 crs 0 q0 m2 A dop 0/0/0 used 1 view 2 [ 7:10/20/30u 17:40/50/60 ] used 7"},
        // The in-view list changes only at the group's end
        {used + group[0] + group[1], "2003-2-1 12:35:19 4807.03809N 1131E alt 545 spd 0 crs 0 q0 m2 A dop 1/1/1 used 3 view 10 [ 5:11/111/21 7:12/112/22 ] used 1 17"},
        {used + group[0] + group[1] + group[2], "2003-2-1 12:35:19 4807.03809N 1131E alt 545 spd 0 crs 0 q0 m2 A dop 1/1/1 used 3 view 10 [ 1:40/83/46u 2:17/308/41 12:7/344/39 14:22/228/45 15:50/100/40 17:30/200/35u 19:10/300/30 22:60/45/48 24:5/10/20 32:70/120/44u ] used 1 17 32"},
    };
    for (const auto& [text, want] : rows) {
        TNmea nmea;
        const std::string all = Sentence(GgaBody) + rmc("0", "0", "010203") + text;
        for (int r : FeedAll(nmea, all)) EXPECT_EQ(r, SentenceAccepted) << text;
        EXPECT_EQ(nmea.ErrorCount(), 0) << text;
        EXPECT_EQ(Digest(nmea.Record()), want) << text;
    }
}

TEST(NmeaGga, ExampleSentenceIsConsumedThroughItsLf) {
    TNmea nmea;
    const std::string gga = Sentence(GgaBody);
    const Fed f = Feed(nmea, gga + "$GPGLL,rest");
    EXPECT_EQ(f.result, SentenceAccepted);
    EXPECT_EQ(f.consumed, static_cast<int>(gga.size()));
    EXPECT_EQ(nmea.Record().Updated, 1);
    EXPECT_EQ(nmea.ErrorCount(), 0);
    EXPECT_EQ(nmea.SentenceCount(KindGga), 1);
    EXPECT_EQ(nmea.LastKind(), KindGga);
}

// Whole sentences fed one byte per call (or in one call): results, errors, and whether the
// sentence counts as seen. A sentence without result leaves the record; the next one is read.
TEST(NmeaStream, SentenceOutcomes) {
    const std::string good = Sentence(GgaBody), cut = good.substr(0, good.size() - 2);
    std::string wrongSum = good, pqln32 = "PQLN,41,72";
    wrongSum[wrongSum.size() - 3] ^= 1;
    for (int i = 2; i < 32; ++i) pqln32 += ",1";
    const std::string q32(32, 'Q');
    struct Case {
        std::string name, text;
        std::vector<int> results;
        int errors;
        bool counted;
    };
    const Case cases[] = {
        {"wrong checksum", wrongSum, {}, 1, false},
        {"no checksum", "$" + GgaBody + "\r\n", {1}, 0, true},
        {"lower-case checksum digits, back to back", "$GPGLL,8,2,3,4,5,6*5e\r\n" + good + Sentence("PQLN,41,72"),
         {1, 1, LoadAck}, 0, true},
        {"GGA one field fewer", Sentence(GgaBody.substr(0, GgaBody.size() - 1)), {}, 1, true},
        {"talker GN", Sentence("GN" + GgaBody.substr(2)), {1}, 0, true},
        {"unknown talker", Sentence("II" + GgaBody.substr(2)), {}, 1, false},
        {"talker of two zero bytes", Sentence(std::string(2, '\0') + GgaBody.substr(2)), {}, 1, false},
        {"LF alone, with and without checksum", cut + "\n" + "$" + GgaBody + "\n", {1, 1}, 0, true},
        {"checksum of one digit", cut.substr(0, cut.size() - 1) + "\n", {}, 1, false},
        {"checksum of three digits", cut + "0\r\n", {}, 1, false},
        {"CR without LF", cut + "\r,", {}, 1, false},
        {"37-character address", "$" + q32 + "GPGLL,1,2,3,4,5,6\r\n", {}, 1, false},
        {"82 bytes", Sentence(BodyOfLength("GPGLL", 6, 80)), {1}, 0, true},
        {"255 bytes", Sentence(BodyOfLength("GPZDA", 8, 253)), {1}, 0, true},
        {"256 bytes", Sentence(BodyOfLength("GPZDA", 8, 254)), {}, 1, false},
        {"255 bytes without checksum", "$" + BodyOfLength("GPZDA", 8, 256) + "\r\n", {1}, 0, true},
        {"31-character field", Sentence("GPGLL," + std::string(31, 'a') + ",2,3,4,5,6"), {1}, 0, true},
        {"32-character field", Sentence("GPGLL," + std::string(32, 'a') + ",2,3,4,5,6"), {}, 1, false},
        {"32-character field across the 64th byte",
         Sentence("GPGLL,1,2,3," + std::string(20, '4') + "," + std::string(20, '5') + "," + std::string(32, 'a')),
         {},
         1,
         false},
        {"31-character field across the 64th byte",
         Sentence("GPGLL,1,2,3," + std::string(20, '4') + "," + std::string(20, '5') + "," + std::string(31, 'a')),
         {1},
         0,
         true},
        {"last field too long, no checksum",
         "$GPGLL,1,2,3,4,5," + std::string(33, 'a') + "\r\n",
         {},
         1,
         false},
        {"32 fields", Sentence(pqln32), {LoadAck}, 0, true},
        {"33 fields", Sentence(pqln32 + ",1"), {}, 1, false},
        {"60 fields", "$PQLN,41,72" + std::string(58, ',') + "\r\n", {}, 1, false},
        // Each kind's field count.
        {"GLL 5 fields", Sentence("GPGLL,1,2,3,4,5"), {}, 1, true},
        {"VTG 8 fields", Sentence("GPVTG,1,2,3,4,5,6,7,8"), {1}, 0, true},
        {"VTG 9 fields", Sentence("GPVTG,1,2,3,4,5,6,7,8,9"), {1}, 0, true},
        {"VTG 10 fields", Sentence("GPVTG,1,2,3,4,5,6,7,8,9,10"), {}, 1, true},
        {"GLL 7 fields", Sentence("GPGLL,1,2,3,4,5,6,7"), {1}, 0, true},
        {"ZDA 6 to 8 fields", Sentence("GPZDA,1,2,3,4,5,6") + Sentence("GPZDA,1,2,3,4,5,6,7,8"), {1, 1}, 0, true},
        {"ZDA 5 fields", Sentence("GPZDA,1,2,3,4,5"), {}, 1, true},
        {"ZDA 9 fields", Sentence("GPZDA,1,2,3,4,5,6,7,8,9"), {}, 1, true},
        {"RMC 11 to 14 fields", Sentence("GPRMC,1,2,3,4,5,6,7,8,9,10,11") + Sentence("GPRMC,1,2,3,4,5,6,7,8,9,10,11,12,13,14"), {1, 1}, 0, true},
        {"RMC 10 fields", Sentence("GPRMC,1,2,3,4,5,6,7,8,9,10"), {}, 1, true},
        {"RMC 15 fields", Sentence("GPRMC,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15"), {}, 1, true},
        {"GSA mode of two characters", Sentence("GPGSA,AB,3"), {}, 1, true},
        {"GSA empty fix field", Sentence("GPGSA,A,"), {}, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TNmea nmea;
        const NavRecord before = Snapshot(nmea);
        EXPECT_EQ(FeedAll(nmea, c.text, true), c.results);
        EXPECT_EQ(nmea.ErrorCount(), c.errors);
        EXPECT_EQ(nmea.SentenceSeen(), c.counted);
        EXPECT_TRUE(!c.results.empty() || SameRecord(before, nmea.Record()));
        EXPECT_EQ(Feed(nmea, Gll).result, SentenceAccepted);
        EXPECT_EQ(nmea.ErrorCount(), c.errors);
    }
}

TEST(NmeaStream, SplitAtEveryBytePosition) {
    const std::string text = Sentence(GgaBody);
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        SCOPED_TRACE(cut);
        TNmea nmea;
        const Fed first = Feed(nmea, text.substr(0, cut));
        const Fed second = Feed(nmea, text.substr(cut));
        const bool whole = cut == text.size();
        EXPECT_EQ(first.result, whole ? SentenceAccepted : 0);
        EXPECT_EQ(first.consumed, static_cast<int>(cut));
        EXPECT_EQ(second.result, whole ? 0 : SentenceAccepted);
        EXPECT_EQ(second.consumed, static_cast<int>(text.size() - cut));
        EXPECT_EQ(nmea.ErrorCount(), 0);
        EXPECT_EQ(nmea.Record().Latitude, static_cast<float>(4807.038));
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
        {"PQLN,4D,20,1A2B", LoaderCrcReport, 0x1A2B},
        {"PQLN,4D,20,1a2b", LoaderCrcReport, 0x1A2B},
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
        EXPECT_EQ(nmea.ErrorCount(), c.result != 0 ? 0 : 1);
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
        {"message number 9 of 3", "GPGSV,3,9,40,01,1,2,3,02,1,2,3,03,1,2,3,04,1,2,3", 0, {9, 9, 9, 9}},
        {"huge message number", "GPGSV,2147483647,2147483647,99,01,1,2,3", 1, {9, 9, 9, 9}},
        // Announces 8 but carries one: the other slots read empty, not the last sentence's "09".
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
        EXPECT_EQ(std::memcmp(r.InView, c.inView, sizeof c.inView), 0);
        for (int n = 5; n <= 64; ++n) EXPECT_EQ(r.Satellites[n - 1].Elevation, n == 9 ? 50 : 0) << n;
    }
}

// The sky in one line: systems, in view and used (the sky's, then the record's), GGA's quality,
// then each satellite as letter, number, elevation/azimuth/C/N0, "u" when used, "s" and its signal.
std::string SkyDigest(const TNmea& nmea) {
    const GnssSky& k = nmea.Sky();
    std::ostringstream s;
    s << "sys " << int{k.Systems} << " view " << k.InView << '/' << nmea.Record().SatellitesInView << " used "
      << k.Used << '/' << nmea.Record().SatellitesUsed << " q" << int{k.Quality} << ':';
    for (int i = 0; i < k.Count; ++i) {
        const SkySatellite& e = k.Satellites[i];
        s << ' ' << GnssSystemLetter(e.System) << e.Number << '/' << e.Elevation << '/' << e.Azimuth << '/' << e.Cn0
          << (e.Used ? "u" : "");
        if (e.Signal) s << 's' << int{e.Signal};
    }
    return s.str();
}

TEST(NmeaSky, EveryConstellation) {
    const std::string gsv12 = Sentence("GPGSV,1,1,02,01,10,100,30,02,20,200,40");
    const std::string gsv1 = Sentence("GPGSV,1,1,01,01,11,101,31");
    const std::string gsv70 = Sentence("GLGSV,1,1,01,70,50,100,40");
    const std::pair<std::string, std::string> rows[] = {
        // NMEA 4.10: GSA per system ID, GSV per talker with its signal; SBAS in GPS's sentences.
        {Sentence("GNGGA,123519,4807.038,N,01131.000,E,4,08,0.9,545.4,M,46.9,M,,") +
             Sentence("GNGSA,A,3,05,12,,,,,,,,,,,1.8,0.9,1.5,1") + Sentence("GNGSA,A,3,70,,,,,,,,,,,,1.8,0.9,1.5,2") +
             Sentence("GPGSV,1,1,03,05,40,083,46,12,17,308,41,40,30,200,35,1") +
             Sentence("GLGSV,1,1,02,70,50,100,40,71,10,300,30,1"),
         "sys 67 view 5/5 used 3/3 q4: G5/40/83/46us1 G12/17/308/41us1 S40/30/200/35s1 R70/50/100/40us1 R71/10/300/30s1"},
        // Two signals of one system: one entry each, the stronger C/N0, in view the most either said.
        {Sentence("GPGSV,1,1,02,05,40,083,46,12,17,308,41,1") +
             Sentence("GPGSV,1,1,03,05,40,083,30,12,17,308,44,24,05,010,20,8"),
         "sys 1 view 3/3 used 0/0 q-1: G5/40/83/46s1 G12/17/308/44s8 G24/5/10/20s8"},
        // GN's GSAs without system ID, one per system, in a run; each GSA of a system replaces its last.
        {Sentence("GNGSA,A,3,05,12,,,,,,,,,,,1.8,0.9,1.5") + Sentence("GNGSA,A,3,70,,,,,,,,,,,,1.8,0.9,1.5") +
             Sentence("GPGSV,1,1,02,05,40,083,46,12,17,308,41") + Sentence("GLGSV,1,1,01,70,50,100,40") +
             Sentence("GPGSA,A,3,12,,,,,,,,,,,,1.8,0.9,1.5"),
         "sys 3 view 3/3 used 2/2 q-1: G5/40/83/46 G12/17/308/41u R70/50/100/40u"},
        // A satellite, or a whole constellation, missing from two cycles drops out.
        {gsv12 + gsv70 + gsv1 + gsv1, "sys 3 view 2/2 used 0/0 q-1: G1/11/101/31 G2/20/200/40 R70/50/100/40"},
        {gsv12 + gsv70 + gsv1 + gsv1 + gsv1, "sys 1 view 1/1 used 0/0 q-1: G1/11/101/31"},
    };
    for (const auto& [text, want] : rows) {
        TNmea nmea;
        for (int r : FeedAll(nmea, text)) EXPECT_EQ(r, SentenceAccepted) << text;
        EXPECT_EQ(nmea.ErrorCount(), 0) << text;
        EXPECT_EQ(SkyDigest(nmea), want) << text;
    }
    // More satellites than it holds: the first Capacity stay, and the record's GPS table is untouched.
    TNmea nmea;
    for (int m = 1; m <= 25; ++m) {
        std::string body = "GBGSV,25," + std::to_string(m) + ",100";
        for (int n = 4 * m - 3; n <= 4 * m; ++n) body += "," + std::to_string(n) + ",10,20,30";
        ASSERT_EQ(Feed(nmea, Sentence(body)).result, SentenceAccepted);
    }
    EXPECT_EQ(nmea.Sky().Count, GnssSky::Capacity);
    EXPECT_EQ(nmea.Sky().Satellites[GnssSky::Capacity - 1].Number, GnssSky::Capacity);
    EXPECT_EQ(nmea.Record().SatellitesInView, 100);
    EXPECT_EQ(nmea.Record().Satellites[0].Elevation, 0);
    nmea.ClearFix();
    EXPECT_EQ(nmea.Sky().Count, 0);
}

TEST(NmeaState, ClearFixValues) {
    TNmea nmea;
    FeedAll(nmea, Sentence(GgaBody) + Sentence("GPRMC,1,A,1,N,1,E,10,20,230394,,") +
                      Sentence("GPGSA,A,3,03,16,17,,,,,,,,,,2.5,1.3,2.1") +
                      Sentence("GPGSV,1,1,03,03,10,11,12,16,20,21,22,17,20,21,22"));
    NavRecord want = Snapshot(nmea);
    ASSERT_EQ(want.Satellites[15].Used + want.Satellites[16].Used, 2);
    nmea.ClearFix();
    want.Speed = want.Course = want.Altitude = 0;
    want.Latitude = want.Longitude = want.Dop1 = want.Dop2 = want.Dop3 = 0;
    want.LatitudeHemisphere = 'N', want.LongitudeHemisphere = 'E', want.Status = 'A';
    want.SatellitesInView = want.SatellitesUsed = 0;
    want.FixQuality = QualityGps, want.FixMode = Mode2D;
    want.Satellites[2].Used = want.Satellites[15].Used = 0;  // only entries 1..16: satellite 17 stays used
    EXPECT_TRUE(SameRecord(nmea.Record(), want));
}

TEST(NmeaState, ResetKeepsErrorsConfigAndRecord) {
    TNmea nmea;
    const int32_t words[10] = {0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    nmea.SetConfig(words);
    FeedAll(nmea, Sentence("GPGSA,A,3,03,,,,,,,,,,,,2.5,1.3,2.1") + "$GNGGA,\r\n" + Sentence(GgaBody));
    ASSERT_EQ(nmea.ErrorCount(), 1);
    ASSERT_EQ(Feed(nmea, "$GPGLL,1,2,3").result, 0);  // a sentence left half read
    const NmeaConfig config = nmea.Config();
    NavRecord want = Snapshot(nmea);

    nmea.Reset();
    want.Updated = 0;
    EXPECT_TRUE(SameRecord(nmea.Record(), want));
    EXPECT_EQ(nmea.ErrorCount(), 1);
    EXPECT_EQ(nmea.Config(), config);
    EXPECT_FALSE(nmea.SentenceSeen());
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
    EXPECT_EQ(nmea.Config(), (NmeaConfig{0x100 | 0x02 | 0x40 | 0x80, 0, 5, 0, 0, 0, 0, 1, 7, 0}));
}

TEST(NmeaState, CountersCapAndEmptyInput) {
    TNmea nmea;
    std::string many;
    for (int i = 0; i < 1030; ++i) many += Gll;
    EXPECT_EQ(FeedAll(nmea, many).size(), 1030u);
    EXPECT_EQ(nmea.SentenceCount(KindGll), TNmea::CounterCap);
    EXPECT_EQ(nmea.SentenceCount(KindVtg), 0);
    int result = 7;
    EXPECT_EQ(nmea.Parse(nullptr, 0, result), 0);
    EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace vantora
