// vantora-decode: a raw byte stream (a log recorded by the viewer, or stdin) through the
// stream splitter and both parsers, printed as JSON lines.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <vector>

#include "app/cli/decode_json.h"
#include "protocol/binary.h"
#include "protocol/frame.h"
#include "protocol/nmea.h"
#include "protocol/splitter.h"

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

// Names each display a decoded frame asks for; printed after the frame's own line.
class ReplyPrinter : public ReplyDisplay {
public:
    void ShowAck(uint8_t) override { Emit("ACK"); }
    void ShowNak(uint8_t) override { Emit("NAK"); }
    void ShowClockOffset() override { Emit("clock offset"); }
    void ShowRevision() override { Emit("revision"); }
    void ShowBuiltInTest() override { Emit("built-in test"); }
    void ShowEphemerisProgress() override { Emit("ephemeris progress"); }
    void ShowAlmanacProgress() override { Emit("almanac progress"); }
    void ShowModuleId() override { Emit("module ID"); }
    void ShowNavigationSetting(const uint8_t*) override { Emit("navigation setting"); }
    void ShowSystemSetting(const uint8_t*) override { Emit("system setting"); }
    void ShowTraceStatus() override { Emit("trace status"); }
    void TraceRecordReceived() override {}

    void Flush() {
        for (const json& j : pending_) Print(j);
        pending_.clear();
    }

private:
    void Emit(const char* name) { pending_.push_back(json{{"type", "reply"}, {"display", name}}); }
    std::vector<json> pending_;
};

class DecodeSink : public SplitterSink {
public:
    DecodeSink(TNmea& nmea, TBinary& binary, ReplyPrinter& replies, bool every)
        : nmea_(nmea), binary_(binary), replies_(replies), every_(every) {}

    void ItemEnded(const SplitItem& item) override {
        json j;
        if (item.Binary) {
            j = {{"type", "frame"}};
            if (!item.Abandoned) {
                j["id1"] = binary_.LastId1();
                j["id2"] = binary_.LastId2();
            }
            j["checksum_ok"] = item.Result == 1;
            j["text"] = FormatFrameHex(reinterpret_cast<const uint8_t*>(item.Raw.data()),
                                       static_cast<int>(item.Raw.size()));
        } else {
            const std::string key = SentenceKeyOf(item.Line);
            j = {{"type", "sentence"}, {"key", key.empty() ? json(nullptr) : json(key)}};
            j["result"] = item.Result;
            j["text"] = std::string(item.Line);
        }
        if (item.Abandoned) j["abandoned"] = true;
        Print(j);
        replies_.Flush();
        if (!every_) return;
        // As a receive pass would: the NMEA record first, the binary one at the next item.
        if (nmea_.Record().Updated) {
            nmea_.Record().Updated = 0;
            Print(FixLine("nmea", nmea_.Record()));
        } else if (binary_.Record().Updated) {
            binary_.Record().Updated = 0;
            Print(FixLine("binary", binary_.Record()));
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
    ReplyPrinter replies;
    ReceiverTables tables{};
    TNmea nmea;
    TBinary binary(replies, tables);
    DecodeSink sink(nmea, binary, replies, every);
    TStreamSplitter splitter(nmea, binary, clock, sink);
    // The receive thread reads at most 2048 bytes a pass; feed the stream the same way.
    char buf[2048];
    while (in) {
        in.read(buf, sizeof buf);
        const auto n = in.gcount();
        if (n > 0) splitter.Feed(reinterpret_cast<const uint8_t*>(buf), static_cast<int>(n));
    }
    if (in.bad()) {
        std::cerr << "vantora-decode: read error\n";
        return 1;
    }
    replies.Flush();  // a frame still open at the end of the stream may have asked for one
    Print(FixLine("nmea", nmea.Record()));
    Print(FixLine("binary", binary.Record()));
    Print(StatsJson(nmea));
    return 0;
}

}  // namespace
}  // namespace vantora

int main(int argc, char** argv) {
    CLI::App app{
        "Decodes a raw receiver stream (a log recorded by the viewer, or stdin) into JSON lines:\n"
        "one line per sentence or frame, the replies the window would show, then the last fix of\n"
        "each parser and the parser's statistics."};
    std::string input;
    bool every = false;
    app.add_option("FILE", input, "raw log to decode, or - for standard input")->required();
    app.add_flag("--every", every, "also print a fix line after each update of either record");
    CLI11_PARSE(app, argc, argv);

    std::ios::sync_with_stdio(false);
    if (input == "-") return vantora::Decode(std::cin, every);
    std::ifstream file(input, std::ios::binary);
    if (!file) {
        std::cerr << "vantora-decode: cannot read " << input << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    return vantora::Decode(file, every);
}
