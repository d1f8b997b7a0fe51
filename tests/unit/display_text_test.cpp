#include "view/display_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <memory>

namespace vantora {
namespace {

// A display's control names and texts as one string, so a table row checks the whole display.
std::string Join(const ControlTexts& texts) {
    std::string s;
    for (const auto& [name, text] : texts) s += name + "=" + text + " ";
    return s;
}
using TextCase = std::tuple<const char*, std::string, std::string>;  // what, got, want
void Check(std::initializer_list<TextCase> cases) {
    for (const auto& [what, got, want] : cases) EXPECT_EQ(got, want) << what;
}

TEST(SkyPlot, PointsTruncateAndTheInViewListIsBounded) {
    const int sky[][4] = {
        {90, 0, 0, 0},    {0, 90, 90, 0},           {0, 0, 0, 89}, {0, 180, 0, -89}, {0, 270, -89, 0},
        {45, 45, 31, 31}, {INT_MIN, 90, INT_MAX, 0}};  // e, a, x, y
    for (auto [e, a, x, y] : sky) EXPECT_EQ(SkyPosition(e, a), std::make_pair(x, y)) << e << " " << a;
    NavRecord rec{};
    for (int k = 0; k < 16; ++k)
        rec.InView[k] = 20 + k, rec.Satellites[19 + k] = {0, 45, 45, 30 + k, k % 3 == 0, 0};
    rec.SatellitesInView = 10;
    const SkyView v = ComputeSkyView(rec, nullptr, 12);
    std::string order;  // "+" marks a used satellite: green bar and green circle
    for (size_t k = 0; k < v.Bars.size(); ++k)
        order += std::to_string(v.Bars[k].Number) + (v.Bars[k].Used ? "+/" : "/") +
                 std::to_string(v.Points[k].Number) + (v.Points[k].Used ? "+ " : " ");
    EXPECT_EQ(order, "20+/20+ 21/21 22/22 23+/23+ 24/24 25/25 26+/26+ 27/27 28/28 29+/29+ ");
    EXPECT_EQ(std::tie(v.Points[9].X, v.Points[9].Y, v.Bars[9].Value), std::tuple(31, 31, 39));
    rec.InView[1] = 65;  // outside the satellite table: skipped like the empty slots
    for (int count : {1000, -3}) {
        rec.SatellitesInView = count;
        EXPECT_EQ(ComputeSkyView(rec, nullptr, 12).Points.size(), count > 0 ? 15u : 0u) << count;
    }
}

std::string Hex(Rgb c) {
    char s[8];
    std::snprintf(s, sizeof s, "%02X%02X%02X", c.R, c.G, c.B);
    return s;
}
// Points, then bars, width and legend: "label+(used)@x,y fill/outline".
std::string Describe(const SkyView& v) {
    std::string s;
    for (const SkyPoint& p : v.Points)
        s += p.Label + (p.Used ? "+" : "") + "@" + std::to_string(p.X) + "," + std::to_string(p.Y) + " " +
             Hex(p.Fill) + "/" + Hex(p.Outline) + " ";
    s += "|";
    for (const Cn0Bar& b : v.Bars)
        s += " " + b.Label + "=" + std::to_string(b.Value) + " " + Hex(b.Fill) + "/" + Hex(b.Outline);
    s += " | " + std::to_string(v.Width) + " |";
    for (const LegendEntry& e : v.Legend) s += " " + e.Name + "=" + Hex(e.Color);
    return s;
}

// Every constellation in report order, each in its colours; a GPS-only sky draws what the
// record's in-view list draws; without a sky (binary) the record as always.
TEST(SkyPlot, ConstellationsColoursAndTheRecordsOwnSky) {
    NavRecord rec{};
    rec.SatellitesInView = 3, rec.InView[0] = 7, rec.InView[1] = 30, rec.InView[2] = 2;
    rec.Satellites[6] = {0, 90, 0, 44, 1, 0}, rec.Satellites[29] = {0, 0, 90, 21, 0, 0};
    rec.Satellites[1] = {0, 45, 45, 38, 1, 0};
    GnssSky gps{}, mixed{}, empty{};
    gps.Count = 3;
    gps.Satellites[0] = {SystemGps, 0, 1, 0, 7, 90, 0, 44};
    gps.Satellites[1] = {SystemGps, 0, 0, 0, 30, 0, 90, 21};
    gps.Satellites[2] = {SystemGps, 0, 1, 0, 2, 45, 45, 38};
    mixed.Count = 4;
    mixed.Satellites[0] = {SystemGlonass, 1, 0, 0, 12, 0, 90, 20};
    mixed.Satellites[1] = {SystemGps, 1, 1, 0, 5, 90, 0, 40};
    mixed.Satellites[2] = {SystemGalileo, 1, 1, 0, 5, 45, 45, 35};
    mixed.Satellites[3] = {SystemBeidou, 1, 0, 0, 23, 0, 90, 0};
    const std::string record = Describe(ComputeSkyView(rec, nullptr, 12));
    Check({{"binary", record,
            "7+@0,0 008000/008000 30@90,0 FFFFFF/FFFFFF 2+@31,31 008000/008000 "
            "| 7=44 008000/FFFFFF 30=21 FFFFFF/FFFFFF 2=38 008000/FFFFFF | 12 |"},
           {"GPS-only sky", Describe(ComputeSkyView(rec, &gps, 12)), record},
           {"empty sky", Describe(ComputeSkyView(rec, &empty, 12)), record},
           {"four systems, wider than the channels", Describe(ComputeSkyView(rec, &mixed, 2)),
            "R12@90,0 FFFFFF/D62828 5+@0,0 008000/008000 E5+@31,31 2F80E8/2F80E8 C23@90,0 FFFFFF/C87800 "
            "| R12=20 FFFFFF/D62828 5=40 008000/FFFFFF E5=35 2F80E8/2F80E8 C23=0 FFFFFF/C87800 | 4 |"
            " GPS=008000 GLONASS=D62828 Galileo=2F80E8 BeiDou=C87800"}});
}

TEST(FixTexts, FieldsAndFixModes) {
    NavRecord rec{};
    rec.Year = 2005, rec.Month = 7, rec.Day = 4, rec.Hour = 9, rec.Minute = 5, rec.FixMode = 7;
    rec.Latitude = 2503.1234f, rec.LatitudeHemisphere = 'N', rec.Longitude = 12130.5f;
    rec.LongitudeHemisphere = 'E';
    const FixTexts t = FormatFix(rec, nullptr);
    EXPECT_EQ(t.Fix, std::nullopt);
    rec.Latitude = 12.5f, rec.LatitudeHemisphere = '\0';  // never filled: a blank, not the text's end
    Check({{"time", t.Time, "2005/7/4\n9:5:0"},
           {"lat", t.Latitude, "2503.1233 N"},
           {"long", t.Longitude, "12130.5000 E"},
           {"short lat", FormatFix(rec, nullptr).Latitude, "  12.5000  "}});
    const std::pair<std::string, Rgb> modes[] = {
        {"No fix", FixGrey}, {"2D", FixGreen}, {"3D", FixRed}, {"3D+", FixRed}};
    for (rec.FixMode = 0; rec.FixMode < 4; ++rec.FixMode)
        EXPECT_EQ(FormatFix(rec, nullptr).Fix, modes[rec.FixMode]);
    // GGA's own states name the fix; other qualities leave the fix mode's word.
    GnssSky sky{};
    rec.FixMode = Mode3D, rec.SatellitesInView = 9, rec.SatellitesUsed = 6;
    const std::pair<int, std::pair<std::string, Rgb>> qualities[] = {{GgaRtk, {"RTK", FixRed}},
                                                                     {GgaFloat, {"Float", FixOrange}},
                                                                     {GgaDeadReckoning, {"DR", FixGreyBlue}},
                                                                     {GgaSimulation, {"Sim", FixGreyBlue}},
                                                                     {GgaNone, {"3D", FixRed}},
                                                                     {GgaGps, {"3D", FixRed}},
                                                                     {GgaDifferential, {"3D", FixRed}},
                                                                     {GgaManual, {"3D", FixRed}}};
    for (const auto& [quality, fix] : qualities) {
        sky.Quality = static_cast<int8_t>(quality);
        EXPECT_EQ(FormatFix(rec, &sky).Fix, fix) << quality;
    }
    // Counts cover every constellation once the sky holds satellites.
    const FixTexts empty = FormatFix(rec, &sky);
    sky.Count = 30, sky.InView = 30, sky.Used = 21;
    const FixTexts full = FormatFix(rec, &sky);
    EXPECT_EQ(empty.InView + "/" + empty.Used + " " + full.InView + "/" + full.Used, "9/6 30/21");
    EXPECT_EQ(std::string(ActivityMark(0)) + ActivityMark(1) + ActivityMark(UINT32_MAX), "XOO");
}

TEST(ReplyTexts, EveryDisplay) {
    NullReplyDisplay display;
    auto tables = std::make_unique<ReceiverTables>();
    TBinary bin(display, *tables);
    uint8_t rev[24] = {0xF2, 0x80, 'R',  'e',  'v',  '1',  '2',  '3',  '4',  '5',  '6',  '7',
                       '8',  '9',  0x05, 0x12, 0x07, 0x00, 0x30, 0x59, 0x23, 0x00, 0xCD, 0xAB};
    bin.Dispatch(MsgRevision, rev, sizeof rev);  // a full 12-character label has no zero byte
    const std::string revision = Join(RevisionTexts(bin.Revision));
    bin.Revision.Date = 0xAB071205, bin.Revision.Label[3] = '\0';
    const std::string odd = Join(RevisionTexts(bin.Revision));
    uint8_t bit[18] = {0xF2, 0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    bin.Dispatch(MsgBuiltInTest, bit, sizeof bit);
    const std::string tests = Join(BuiltInTestTexts(bin.TestResults));
    bin.ClearTestResults(), bin.ClearRevision();
    uint8_t eph[124] = {0xF2, 0x83, 9};
    for (uint8_t n : {3, 5, 3}) eph[3] = n, bin.Dispatch(MsgEphemeris, eph, sizeof eph);
    tables->ModuleIds[1] = 42;
    uint8_t nav[18] = {0, 9, 0, 0, 0, 0, 7, 1, 2, 5}, sys[48] = {};
    sys[10] = 9, sys[16] = 0x17, sys[25] = 0x40, sys[38] = sys[39] = 0xFF;  // little-endian A = 2.0 at 18
    const std::vector<std::string> n = NavigationSettingLines(nav), y = SystemSettingLines(sys);
    Check(
        {{"revision", revision, "lbRevision=Rev123456789 lbRevDate=07/12/05 lbRevTime=23:59:30 lbCRC=abcd "},
         {"odd revision", odd, "lbRevision=Rev lbRevDate=ab07/12/05 lbRevTime=23:59:30 lbCRC=abcd "},
         {"no revision", Join(RevisionTexts(bin.Revision)), "lbRevision= lbRevDate= lbRevTime= lbCRC= "},
         {"test FFFFh", tests, "lbResult1=65535 lbResult2=65535 lbResult3=65535 lbResult4=65535 "},
         {"no test", Join(BuiltInTestTexts(bin.TestResults)), "lbResult1= lbResult2= lbResult3= lbResult4= "},
         {"clock", Join(ClockOffsetTexts(0)) + Join(ClockOffsetTexts(65535)),
          "lbClockOffSet= lbClockOffSet=65535 "},
         {"ephs", EphemerisProgress(*tables).Label, "2 / 9"},
         {"module", ModuleIdText(*tables, 1) + ModuleIdText(*tables, 2) + ModuleIdText(*tables, -1), "42"},
         {"navigation", n[1] + "|" + n[4] + "|" + n[5],
          "DOP Mask= Unknown|DGPS= Unknown|1PPS= ON, Pulse Width= 100 us"},
         {"system", y[4] + "|" + y[7] + "|" + y[8] + "|" + y[12],
          "Output= Unknown|Ellipsoid Index= 23|            A= 2.000000|            Delta Z= -1"},
         {"trace", Join(FormatTraceStatus({1, 40, 1200, 17}).Fields),
          "lbTrcReadPos=17 lbTrcPct=40 lbTrcLogged=1200 lbTraceUsed=40 lbTraceNum=1200 lbReadTrcPos=17 "},
         {"state",
          FormatTraceStatus({1, 0, 0, 0}).Status.value_or("") +
              FormatTraceStatus({5, 0, 0, 0}).Status.value_or("kept"),
          "Recording...kept"},
         {"progress",
          FormatTraceReadProgress(1, 3).Progress + FormatTraceReadProgress(3, 0).Progress +
              FormatTraceReadProgress(3, -1).Progress,
          "33"}});
}

TEST(MeasurementGrid, RowsWithinTheCountEmptyBeyondKeptOtherwise) {
    NavRecord rec{};
    rec.MeasurementTime = 123456.789, rec.Tb = -2e-9, rec.SatellitesInView = 4;
    const int prns[12] = {7, 64, 0, 65, 9, 9, 9, 9, 9, 9, 9, 9};
    for (int i = 0; i < 12; ++i) rec.Channels[i] = {prns[i], 20000000, -i, -300};
    rec.Satellites[6] = {0, 45, -10, 41, 1, 0x1A3};
    rec.Satellites[63] = {3, 5, 359, 20, 0, 0};
    const MeasurementTexts t = FormatMeasurementGrid(rec);
    using Row = std::array<std::string, 9>;
    EXPECT_EQ(t.Fields[1].second + " " + t.Fields[3].second, "123456.789 -2e-09");
    EXPECT_EQ(t.Rows[0], (Row{"7", "1A3", "20000000", "0", "-300", "41", "45", "-10", "good"}));
    EXPECT_EQ(t.Rows[1].value_or(Row{})[8], "3");
    EXPECT_EQ(t.Rows[2], std::nullopt);  // satellites 0 and 65 within the count: rows keep their texts
    EXPECT_EQ(t.Rows[3], std::nullopt);
    for (int i = 4; i < 12; ++i) EXPECT_EQ(t.Rows[i], Row{}) << i + 1;
}

}  // namespace
}  // namespace vantora
