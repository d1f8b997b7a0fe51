#include "app/settings.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <set>

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

TEST(Settings, DefaultsWithoutFile) {
    IniFile ini = IniFile::Load("/nonexistent-folder/vantora.INI");
    EXPECT_TRUE(ini.Text().empty());
    EXPECT_TRUE(ini.Complete());
    const Settings s = LoadSettings(ini);
    EXPECT_EQ(std::tie(s.PortIndex, s.PrivilegeLevel, s.DgpsMode, s.ConfigBaudIndex, s.ConfigBaud),
              std::tuple(0, 0, 0, 0, 4800));
    EXPECT_EQ(std::tie(s.FirmwarePath, s.FirmwareRevision), std::tuple(".", "Rev1000000"));
    EXPECT_EQ(std::tie(s.RevisionCheck, s.Reconfigure, s.AutoStart), std::tuple(true, false, false));
    EXPECT_EQ(std::tie(s.DeadReckoning, s.ProprietaryNmea), std::tuple(1, 1));
    // GGA, GSA, GSV, RMC on (mask bits 0, 2, 3, 4) with period 1, checksum on.
    EXPECT_EQ(s.Nmea, (NmeaConfig{0x1D, 1, 0, 1, 1, 1, 0, 0, 0, 1}));
    EXPECT_EQ(NmeaCaption(s.Nmea, s.ProprietaryNmea), " GGA GSA GSV RMC pNMEA");
    EXPECT_TRUE(s.Corrections.empty());
}

TEST(Settings, EngineerCodes) {
    const std::pair<std::string, int> cases[] = {{"KVDT", 1}, {"MWRB", 5},    {"HZQFXNJE", 10},
                                                 {"kvdt", 0}, {"KVDTX", 0},   {"HZQFXNJ", 0},
                                                 {"", 0},     {"  MWRB\t", 5}};
    for (const auto& [value, level] : cases)
        EXPECT_EQ(LoadSettings(IniFile("[Setup]\nEngineer=" + value + "\n")).PrivilegeLevel, level) << value;
}

TEST(Settings, ConfigBaud) {
    struct Case {
        std::string Line;
        int Index, Caption;
        bool Corrected;
    } cases[] = {
        {"Baud=57600", 0, 4800, true},
        {"Baud=115200", 4, 115200, false},
        {"Baud=38400", 3, 38400, false},
        {"Baud=fast", 0, 4800, false},
    };
    for (const Case& c : cases) {
        Settings s = LoadSettings(IniFile("[Configuration]\n" + c.Line + "\n"));
        EXPECT_EQ(std::tie(s.ConfigBaudIndex, s.ConfigBaud), std::tie(c.Index, c.Caption)) << c.Line;
        EXPECT_EQ(s.Corrections.size(), c.Corrected ? 1u : 0u) << c.Line;
    }
}

TEST(Settings, OutOfRangeIndexesFallBack) {
    Settings s = LoadSettings(IniFile("[Setup]\nPortid=57\n[Configuration]\nDGPS=-1\n"));
    EXPECT_EQ(std::tie(s.PortIndex, s.DgpsMode), std::tuple(0, 0));
    EXPECT_EQ(s.Corrections, (std::vector<std::string>{"Portid 57 is not a port (0..11); using COM1",
                                                       "DGPS -1 is not a DGPS mode (0..2); using NONE"}));
    s = LoadSettings(IniFile("[Setup]\nPortid=0xB\n[Configuration]\nDGPS=2\n"));
    EXPECT_EQ(std::tie(s.PortIndex, s.DgpsMode), std::tuple(11, 2));
    EXPECT_TRUE(s.Corrections.empty());
}

TEST(Settings, NmeaWordsAndCaption) {
    struct Case {
        std::string Config;
        NmeaConfig Words;
        const char* Caption;
    } cases[] = {
        {"GGA=0\nGSA=0\nGSV=0\nRMC=0\nGLL=5\nNMEA_CheckSum=0\npNMEA=0",
         {0x02, 0, 5, 0, 0, 0, 0, 0, 0, 0},
         " GLL"},
        {"VTG=2\nGLL=1\nZDA=0x10\nNMEA_CheckSum=7",
         {0x7F, 1, 1, 1, 1, 1, 2, 16, 0, 1},
         " GGA GSA GSV RMC VTG GLL ZDA pNMEA"},
    };
    for (const Case& c : cases) {
        Settings s = LoadSettings(IniFile("[Configuration]\n" + c.Config + "\n"));
        EXPECT_EQ(s.Nmea, c.Words) << c.Config;
        EXPECT_EQ(NmeaCaption(s.Nmea, s.ProprietaryNmea), c.Caption) << c.Config;
    }
}

TEST(Settings, CommandLine) {
    struct Case {
        std::vector<std::string> Args;
        int Port;
        std::string Path;
        bool Box;
    } cases[] = {
        {{"com3"}, 2, "/fw/old.bin", false},
        {{"COM10"}, 0, "/fw/old.bin", true},
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
