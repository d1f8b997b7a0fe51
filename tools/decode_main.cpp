// vantora-decode: a raw byte stream (a log recorded by the viewer, or stdin) through the
// framing lexer and both parsers, printed as JSON lines.
#include <CLI/CLI.hpp>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string_view>
#include <iostream>
#include <vector>

#include "protocol/binary.h"
#include "protocol/frame.h"
#include "protocol/nmea.h"
#include "protocol/splitter.h"
#include "tools/decode_json.h"
#include "tools/output_check.h"
#include "view/display_text.h"

using json = nlohmann::ordered_json;

namespace vantora {
namespace {

void Print(const json& j) {
    std::cout << j.dump(-1, ' ', false, json::error_handler_t::replace) << '\n';
}

json FixLine(const char* source, const NavRecord& rec) {
    json j{{"type", "fix"}, {"source", source}};
    const json fields = NavRecordJson(rec);
    for (const auto& [k, v] : fields.items()) j[k] = v;
    return j;
}

json FixLine(const TNmea& nmea) {
    json j = FixLine("nmea", nmea.Record());
    j["fix_state"] = FixStateName(nmea.Record(), nmea.Sky());
    j["sky"] = SkyJson(nmea.Sky());
    return j;
}

json ControlsJson(const ControlTexts& texts) {
    json j = json::object();
    for (const auto& [control, text] : texts) j[control] = text;
    return j;
}

json ProgressJson(const char* bar, const char* label, const ProgressTexts& p) {
    return json{{bar, std::to_string(p.Position)}, {label, p.Label}};
}

// Each display a decoded frame asks for, with the texts the window would show; printed
// after the frame's own line.
class ReplyPrinter : public ReplyDisplay {
public:
    explicit ReplyPrinter(const ReceiverTables& tables) : tables_(tables) {}
    void Attach(const TBinary& binary) { binary_ = &binary; }

    void ShowAck(uint8_t) override { Emit("ACK", json{{"rbACK", "checked"}}); }
    void ShowNak(uint8_t) override { Emit("NAK", json{{"rbNACK", "checked"}}); }
    void ShowClockOffset() override { Emit("clock offset", ControlsJson(ClockOffsetTexts(binary_->ClockOffset))); }
    void ShowRevision() override { Emit("revision", ControlsJson(RevisionTexts(binary_->Revision))); }
    void ShowBuiltInTest() override { Emit("built-in test", ControlsJson(BuiltInTestTexts(binary_->TestResults))); }
    void ShowEphemerisProgress() override {
        Emit("ephemeris progress", ProgressJson("pbReadEphs", "lbReadEphs", EphemerisProgress(tables_)));
    }
    void ShowAlmanacProgress() override {
        Emit("almanac progress", ProgressJson("pbReadAlmc", "lbReadAlmc", AlmanacProgress(tables_)));
    }
    // The window shows the ID of the kind selected in rgID; the form selects "User Key ID".
    void ShowModuleId() override { Emit("module ID", json{{"edModuleID", ModuleIdText(tables_, 1)}}); }
    void ShowNavigationSetting(const uint8_t* p) override {
        Emit("navigation setting", json::object(), NavigationSettingLines(p));
    }
    void ShowSystemSetting(const uint8_t* p) override {
        Emit("system setting", json::object(), SystemSettingLines(p));
    }
    void ShowTraceStatus() override {
        const TraceStatusTexts t = FormatTraceStatus(binary_->Trace);
        json controls = json::object();
        if (t.Status) controls["lbTrcStatus"] = *t.Status;
        for (const auto& [control, text] : t.Fields) controls[control] = text;
        if (t.Status) controls["lbTraceStatus"] = *t.Status;
        Emit("trace status", controls);
    }
    void TraceRecordReceived() override {}

    // The grid keeps what a row showed when a new record leaves it alone.
    void ShowMeasurementGrid(const NavRecord& rec) {
        const MeasurementTexts m = FormatMeasurementGrid(rec);
        for (size_t i = 0; i < m.Rows.size(); ++i)
            if (m.Rows[i]) grid_[i] = *m.Rows[i];
        json rows = json::array();
        for (size_t i = 0; i < grid_.size(); ++i) {
            json row = json::array({std::to_string(i + 1)});
            for (const std::string& cell : grid_[i]) row.push_back(cell);
            rows.push_back(row);
        }
        json j{{"type", "reply"}, {"display", "measurement grid"}, {"controls", ControlsJson(m.Fields)}};
        j["rows"] = rows;
        pending_.push_back(j);
    }

    void Flush() {
        for (const json& j : pending_) Print(j);
        pending_.clear();
    }

private:
    void Emit(const char* name, json controls, const std::vector<std::string>& lines = {}) {
        json j{{"type", "reply"}, {"display", name}, {"controls", std::move(controls)}};
        if (!lines.empty()) j["lines"] = lines;
        pending_.push_back(std::move(j));
    }

    const ReceiverTables& tables_;
    const TBinary* binary_ = nullptr;
    std::array<std::array<std::string, 9>, 12> grid_{};
    std::vector<json> pending_;
};

class DecodeSink : public SplitterSink {
public:
    DecodeSink(TNmea& nmea, TBinary& binary, ReplyPrinter& replies, bool every)
        : nmea_(nmea), binary_(binary), replies_(replies), every_(every) {}

