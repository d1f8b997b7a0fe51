// The command-line tools' exit statuses, run as a user runs them: a failure is never status 0,
// and a failing run leaves the user's files as they were.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "logging/trace_convert.h"
#include "tests/support/files.h"
#include "tests/support/sample_stream.h"

namespace vantora {
namespace {

using namespace test;

// Records 1 and 2 of a trace, on the polar axis and at the centre, with other bytes after each.
std::string TraceLog() {
    std::string raw;
    for (uint32_t w : {1u, 2u}) {
        const uint32_t words[5] = {w, 0, 0, w == 2 ? 6356752u : 0u, 0};
        const auto* p = reinterpret_cast<const uint8_t*>(words);
        raw += sample::BinaryFrame(IdReport, TraceRecordId, {p, p + TracePayloadLength}) + "junk";
    }
    return raw;
}

TEST(Tools, ExitStatusOutputAndFilesKept) {
    TempDir dir("tool_exit_test");
    WriteFile(dir.Path("big.bin"), std::string(262144, '\x5a'));
    WriteFile(dir.Path("tracelog.tmp"), TraceLog());
    const struct {
        const char* cmd;
        int status;
        const char* out;  // nullptr: not looked at
        const char* err;  // a part of stderr
        const char *file = nullptr, *start = nullptr;  // what file must start with afterwards
    } cases[] = {
        {"vantora-frame 0x06", 0, "25 25 f1 06 f7 0d 0a \n", ""},
        {"vantora-frame 25 rgGMTsign=1 lbZoneHour=8", 0, "25 25 f1 19 00 f8 00 00 00 10 0d 0a \n", ""},
        {"vantora-frame 1 RSTyear=abc", 1, "", "RSTyear: 'abc' is not a valid integer"},
        {"vantora-frame 1 nosuch=1", 1, "", "nosuch"},
        {"vantora-frame 1 RSTyear", 1, "", "not of the form"},
        {"vantora-frame 0x21", 2, "", "not a command number"},
        {"vantora-frame", 2, "", "CMD is required"},
        // Values the panels would wrap, cut or replace are sent so, with a warning; --strict refuses.
        {"vantora-frame 1 RSTmonth=300", 0, nullptr, "300 does not fit the 8-bit field; 44 is sent"},
        {"vantora-frame 3 lbDx=12m", 0, nullptr, "lbDx: '12m' is read as 12"},
        {"vantora-frame --strict 16 edElvMask=abc", 1, "", "'abc' is not an integer; the default 5 is sent"},
        // Output that cannot be written.
        {"vantora-frame 6 >/dev/full", 1, "", "vantora-frame: cannot write the output"},
        {"vantora-decode big.bin >/dev/full", 1, "", "cannot write the output"},
        // The default files, nothing on stdout, the count on stderr; then the GPX's points.
        {"vantora-trace --geodetic --gpx t.gpx && grep -c '<trkpt' t.gpx", 0, "2\n", "2 records\n", "tracedata.log",
         "0, 1, 90.000000, 0.000000, -6356752.314245, 0, 0, 0\n0, 2, 90.000000, 0.000000, -0.314245, 0, 0, 0\n"},
        // Conversions checked before any output is opened; outputs replaced only on success.
        {"echo keep >o; vantora-trace --gpx /no/x.gpx big.bin o", 1, "", "Cannot write /no/x", "o", "keep\n"},
        {"vantora-trace --gpx o big.bin o", 1, "", "it is also the text output", "o", "keep\n"},
        {"vantora-trace tracelog.tmp tracelog.tmp", 1, "", "it is the raw file", "tracelog.tmp", "%%"},
        {"vantora-trace --gpx tracelog.tmp tracelog.tmp o", 1, "", "it is the raw file", "tracelog.tmp", "%%"},
        {"vantora-trace tracelog.tmp /dev/full", 1, "", "Cannot write /dev/full: No space left"},
        {"vantora-trace . o", 1, "", "Cannot read .: Is a directory", "o", "keep\n"},
        {"vantora-trace missing.tmp o", 1, "", "Cannot read missing.tmp", "o", "keep\n"},
        {"vantora-trace big.bin no/dir/out.log", 1, "", "Cannot write no/dir/out.log"},
        // Usage errors, and an image larger than the area to program unless truncation is asked for.
        {"vantora-flash --port /no/tty --image missing.bin", 3, "", "missing.bin"},
        {"vantora-flash --port /no/tty --image big.bin --size 12x", 3, "", "Size '12x'"},
        {"vantora-flash --port /no/tty --image big.bin --baud 115200", 3, "", "--baud"},
        {"vantora-flash --port /no/tty --image big.bin", 3, "", "more than the 196608 bytes (192 KiB)"},
        {"vantora-flash --port /no/tty --image big.bin --truncate", 3, "", "Nothing is plugged in"},
        // The simulator's record appends, and a write error ends it.
        {"echo keep >r; vantora-sim --record r --hangup-after 0.5", 0, nullptr, "", "r", "keep\n$GP"},
        {"vantora-sim --record /dev/full --hangup-after 5", 1, nullptr, "cannot write /dev/full: No space"},
    };
    for (const auto& c : cases) {
        const std::string tools = "PATH=" VANTORA_BINARY_DIR "/tools:$PATH; { ";
        const std::string line = "cd " + dir.Dir().string() + " && " + tools + c.cmd + "; } >stdout 2>stderr";
        const int rc = std::system(line.c_str());
        EXPECT_EQ(WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, c.status) << c.cmd;
        EXPECT_TRUE(!c.out || Slurp(dir.Path("stdout")) == c.out) << c.cmd;
        EXPECT_NE(Slurp(dir.Path("stderr")).find(c.err), std::string::npos) << c.cmd;
        EXPECT_TRUE(!c.file || Slurp(dir.Path(c.file)).rfind(c.start, 0) == 0) << c.cmd;
    }
}

}  // namespace
}  // namespace vantora
