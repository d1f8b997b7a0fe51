// The settings file: what it gives, the command line over it, where it lives, how it is written
// back, and files that are odd (links, read-only, FIFOs, oversized, a write that fails part-way).
#include "app/settings.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <set>
#include <sstream>

#include "app/file_places.h"
#include "app/ini_file.h"
#include "tests/support/box_recorder.h"
#include "tests/support/files.h"

namespace vantora {
namespace {

using namespace test;

class SettingsFile : public ::testing::Test {
protected:
    std::string P(const std::string& name) const { return dir_.Path(name); }
    TempDir dir_{"settings"};
};

// What LoadSettings gives, in one line: each field that differs from the settings of no file,
// then the corrections.
std::string Digest(const Settings& s) {
    static const Settings none = LoadSettings(IniFile(""));
    std::ostringstream d;
    const auto field = [&](const char* name, auto value, auto base) {
        if (value != base) d << name << ' ' << value << ' ';
    };
    field("port", s.PortIndex, none.PortIndex);
    field("level", s.PrivilegeLevel, none.PrivilegeLevel);
    field("dgps", s.DgpsMode, none.DgpsMode);
    field("baud", std::to_string(s.ConfigBaudIndex) + "/" + std::to_string(s.ConfigBaud),
          std::to_string(none.ConfigBaudIndex) + "/" + std::to_string(none.ConfigBaud));
    field("reconfig", s.Reconfigure, none.Reconfigure);
    field("auto", s.AutoStart, none.AutoStart);
    field("revchk", s.RevisionCheck, none.RevisionCheck);
    field("dr", s.DeadReckoning, none.DeadReckoning);
    field("path", s.FirmwarePath, none.FirmwarePath);
    field("rev", s.FirmwareRevision, none.FirmwareRevision);
    const auto words = [](const Settings& of) {
        std::string text;
        for (int32_t w : of.Nmea) text += std::to_string(w) + ",";
        return text + " caption '" + NmeaCaption(of.Nmea, of.ProprietaryNmea) + "'";
    };
    field("nmea", words(s), words(none));
    d << '|';
    for (const std::string& c : s.Corrections) d << ' ' << c << '.';
    return d.str();
}

TEST(Settings, WhatTheFileGives) {
    const Settings s = LoadSettings(IniFile::Load("/nonexistent-folder/vantora.INI"));
    EXPECT_EQ(std::tie(s.PortIndex, s.PrivilegeLevel, s.DgpsMode, s.ConfigBaudIndex, s.ConfigBaud),
              std::tuple(0, 0, 0, 0, 4800));
    EXPECT_EQ(std::tie(s.FirmwarePath, s.FirmwareRevision), std::tuple(".", "Rev1000000"));
    EXPECT_EQ(std::tie(s.RevisionCheck, s.Reconfigure, s.AutoStart), std::tuple(true, false, false));
    EXPECT_EQ(std::tie(s.DeadReckoning, s.ProprietaryNmea), std::tuple(1, 1));
    // GGA, GSA, GSV, RMC on (mask bits 0, 2, 3, 4) with period 1, checksum on.
    EXPECT_EQ(s.Nmea, (NmeaConfig{0x1D, 1, 0, 1, 1, 1, 0, 0, 0, 1}));
    EXPECT_EQ(NmeaCaption(s.Nmea, s.ProprietaryNmea), " GGA GSA GSV RMC pNMEA");
    EXPECT_TRUE(s.Corrections.empty());

    const std::pair<std::string, std::string> rows[] = {
        {"[Setup]\nEngineer=KVDT", "level 1 |"},
        {"[Setup]\nEngineer=MWRB", "level 5 |"},
        {"[Setup]\nEngineer=  HZQFXNJE\t", "level 10 |"},
        {"[Setup]\nEngineer=kvdt", "|"},
        {"[Setup]\nEngineer=KVDTX", "|"},
        {"[Setup]\nEngineer=HZQFXNJ", "|"},
        {"[Configuration]\nBaud=57600", "| Baud 57600 is not a baud rate; using 4800."},
        {"[Configuration]\nBaud=115200", "baud 4/115200 |"},
        {"[Configuration]\nBaud=fast", "|"},
        {"[Setup]\nPortid=57\nPath=/fw/a.bin\nRevision=Rev2\nRevChk=0\nReconfig=1\nAutoStart=1\n"
         "[Configuration]\nDGPS=-1\nDeadReckon=0",
         "reconfig 1 auto 1 revchk 0 dr 0 path /fw/a.bin rev Rev2 | Portid 57 is not a port (0..11); using "
         "COM1. DGPS -1 is not a DGPS mode (0..2); using NONE."},
        {"[Setup]\nPortid=0xB\n[Configuration]\nDGPS=2", "port 11 dgps 2 |"},
        {"[Configuration]\nGGA=0\nGSA=0\nGSV=0\nRMC=0\nGLL=5\nNMEA_CheckSum=0\npNMEA=0",
         "nmea 2,0,5,0,0,0,0,0,0,0, caption ' GLL' |"},
        {"[Configuration]\nVTG=2\nGLL=1\nZDA=0x10\nNMEA_CheckSum=7",
         "nmea 127,1,1,1,1,1,2,16,0,1, caption ' GGA GSA GSV RMC VTG GLL ZDA pNMEA' |"},
    };
    for (const auto& [text, want] : rows) EXPECT_EQ(Digest(LoadSettings(IniFile(text + "\n"))), want) << text;
}

TEST(Settings, CommandLine) {
    struct Case {
        std::vector<std::string> Args;
        int Port;
        std::string Path;
        bool Box;
    } cases[] = {
        {{"com3"}, 2, "/fw/old.bin", false},
        {{"com12"}, 11, "/fw/old.bin", false},
        {{"COM13"}, 0, "/fw/old.bin", true},
        {{"COM2", "/home/u/new fw.bin"}, 1, "/home/u/new fw.bin", false},
        {{"\\\\.\\com11"}, 10, "/fw/old.bin", false},
        {{"nonsense", "x.bin"}, 0, "x.bin", true},
        {{"COM1 "}, 0, "/fw/old.bin", true},
        {{}, 5, "/fw/old.bin", false},
    };
    for (const Case& c : cases) {
        Settings s;
        s.PortIndex = 5;
        s.FirmwarePath = "/fw/old.bin";
        BoxRecorder boxes;
        ApplyCommandLine(s, c.Args, boxes);
        SCOPED_TRACE(c.Args.empty() ? "(none)" : c.Args[0]);
        EXPECT_EQ(std::tie(s.PortIndex, s.FirmwarePath), std::tie(c.Port, c.Path));
        EXPECT_EQ(boxes.shown, c.Box ? std::vector<std::string>{"Com Error|Wrong COM\n\n Set to COM1!|error"}
                                     : std::vector<std::string>{});
    }
}

TEST(Settings, SettingsPathAndPortDevices) {
    const std::pair<const char*, const char*> paths[] = {
        {"/opt/v1.8/vantora.bin.exe", "/opt/v1.8/vantora.bin.INI"},
        {"/opt/v1.8/vantora", "/opt/v1.8/vantora.INI"},
        {"/home/u/.vantora", "/home/u/.vantora.INI"}};
    for (auto [exe, ini] : paths) EXPECT_EQ(SettingsPathFor(exe), ini) << exe;

    const Settings mapped =
        LoadSettings(IniFile("[ports]\ncom1 = /dev/serial/by-id/usb-gps\nCOM12=/dev/ttyUSB7\nCOM3=\n"));
    EXPECT_EQ(std::tie(mapped.PortDevices[0], mapped.PortDevices[11], mapped.PortDevices[2]),
              std::tuple("/dev/serial/by-id/usb-gps", "/dev/ttyUSB7", "/dev/ttyUSB2"));  // empty: the default
    EXPECT_EQ(DefaultPortDevice(4) + DefaultPortDevice(11) + DefaultPortDevice(12) + DefaultPortDevice(-1),
              "/dev/ttyACM0/dev/ttyS3");
}

TEST(IniFile, ReadsIntegersBoolsAndStrings) {
    const std::pair<std::string, int64_t> cases[] = {
        {" 42 ", 42},        {"+7", 7},       {"0X1f", 31},     {"0xFFFFFFFF", -1},
        {"-2147483648", -2147483648LL},       {"0x100000000", -99}, {"2147483648", -99},
        {"99999999999999999999999999", -99}, {"12abc", -99},  {"", -99}, {"0x", -99},
        {"-0x10", -99},      {"1 2", -99}};
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(IniFile("[S]\nk=" + value + "\n").ReadInteger("S", "k", -99), expected)
            << "\"" << value << "\"";
    EXPECT_EQ(IniFile("[S]\n").ReadInteger("S", "k", 5), 5);
    EXPECT_TRUE(IniFile("[S]\nb=0x10").ReadBool("S", "b", false));
    EXPECT_FALSE(IniFile("[S]\nb=0").ReadBool("S", "b", true));
    EXPECT_TRUE(IniFile("[S]\nb=yes").ReadBool("S", "b", true));

    const IniFile ini(
        "stray=before any section\r\n; comment=1\r\n[ setup ]\r\n  PATH  =  /a b/c.bin  \r\n"
        "# Engineer=KVDT\r\nEmpty=\r\nExpr = a=b\r\nPath=second\r\nno equals sign\r\n"
        "[Other]\r\nPath=other\r\n[SETUP]\r\nLate=1");
    const std::tuple<const char*, const char*, const char*> strings[] = {
        {"setup", "path", "/a b/c.bin"}, {"Setup", "Empty", ""},  {"Setup", "Expr", "a=b"},
        {"Other", "Path", "other"},      {"Setup", "Late", "1"},  {"Setup", "Engineer", "<none>"},
        {"Setup", "stray", "<none>"},    {"", "stray", "<none>"}, {"Missing", "Path", "<none>"},
    };
    for (auto [section, key, expected] : strings)
        EXPECT_EQ(ini.ReadString(section, key, "<none>"), expected) << section << "/" << key;
    EXPECT_EQ(ini.Keys("Setup"), (std::vector<std::string>{"PATH", "Empty", "Expr", "Late"}));
}

TEST(Settings, StoreKeepsEveryOtherByte) {
    struct Case {
        const char* Name;
        std::string Before, After;
    } cases[] = {
        {"hand-edited, CRLF, Port appended after the last non-blank line of Setup",
         "; Vantora settings\r\n\r\n[Setup]\r\nPortid   =   2\r\n  Path =  /old/fw.bin  \r\n# level\r\n"
         "Engineer=KVDT\r\n\r\n\r\n[Configuration]\r\nBaud=9600\r\nGGA = 1\r\n",
         "; Vantora settings\r\n\r\n[Setup]\r\nPortid   =   2\r\n  Path =  /new/fw 2.bin  \r\n# level\r\n"
         "Engineer=KVDT\r\nPort=3\r\n\r\n\r\n[Configuration]\r\nBaud=9600\r\nGGA = 1\r\n"},
        {"both keys present, other case, odd spacing", "[setup]\nport =\t7\npath=\nx=y\n",
         "[setup]\nport =\t3\npath=/new/fw 2.bin\nx=y\n"},
        {"empty file", "", "[Setup]\nPort=3\nPath=/new/fw 2.bin\n"},
        {"no Setup section, no final line end", "[Other]\nx=1",
         "[Other]\nx=1\n\n[Setup]\nPort=3\nPath=/new/fw 2.bin\n"},
        {"Setup last, no final line end", "[Setup]\r\nPortid=1",
         "[Setup]\r\nPortid=1\r\nPort=3\r\nPath=/new/fw 2.bin"},
    };
    Settings s;
    s.PortIndex = 3;
    s.FirmwarePath = "/new/fw 2.bin";
    for (const Case& c : cases) {
        IniFile ini(c.Before);
        EXPECT_TRUE(StoreSettings(ini, s)) << c.Name;
        EXPECT_EQ(ini.Text(), c.After) << c.Name;
    }
    // The port written is not the one read at the next start.
    EXPECT_EQ(LoadSettings(IniFile(cases[0].After)).PortIndex, 2);
}

TEST(IniFile, RefusesTextThatWouldBreakTheFile) {
    IniFile ini("[Setup]\nPath=/a\n");
    const std::string before = ini.Text();
    const std::tuple<const char*, const char*, const char*> refused[] = {
        {"Setup", "Path", "/a\nPortid=5"},
        {"Setup", "Path", "/a\r"},
        {"Setup", "a=b", "1"},
        {"Setup", "[x", "1"},
        {"Setup", "", "1"},
        {"Set]up", "k", "1"},
    };
    for (auto [section, key, value] : refused)
        EXPECT_FALSE(ini.WriteString(section, key, value)) << key << value;
    EXPECT_EQ(ini.Text(), before);
    Settings s;
    s.FirmwarePath = "/odd\nname.bin";
    EXPECT_FALSE(StoreSettings(ini, s));
    EXPECT_EQ(ini.ReadString("Setup", "Path", ""), "/a");
}

TEST_F(SettingsFile, FailedSaveLeavesNoPartialFile) {
    const IniFile ini("[Setup]\nPort=3\nPath=" + std::string(4096, 'p') + "\n");
    const std::string folder = P("a-folder"), existing = P("vantora.INI");
    fs::create_directory(folder);
    WriteFile(existing, "[Setup]\nPortid=1\n");
    // A write that fails part-way (here: file size limit) must leave the old file whole.
    const auto saveWithSizeLimit = [&](const std::string& path, std::string& error) {
        rlimit old{};
        EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{1024, old.rlim_max};
        EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool saved = ini.Save(path, error);
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        return saved;
    };
    for (const std::string& path : {P("no/such/folder/vantora.INI"), folder, existing}) {
        std::string error;
        EXPECT_FALSE(path == existing ? saveWithSizeLimit(path, error) : ini.Save(path, error)) << path;
        EXPECT_NE(error.find(path), std::string::npos) << error;
    }
    EXPECT_TRUE(fs::is_directory(folder) && fs::is_empty(folder));
    EXPECT_EQ(Slurp(existing), "[Setup]\nPortid=1\n");
    EXPECT_EQ(dir_.Entries(), (std::set<std::string>{"a-folder", "vantora.INI"}));
}

TEST_F(SettingsFile, OversizedFileIsReadInPartAndNeverRewritten) {
    const std::string path = P("vantora.INI");
    const std::string text =
        "[Setup]\nPortid=4\n;" + std::string(IniFile::MaxBytes, '\0') + "\nEngineer=KVDT\n";
    WriteFile(path, text);
    IniFile ini = IniFile::Load(path);
    EXPECT_FALSE(ini.Complete() || ini.HasKey("Setup", "Engineer"));
    EXPECT_LE(ini.Text().size(), IniFile::MaxBytes);
    EXPECT_EQ(ini.ReadInteger("Setup", "Portid", -1), 4);
    ini.WriteString("Setup", "Port", "1");
    std::string error;
    EXPECT_FALSE(ini.Save(path, error));
    EXPECT_NE(error.find(path), std::string::npos);
    EXPECT_EQ(Slurp(path), text);
}

TEST_F(SettingsFile, OddFilesAreReadSafely) {
    ASSERT_EQ(::mkfifo(P("fifo.INI").c_str(), 0600), 0);
    fs::create_directory(P("dir.INI"));
    WriteFile(P("bom.INI"), "\xEF\xBB\xBF[Setup]\nPortid=3\n");
    const std::tuple<const char*, bool, bool> cases[] = {
        {"fifo.INI", false, true},  // would hang in open() for a writer
        {"dir.INI", false, true},
        {"bom.INI", true, false},
        {"missing.INI", true, false},
    };
    for (auto [file, complete, problem] : cases) {
        const IniFile ini = IniFile::Load(P(file));
        EXPECT_EQ(ini.Complete(), complete) << file;
        EXPECT_EQ(!ini.Problem().empty(), problem) << file << ": " << ini.Problem();
    }
    // The byte-order mark does not hide the first section, and a save adds no second one.
    IniFile bom = IniFile::Load(P("bom.INI"));
    EXPECT_EQ(bom.ReadInteger("Setup", "Portid", 0), 3);
    ASSERT_TRUE(bom.WriteString("Setup", "Portid", "4"));
    EXPECT_EQ(bom.Text(), "\xEF\xBB\xBF[Setup]\nPortid=4\n");
}

TEST_F(SettingsFile, SavingKeepsLinksOwnersAndReadOnlyFiles) {
    const std::string before = "[Setup]\nPortid=1\n";
    IniFile changed(before);
    ASSERT_TRUE(changed.WriteString("Setup", "Portid", "2"));
    const std::string after = changed.Text();
    std::string error;

    // A link to a file: the file changes, the link stays a link. A dangling link: its target is made.
    WriteFile(P("real.INI"), before);
    fs::create_symlink("real.INI", P("link.INI"));
    fs::create_symlink("made.INI", P("dangling.INI"));
    for (const char* link : {"link.INI", "dangling.INI"}) {
        ASSERT_TRUE(changed.Save(P(link), error)) << error;
        EXPECT_TRUE(fs::is_symlink(P(link))) << link;
    }
    EXPECT_EQ(Slurp(P("real.INI")) + Slurp(P("made.INI")), after + after);

    // A hard link: both names still name one file, with the new text.
    WriteFile(P("one.INI"), before);
    fs::create_hard_link(P("one.INI"), P("two.INI"));
    ASSERT_TRUE(changed.Save(P("one.INI"), error)) << error;
    EXPECT_EQ(fs::hard_link_count(P("one.INI")), 2u);
    EXPECT_EQ(Slurp(P("two.INI")), after);

    // A read-only file is left as it is, with a message that says so.
    WriteFile(P("ro.INI"), before);
    ::chmod(P("ro.INI").c_str(), 0444);
    error.clear();
    EXPECT_FALSE(changed.Save(P("ro.INI"), error));
    EXPECT_NE(error.find("read-only"), std::string::npos) << error;
    EXPECT_EQ(Slurp(P("ro.INI")), before);
    using enum fs::perms;
    EXPECT_EQ(fs::status(P("ro.INI")).permissions(), owner_read | group_read | others_read);
    // No save leaves a file of its own behind.
    EXPECT_EQ(dir_.Entries(), (std::set<std::string>{"real.INI", "link.INI", "dangling.INI", "made.INI",
                                                     "one.INI", "two.INI", "ro.INI"}));
}

TEST_F(SettingsFile, FoldersArePortableElseTheUsersOwn) {
    const std::string bin = P("bin"), home = P("home"), cfg = P("cfg");
    fs::create_directories(bin);
    const std::tuple<const char*, bool, std::string, std::string> cases[] = {
        {"a file beside the executable wins", true, cfg, bin + "/vantora.INI"},
        {"XDG_CONFIG_HOME when set", false, cfg, cfg + "/vantora/vantora.INI"},
        {"~/.config when unset", false, "", home + "/.config/vantora/vantora.INI"},
        {"a relative XDG_CONFIG_HOME is ignored", false, "rel", home + "/.config/vantora/vantora.INI"},
    };
    for (const auto& [what, portable, configHome, expected] : cases) {
        std::remove((bin + "/vantora.INI").c_str());
        if (portable) WriteFile(bin + "/vantora.INI", "[Setup]\n");
        EXPECT_EQ(ChooseSettingsPath(bin + "/vantora", {home, configHome, "", P("work")}), expected) << what;
    }
    // Choosing creates nothing; the first write creates the folders.
    EXPECT_FALSE(fs::exists(home + "/.config"));
    std::string error;
    ASSERT_TRUE(PrepareFolderOf(home + "/.config/vantora/vantora.INI", error)) << error;
    EXPECT_TRUE(fs::is_directory(home + "/.config/vantora"));

    // The data folder is the working folder when it can be written.
    fs::create_directories(P("work"));
    PlaceEnvironment env{home, "", P("data"), P("work")};
    EXPECT_EQ(ChooseDataFolder(env, error), P("work"));
    // A folder that is gone cannot be written, whoever runs the test.
    env.WorkingFolder = P("gone");
    EXPECT_EQ(ChooseDataFolder(env, error), P("data") + "/vantora");
    EXPECT_TRUE(fs::is_directory(P("data") + "/vantora"));
    env.DataHome.clear();
    EXPECT_EQ(ChooseDataFolder(env, error), home + "/.local/share/vantora");
    env.Home.clear();
    EXPECT_EQ(ChooseDataFolder(env, error), "");
    EXPECT_NE(error.find(P("gone")), std::string::npos) << error;
}

}  // namespace
}  // namespace vantora
