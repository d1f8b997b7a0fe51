#include "app/settings.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <set>
#include <sstream>

#include "app/ini_file.h"
#include "tests/support/box_recorder.h"
#include "tests/support/files.h"

namespace vantora {
namespace {

namespace fs = std::filesystem;

using test::BoxRecorder;
using test::Slurp;
using test::TempDir;
using test::WriteFile;

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
    const IniFile none = IniFile::Load("/nonexistent-folder/vantora.INI");
    EXPECT_TRUE(none.Text().empty());
    EXPECT_TRUE(none.Complete());
    const Settings s = LoadSettings(none);
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
        {"[Configuration]\nBaud=38400", "baud 3/38400 |"},
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
        {{"COM10"}, 9, "/fw/old.bin", false},
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
        {"/usr/bin/vantora", "/usr/bin/vantora.INI"},
        {"/opt/v1.8/vantora.bin.exe", "/opt/v1.8/vantora.bin.INI"},
        {"/opt/v1.8/vantora", "/opt/v1.8/vantora.INI"},
        {"/home/u/.vantora", "/home/u/.vantora.INI"}};
    for (auto [exe, ini] : paths) EXPECT_EQ(SettingsPathFor(exe), ini) << exe;

    const Settings mapped =
        LoadSettings(IniFile("[ports]\ncom1 = /dev/serial/by-id/usb-gps\nCOM12=/dev/ttyUSB7\nCOM3=\n"));
    EXPECT_EQ(mapped.PortDevices[0], "/dev/serial/by-id/usb-gps");
    EXPECT_EQ(mapped.PortDevices[11], "/dev/ttyUSB7");
    EXPECT_EQ(mapped.PortDevices[2], "/dev/ttyUSB2");  // an empty value keeps the default
    EXPECT_EQ(DefaultPortDevice(4) + DefaultPortDevice(11) + DefaultPortDevice(12) + DefaultPortDevice(-1),
              "/dev/ttyACM0/dev/ttyS3");
}

TEST(IniFile, IntegerValues) {
    const std::pair<std::string, int64_t> cases[] = {{" 42 ", 42},
                                                     {"+7", 7},
                                                     {"0X1f", 31},
                                                     {"0xFFFFFFFF", -1},
                                                     {"-2147483648", -2147483648LL},
                                                     {"0x100000000", -99},
                                                     {"2147483648", -99},
                                                     {"99999999999999999999999999", -99},
                                                     {"12abc", -99},
                                                     {"", -99},
                                                     {"0x", -99},
                                                     {"-0x10", -99},
                                                     {"1 2", -99}};
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(IniFile("[S]\nk=" + value + "\n").ReadInteger("S", "k", -99), expected)
            << "\"" << value << "\"";
    EXPECT_EQ(IniFile("[S]\n").ReadInteger("S", "k", 5), 5);
    EXPECT_TRUE(IniFile("[S]\nb=0x10").ReadBool("S", "b", false));
    EXPECT_FALSE(IniFile("[S]\nb=0").ReadBool("S", "b", true));
    EXPECT_TRUE(IniFile("[S]\nb=yes").ReadBool("S", "b", true));
}

TEST(IniFile, Reading) {
    const IniFile ini(
        "stray=before any section\r\n; comment=1\r\n[ setup ]\r\n  PATH  =  /a b/c.bin  \r\n"
        "# Engineer=KVDT\r\nEmpty=\r\nExpr = a=b\r\nPath=second\r\nno equals sign\r\n"
        "[Other]\r\nPath=other\r\n[SETUP]\r\nLate=1");
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"setup", "path", "/a b/c.bin"}, {"Setup", "Empty", ""},  {"Setup", "Expr", "a=b"},
        {"Other", "Path", "other"},      {"Setup", "Late", "1"},  {"Setup", "Engineer", "<none>"},
        {"Setup", "stray", "<none>"},    {"", "stray", "<none>"}, {"Missing", "Path", "<none>"},
    };
    for (auto [section, key, expected] : cases)
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

TEST(IniFile, SaveAndLoad) {
    TempDir dir("settings_test");
    const std::string path = dir.Path("vantora.INI");
    IniFile ini("[Setup]\r\nPortid=4\r\n");
    ini.WriteString("Setup", "Port", "3");
    std::string error;
    ASSERT_TRUE(ini.Save(path, error)) << error;
    EXPECT_EQ(Slurp(path), "[Setup]\r\nPortid=4\r\nPort=3\r\n");
    EXPECT_EQ(IniFile::Load(path).Text(), ini.Text());
    EXPECT_EQ(dir.Entries(), std::set<std::string>{"vantora.INI"});
}

TEST(IniFile, FailedSaveLeavesNoPartialFile) {
    TempDir dir("settings_test");
    const IniFile ini("[Setup]\nPort=3\nPath=" + std::string(4096, 'p') + "\n");
    const std::string folder = dir.Path("a-folder"), existing = dir.Path("vantora.INI");
    fs::create_directory(folder);
    WriteFile(existing, "[Setup]\nPortid=1\n");
    // A write that fails part-way (here: file size limit) must leave the old file whole.
    const auto saveWithSizeLimit = [&](const std::string& path, std::string& error) {
        rlimit old{};
        EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = old;
        small.rlim_cur = 1024;
        EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool saved = ini.Save(path, error);
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        return saved;
    };
    for (const std::string& path : {dir.Path("no/such/folder/vantora.INI"), folder, existing}) {
        std::string error;
        EXPECT_FALSE(path == existing ? saveWithSizeLimit(path, error) : ini.Save(path, error)) << path;
        EXPECT_NE(error.find(path), std::string::npos) << error;
    }
    EXPECT_TRUE(fs::is_directory(folder) && fs::is_empty(folder));
    EXPECT_EQ(Slurp(existing), "[Setup]\nPortid=1\n");
    EXPECT_EQ(dir.Entries(), (std::set<std::string>{"a-folder", "vantora.INI"}));
}

TEST(IniFile, OversizedFileIsReadInPartAndNeverRewritten) {
    TempDir dir("settings_test");
    const std::string path = dir.Path("vantora.INI");
    const std::string text =
        "[Setup]\nPortid=4\n;" + std::string(IniFile::MaxBytes, '\0') + "\nEngineer=KVDT\n";
    WriteFile(path, text);
    IniFile ini = IniFile::Load(path);
    EXPECT_FALSE(ini.Complete());
    EXPECT_LE(ini.Text().size(), IniFile::MaxBytes);
    EXPECT_EQ(ini.ReadInteger("Setup", "Portid", -1), 4);
    EXPECT_FALSE(ini.HasKey("Setup", "Engineer"));
    ini.WriteString("Setup", "Port", "1");
    std::string error;
    EXPECT_FALSE(ini.Save(path, error));
    EXPECT_NE(error.find(path), std::string::npos);
    EXPECT_EQ(Slurp(path), text);
}

}  // namespace
}  // namespace vantora
