#include "logging/trace_convert.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <random>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/sample_stream.h"

namespace vantora {
namespace {

static_assert(std::endian::native == std::endian::little, "words are put in host order");

// A trace data record frame (any first identifier byte) as the raw file holds it.
std::string Record(uint32_t w, int32_t x = 0, int32_t y = 0, int32_t z = 0, uint16_t f = 0,
                   uint8_t id1 = IdReport) {
    const uint32_t words[5] = {w, uint32_t(x), uint32_t(y), uint32_t(z), f};
    const auto* p = reinterpret_cast<const uint8_t*>(words);
    return sample::BinaryFrame(id1, TraceRecordId, {p, p + TracePayloadLength});
}

std::string Changed(std::string b, size_t at, char v) {
    b[at] = v;
    return b;
}

// Words of the records found with the data fed in blocks, carrying the tail as the file reader does.
std::vector<uint32_t> Scan(const std::string& data, size_t block) {
    std::vector<uint32_t> words;
    std::string buf;
    for (size_t at = 0;; at += block) {
        const std::string part = at < data.size() ? data.substr(at, block) : "";
        buf += part;
        const size_t rest =
            ScanTraceRecords(reinterpret_cast<const uint8_t*>(buf.data()), buf.size(), part.empty(),
                             [&](const TraceRecord& r) { words.push_back(r.Word); });
        EXPECT_LT(buf.size() - rest, size_t(TraceFrameLength));
        buf.erase(0, rest);
        if (part.empty()) return words;
    }
}

std::string Line(const TraceRecord& r, TraceForm form) {
    char out[TraceLineCapacity];
    return std::string(out, FormatTraceLine(r, form, out));
}

using namespace test;

TEST(TraceLine, BothFormsByteForByte) {
    const TraceRecord paris{0x04B0A8C0, 4194304, 171887, 4776591, 0x3155};
    const struct {
        TraceRecord r;
        TraceForm form;
        const char* line;
    } cases[] = {
        // W splits into its top 12 and low 20 bits; F AND 2FFh drops bit 8, then bits 13 and 12;
        // the extremes need no printf to come out right.
        {paris, TraceForm::Geodetic, "75, 43200, 48.880892, 2.346728, -6991.918630, 85, 1, 1\n"},
        {{0xFFFFFFFF, INT32_MIN, INT32_MAX, -1, 0x0100},
         TraceForm::Ecef,
         "4095, 1048575, -2147483648, 2147483647, -1, 0, 0, 0\n"},
        // On the polar axis: the stored 1.5707963267949 as latitude, |Z| - b as height (the north
        // pole and the centre are in the trace tool's own test).
        {{0, 0, 0, -6356752, 0}, TraceForm::Geodetic, "0, 0, -90.000000, 0.000000, -0.314245, 0, 0, 0\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(Line(c.r, c.form), c.line);

    // The lines are formatted without printf; they must still be what its formats print.
    std::mt19937 rng(7);
    char want[TraceLineCapacity];
    for (int i = 0; i < 20000; ++i) {
        const TraceRecord r{uint32_t(rng()), int32_t(rng()) >> (i % 9), int32_t(rng()) >> (i % 5),
                            int32_t(rng()) >> (i % 7), uint16_t(rng())};
        const TracePosition p = TraceRecordPosition(r);
        const int a = int(r.Word >> 20), b = int(r.Word & 0xFFFFF), f = r.Flags & 0x2FF;
        std::snprintf(want, sizeof want, "%d, %d, %d, %d, %d, %d, %d, %d\n", a, b, r.X, r.Y, r.Z, f,
                      r.Flags >> 13 & 1, r.Flags >> 12 & 1);
        ASSERT_EQ(Line(r, TraceForm::Ecef), want);
        std::snprintf(want, sizeof want, "%d, %d, %f, %f, %f, %d, %d, %d\n", a, b, p.LatitudeDeg,
                      p.LongitudeDeg, p.Height, f, r.Flags >> 13 & 1, r.Flags >> 12 & 1);
        ASSERT_EQ(Line(r, TraceForm::Geodetic), want);
    }
}

TEST(TraceScan, FindsValidRecordsAmongOtherBytes) {
    const std::string r1 = Record(1, 10, 20, 30), r2 = Record(2), r3 = Record(3), cut = r2.substr(0, 15);
    const std::string gga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
    const std::string status = "%%\xF2\x89\x01\x02\x03\x04\x05\x06\x07\x7F\r\n";
    const struct {
        const char* name;
        std::string stream;
        std::vector<uint32_t> words;
    } cases[] = {
        {"empty", "", {}},
        {"with NMEA and other frames", gga + r1 + status + r2 + gga + r3, {1, 2, 3}},
        {"06h 15h F1h accepted",
         Record(4, 0, 0, 0, 0, 0x06) + Record(5, 0, 0, 0, 0, 0x15) + Record(6, 0, 0, 0, 0, 0xF1),
         {4, 5, 6}},
        {"00h refused", Record(7, 0, 0, 0, 0, 0x00) + r2, {2}},
        {"bad checksum", Changed(r1, 22, r1[22] ^ 1) + r2, {2}},
        {"not 88h, checksum right", sample::BinaryFrame(IdReport, 0x86, {r1.begin() + 4, r1.begin() + 22}) + r2, {2}},
        {"broken line end", Changed(r1, 23, '\n') + Changed(r3, 24, '\r') + r2, {2}},
        {"cut at the end", r1 + cut, {1}},
        // A cut record, or stray "%" bytes, must not swallow the good record behind them.
        {"cut record then a record", cut + r3, {3}},
        {"three % before records", "%" + r1 + "%%%" + r2, {1, 2}},
        {"record inside a false start", r1.substr(0, 6) + r2 + r3, {2, 3}},
    };
    for (const auto& c : cases)
        for (size_t block : {1 << 20, 1, 2, 7, 24, 25, 26})
            EXPECT_EQ(Scan(c.stream, block), c.words) << c.name;
}

TEST(TraceConvert, BothFormsGpxEmptyInputLongInputProgressAndCancel) {
    TempDir dir("trace_convert_test");
    WriteFile(dir.Path("raw"), "$GPGSA,A,3*00\r\n%%" + Record(0x04B0A8C0, 4194304, 171887, 4776591, 0x3155) +
                                   Record(1, -6378137, 0, 0, 0x0100));
    std::string error;
    TraceResult r =
        ConvertTrace(dir.Path("raw"), dir.Path("ecef"), TraceForm::Ecef, nullptr, error, dir.Path("gpx"));
    ASSERT_TRUE(r.Ok()) << error;
    EXPECT_EQ(r.Records, 2);
    EXPECT_EQ(Slurp(dir.Path("ecef")),
              "75, 43200, 4194304, 171887, 4776591, 85, 1, 1\n0, 1, -6378137, 0, 0, 0, 0, 0\n");
    // GPX longitudes stay below 180: the antimeridian point is written as -180.
    EXPECT_EQ(Slurp(dir.Path("gpx")),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<gpx version=\"1.1\" creator=\"vantora-trace\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
              "<trk>\n<trkseg>\n"
              "<trkpt lat=\"48.880892\" lon=\"2.346728\"><ele>-6991.918630</ele></trkpt>\n"
              "<trkpt lat=\"0.000000\" lon=\"-180.000000\"><ele>0.000000</ele></trkpt>\n"
              "</trkseg>\n</trk>\n</gpx>\n");

    WriteFile(dir.Path("empty"), "");
    ASSERT_TRUE(
        ConvertTrace(dir.Path("empty"), dir.Path("geo"), TraceForm::Geodetic, nullptr, error, dir.Path("gpx"))
            .Ok());
    EXPECT_EQ(Slurp(dir.Path("geo")), "");
    EXPECT_NE(Slurp(dir.Path("gpx")).find("<trkseg>\n</trkseg>\n</trk>\n</gpx>\n"), std::string::npos);

    // The second record straddles the end of the first 1 MiB block; then a long run of "%".
    const std::string raw =
        std::string((1 << 20) - 35, 'x') + Record(1) + Record(2) + std::string(1 << 20, '%') + Record(3);
    WriteFile(dir.Path("raw"), raw);
    int64_t last = 0;
    const auto progress = [&](int64_t done, int64_t total) {
        EXPECT_EQ(total, int64_t(raw.size()));
        last = done;
        return true;
    };
    ASSERT_TRUE(ConvertTrace(dir.Path("raw"), dir.Path("out"), TraceForm::Ecef, progress, error).Ok())
        << error;
    EXPECT_EQ(Slurp(dir.Path("out")),
              "0, 1, 0, 0, 0, 0, 0, 0\n0, 2, 0, 0, 0, 0, 0, 0\n0, 3, 0, 0, 0, 0, 0, 0\n");
    EXPECT_EQ(last, int64_t(raw.size()));
    const auto stop = [](int64_t, int64_t) { return false; };
    EXPECT_EQ(ConvertTrace(dir.Path("raw"), dir.Path("out"), TraceForm::Ecef, stop, error).Status,
              ConvertStatus::Cancelled);
}

}  // namespace
}  // namespace vantora