    void ItemEnded(const SplitItem& item) override {
        json j;
        if (item.Type == TLexer::Garbage) {
            Print(json{{"type", "garbage"}, {"bytes", item.Size}});
            return;
        }
        if (item.Type == TLexer::Frame) {
            j = {{"type", "frame"}};
            if (!item.Rejected || std::string_view(item.Rejected) == "checksum") {
                j["id1"] = binary_.LastId1();
                j["id2"] = binary_.LastId2();
            }
            j["checksum_ok"] = item.Result == 1;
            j["text"] = FormatFrameHex(reinterpret_cast<const uint8_t*>(item.Raw.data()),
                                       static_cast<int>(item.Raw.size()));
        } else {
            j = {{"type", "sentence"},
                 {"key", item.Kind >= 0 ? json(SentenceKeys[item.Kind]) : json(nullptr)},
                 {"result", item.Result},
                 {"text", std::string(item.Line)}};
        }
        if (item.Rejected) j["rejected"] = item.Rejected;
        if (item.Abandoned) j["abandoned"] = true;
        Print(j);
        replies_.Flush();
        // As a receive pass would: the NMEA record first, the binary one at the next item.
        if (nmea_.Record().Updated) {
            nmea_.Record().Updated = 0;
            if (every_) Print(FixLine(nmea_));
        } else if (binary_.Record().Updated) {
            binary_.Record().Updated = 0;
            if (every_) Print(FixLine("binary", binary_.Record()));
            replies_.ShowMeasurementGrid(binary_.Record());
            replies_.Flush();
        }
    }

private:
    TNmea& nmea_;
    TBinary& binary_;
    ReplyPrinter& replies_;
    bool every_;
};

int Decode(std::istream& in, bool every) {
    ManualClock clock;  // a recorded stream has no timing: nothing is abandoned by time
    ReceiverTables tables{};
    ReplyPrinter replies(tables);
    TNmea nmea;
    TBinary binary(replies, tables);
    replies.Attach(binary);
    DecodeSink sink(nmea, binary, replies, every);
    TStreamSplitter splitter(nmea, binary, clock, sink);
    // The receive thread reads at most 2048 bytes a pass; feed the stream the same way.
    char buf[2048];
    while (in) {
        in.read(buf, sizeof buf);
        const auto n = in.gcount();
        if (n > 0) splitter.Feed(reinterpret_cast<const uint8_t*>(buf), static_cast<int>(n));
    }
    splitter.Finish();  // what the stream left open is reported as abandoned
    if (in.bad()) {
        std::cerr << "vantora-decode: read error\n";
        return 1;
    }
    replies.Flush();  // a frame still open at the end of the stream may have asked for one
    Print(FixLine(nmea));
    Print(FixLine("binary", binary.Record()));
    Print(StatsJson(nmea, splitter));
    return 0;
}

}  // namespace
}  // namespace vantora

int main(int argc, char** argv) {
    CLI::App app{
        "Decodes a raw receiver stream (a log recorded by the viewer, or stdin) into JSON lines:\n"
        "  {\"type\":\"sentence\",\"key\",\"result\",\"text\"}  every NMEA sentence, taken or not\n"
        "  {\"type\":\"frame\",\"id1\",\"id2\",\"checksum_ok\",\"text\"}  every binary frame (text in hex)\n"
        "    a rejected one adds \"rejected\": checksum, fields, kind, length, framing or cut;\n"
        "    one still open after 3 s (or at the end of the stream) adds \"abandoned\":true\n"
        "  {\"type\":\"garbage\",\"bytes\":N}  each run of bytes that is neither\n"
        "  {\"type\":\"reply\",\"display\",\"controls\"}  what a decoded frame has the window show\n"
        "then the last fix of each parser ({\"type\":\"fix\"}; the NMEA one adds \"fix_state\", the View page's\n"
        "word for the fix: GGA's own word for its quality (\"RTK\", \"Float\", \"DR\", \"Sim\") when it has one,\n"
        "else \"No fix\", \"2D\", \"3D\" or \"3D+\"; and \"sky\": every constellation's satellites in report order, each\n"
        "{\"system\",\"number\",\"signal\",\"elevation\",\"azimuth\",\"cn0\",\"used\"}) and the statistics: {\"type\":\"stats\",\n"
        "\"errors\" (items rejected, as the window's error field counts them), \"garbage_bytes\",\n"
        "\"bad_frames\", \"counters\" (sentences taken per kind, every talker's)}."};
    std::string input;
    bool every = false;
    app.add_option("FILE", input, "raw log to decode, or - for standard input")->required();
    app.add_flag("--every", every, "also print a fix line after each update of either record");
    CLI11_PARSE(app, argc, argv);

    std::ios::sync_with_stdio(false);
    if (input == "-") return vantora::CheckedExit("vantora-decode", vantora::Decode(std::cin, every));
    std::ifstream file(input, std::ios::binary);
    if (!file) {
        std::cerr << "vantora-decode: cannot read " << input << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    return vantora::CheckedExit("vantora-decode", vantora::Decode(file, every));
}
