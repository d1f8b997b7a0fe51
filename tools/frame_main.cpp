// vantora-frame: prints the frame that Send writes for one command, built from the panels'
// defaults with some controls overridden on the command line.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "protocol/commands.h"
#include "tools/output_check.h"

using namespace vantora;

namespace {

// "0x06"/"0X1f" or decimal "6"; only 1..32 are commands.
std::optional<int> ParseCommandNumber(const std::string& s) {
    size_t i = 0;
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i == s.size()) return std::nullopt;
    int value = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        value = value * base + digit;
        if (value > 32) return std::nullopt;  // also keeps long texts from overflowing
    }
    if (value < 1) return std::nullopt;
    return value;
}

std::string ControlSummary(const ControlInfo& c) {
    switch (c.Kind) {
        case ControlKind::Item:
            return std::string(c.Name) + "[0-" + std::to_string(c.Items - 1) +
                   "]=" + std::to_string(c.DefaultValue);
        case ControlKind::Check:
            return std::string(c.Name) + "[0/1]=" + std::to_string(c.DefaultValue);
        case ControlKind::Text:
            break;
    }
    return std::string(c.Name) + "=" + c.DefaultText;
}

std::string CommandList() {
    std::string s =
        "Commands (CMD) and the controls their frames read, with the defaults:\n"
        "  name[0-N]=d  radio group, takes an item index 0..N\n"
        "  name[0/1]=d  check box, takes 0 or 1 (or false/true)\n"
        "  name=d       edit, takes any text (empty: name=)\n";
    char head[80];
    for (const CommandInfo& cmd : CommandTable) {
        std::snprintf(head, sizeof head, "  0x%02x %-2d %s", cmd.Number, cmd.Number, cmd.TreeText);
        s += head;
        if (cmd.FrameLength == 0) {
            s += "  (builds no frame)\n";
            continue;
        }
        s += "\n";
        std::string line = "       ";
        for (const ControlInfo* c : CommandControls(cmd.Number)) {
            const std::string item = ControlSummary(*c);
            if (line.size() + item.size() + 1 > 100) {
                s += line + "\n";
                line = "       ";
            }
            line += " " + item;
        }
        if (line.size() > 7) s += line + "\n";
    }
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Prints the frame that Send writes for command CMD, built from the command panels' defaults\n"
        "overridden by the given controls, as hex bytes (\"%02x \" each). A command that builds no\n"
        "frame prints nothing. A value the frame cannot carry as given (wrapped to its field's width,\n"
        "cut to its leading digits or replaced by the default) is sent as the panel would send it,\n"
        "with a warning on stderr. Exit codes: 0 done, 1 bad control, failed conversion, a changed\n"
        "value with --strict or an output that cannot be written, 2 usage error.",
        "vantora-frame"};
    std::string cmdText;
    std::vector<std::string> assignments;
    bool strict = false;
    app.add_option("CMD", cmdText, "Command number 1..32, decimal or hex (6 or 0x06)")->required();
    app.add_option("control=value", assignments,
                   "Panel control values; a radio group takes an item index, a check box 0 or 1, "
                   "an edit any text");
    app.add_flag("--strict", strict, "Refuse a value that would be sent changed (exit 1, no frame)");
    app.footer(CommandList());

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "vantora-frame: " << e.what() << "\nRun with --help for more information.\n";
        return 2;
    }

    const std::optional<int> cmd = ParseCommandNumber(cmdText);
    if (!cmd) {
        std::cerr << "vantora-frame: '" << cmdText
                  << "' is not a command number (1..32, decimal or 0x hex)\nRun with --help for more "
                     "information.\n";
        return 2;
    }

    PanelValues values = PanelValues::Defaults();
    for (const std::string& a : assignments) {
        const size_t eq = a.find('=');
        if (eq == std::string::npos || eq == 0) {
            std::cerr << "vantora-frame: '" << a << "' is not of the form control=value\n";
            return 1;
        }
        std::string error;
        if (!values.Assign(a.substr(0, eq), a.substr(eq + 1), error)) {
            std::cerr << "vantora-frame: " << error << "\n";
            return 1;
        }
    }

    const BuiltCommand built = BuildCommand(*cmd, values, SystemClock());
    if (built.Error) {
        std::cerr << "vantora-frame: " << built.Error->Message() << "\n";
        return 1;
    }
    for (const std::string& change : built.Changes)
        std::cerr << "vantora-frame: " << (strict ? "" : "warning: ") << change << "\n";
    if (strict && !built.Changes.empty()) return 1;
    if (built.Length > 0) std::cout << FormatFrameHex(built.Frame, built.Length) << "\n";
    return CheckedExit("vantora-frame", 0);
}
