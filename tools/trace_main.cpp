// vantora-trace: converts a raw trace file into the text file the Trace page's Convert writes,
// optionally with a GPX track of the same records.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>

#include "logging/trace_convert.h"
#include "tools/output_check.h"

using namespace vantora;

int main(int argc, char** argv) {
    CLI::App app{
        "Finds the trace data records (F2h 88h frames with a good checksum) in IN, the raw bytes\n"
        "received during a trace read, and writes one line per record to OUT, as the Trace page's\n"
        "Convert does. Other traffic in IN is skipped; OUT (and the GPX file) are replaced only when\n"
        "the conversion succeeds.\n"
        "  ECEF form (default): W1, W2, X, Y, Z, F1, F2, F3\n"
        "  geodetic form:       W1, W2, latitude, longitude, height, F1, F2, F3\n"
        "W1 and W2 are bits 20..31 and 0..19 of the record's first word; X, Y, Z the earth-centred\n"
        "position in metres; latitude and longitude in degrees and height in metres above the WGS-84\n"
        "ellipsoid, six decimals; F1 is the flag word AND 2FFh, F2 and F3 its bits 13 and 12.\n"
        "Example lines: \"75, 43200, 4194304, 171887, 4776591, 85, 1, 1\" and\n"
        "               \"75, 43200, 48.880892, 2.346728, -6991.918630, 85, 1, 1\".\n"
        "Exit codes: 0 done (\"N records\" on stderr), 1 IN unreadable or an output unwritable,\n"
        "2 usage error.",
        "vantora-trace"};
    bool geodetic = false;
    std::string gpxPath;
    std::string in = TraceRawFileName;
    std::string out = TraceTextFileName;
    app.add_flag("--geodetic", geodetic, "Write the geodetic form instead of the ECEF form");
    app.add_option("--gpx", gpxPath,
                   "Also write the records' positions to FILE as a GPX 1.1 track, one trkpt per record "
                   "(lat, lon in degrees, ele the height in metres)")
        ->type_name("FILE");
    app.add_option("IN", in, "Raw trace file to read")->capture_default_str();
    app.add_option("OUT", out, "Text file to write, one line per record")->capture_default_str();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "vantora-trace: " << e.what() << "\nRun with --help for more information.\n";
        return 2;
    }

    std::string error;
    const TraceResult result =
        ConvertTrace(in, out, geodetic ? TraceForm::Geodetic : TraceForm::Ecef, nullptr, error, gpxPath);
    if (!result.Ok()) {
        std::cerr << "vantora-trace: " << error << "\n";
        return 1;
    }
    std::cerr << result.Records << " records\n";
    return CheckedExit("vantora-trace", 0);
}
