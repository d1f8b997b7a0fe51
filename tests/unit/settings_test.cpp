#include "app/settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/ini_file.h"

namespace vantora {
namespace {

namespace fs = std::filesystem;

struct Box {
    std::string Title, Text;
    BoxIcon Icon;
};

class RecordingBoxes : public MessageBoxSink {
public:
    void Show(const std::string& title, const std::string& text, BoxIcon icon) override {
        Shown.push_back({title, text, icon});
    }
    std::vector<Box> Shown;
};

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/settings_test.XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~TempDir() { fs::remove_all(path_); }
    const std::string& Path() const { return path_; }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string path_;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(Settings, DefaultsWithoutFile) {
    IniFile ini = IniFile::Load("/nonexistent-folder/vantora.INI");
    EXPECT_TRUE(ini.Text().empty());
    EXPECT_TRUE(ini.Complete());
    Settings s = LoadSettings(ini);
    EXPECT_EQ(s.PortIndex, 0);
    EXPECT_EQ(s.LinkBaudIndex, 0);
    EXPECT_EQ(s.FirmwarePath, ".");
    EXPECT_EQ(s.FirmwareRevision, "Rev1000000");
    EXPECT_TRUE(s.RevisionCheck);
    EXPECT_FALSE(s.Reconfigure);
    EXPECT_FALSE(s.AutoStart);
    EXPECT_EQ(s.PrivilegeLevel, 0);
    EXPECT_EQ(s.DgpsMode, 0);
    EXPECT_STREQ(DgpsNames[s.DgpsMode], "NONE");
    EXPECT_EQ(s.ConfigBaudIndex, 0);
    EXPECT_EQ(s.ConfigBaud, 4800);
    EXPECT_EQ(s.DeadReckoning, 1);
    EXPECT_EQ(s.ProprietaryNmea, 1);
    // GGA, GSA, GSV, RMC on (mask bits 0, 2, 3, 4), checksum on.
    NmeaConfig expected{0x1D, 1, 0, 1, 1, 1, 0, 0, 0, 1};
    EXPECT_EQ(s.Nmea, expected);
    EXPECT_EQ(NmeaCaption(s.Nmea, s.ProprietaryNmea), " GGA GSA GSV RMC pNMEA");
    EXPECT_EQ(s.PortDevices, DefaultPortDevices());
    EXPECT_TRUE(s.Corrections.empty());
}

TEST(Settings, EngineerCodes) {
    struct Case {
        std::string Value;
        int Level;
    } cases[] = {{"KVDT", 1}, {"MWRB", 5},  {"HZQFXNJE", 10}, {"kvdt", 0},
                 {"", 0},     {"KVDTX", 0}, {"HZQFXNJ", 0},   {"  MWRB\t", 5}};
    for (const Case& c : cases) {
        Settings s = LoadSettings(IniFile("[Setup]\nEngineer=" + c.Value + "\n"));
        EXPECT_EQ(s.PrivilegeLevel, c.Level) << "\"" << c.Value << "\"";
    }
}

TEST(Settings, ConfigBaud) {
    struct Case {
        std::string Line;
        int Index, Caption;
        bool Corrected;
    } cases[] = {
        {"Baud=57600", 0, 4800, true}, {"Baud=115200", 4, 115200, false},
        {"Baud=9600", 1, 9600, false}, {"Baud=38400", 3, 38400, false},
        {"", 0, 4800, false},          {"Baud=fast", 0, 4800, false},
    };
    for (const Case& c : cases) {
        Settings s = LoadSettings(IniFile("[Configuration]\n" + c.Line + "\n"));
        EXPECT_EQ(s.ConfigBaudIndex, c.Index) << c.Line;
        EXPECT_EQ(s.ConfigBaud, c.Caption) << c.Line;
        EXPECT_EQ(s.Corrections.size(), c.Corrected ? 1u : 0u) << c.Line;
    }
}

TEST(IniFile, IntegerValues) {
    struct Case {
        std::string Value;
        int64_t Expected;
    } cases[] = {
        {"12", 12},
        {"+7", 7},
        {"-3", -3},
        {" 42 ", 42},
        {"0x1F", 31},
        {"0X1f", 31},
        {"0xFFFFFFFF", -1},
        {"0x7FFFFFFF", 2147483647},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483648LL},
        {"0x100000000", -99},
        {"2147483648", -99},
        {"-2147483649", -99},
        {"99999999999999999999999999", -99},
        {"12abc", -99},
        {"abc", -99},
        {"", -99},
        {"0x", -99},
        {"-0x10", -99},
        {"+", -99},
        {"1 2", -99},
        {"0x1G", -99},
    };
    for (const Case& c : cases) {
        IniFile ini("[S]\nk=" + c.Value + "\n");
        EXPECT_EQ(ini.ReadInteger("S", "k", -99), c.Expected) << "\"" << c.Value << "\"";
    }
    EXPECT_EQ(IniFile("[S]\n").ReadInteger("S", "k", 5), 5);
    EXPECT_TRUE(IniFile("[S]\nb=0x10").ReadBool("S", "b", false));
    EXPECT_FALSE(IniFile("[S]\nb=0").ReadBool("S", "b", true));
    EXPECT_TRUE(IniFile("[S]\nb=yes").ReadBool("S", "b", true));
}

TEST(IniFile, Reading) {
    const std::string text =
        "stray=before any section\r\n"
        "; comment=1\r\n"
        "[ setup ]\r\n"
        "  PATH  =  /a b/c.bin  \r\n"
        "# Engineer=KVDT\r\n"
        "Empty=\r\n"
        "Expr = a=b\r\n"
        "Path=second\r\n"
        "no equals sign\r\n"
        "[Other]\r\n"
        "Path=other\r\n"
        "[SETUP]\r\n"
        "Late=1";
    IniFile ini(text);
    struct Case {
        const char *Section, *Key, *Expected;
    } cases[] = {
        {"Setup", "Path", "/a b/c.bin"}, {"setup", "path", "/a b/c.bin"}, {"Setup", "Empty", ""},
        {"Setup", "Expr", "a=b"},        {"Other", "Path", "other"},      {"Setup", "Late", "1"},
        {"Setup", "Engineer", "<none>"}, {"Setup", "stray", "<none>"},    {"", "stray", "<none>"},
        {"Setup", "comment", "<none>"},  {"Missing", "Path", "<none>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ini.ReadString(c.Section, c.Key, "<none>"), c.Expected) << c.Section << "/" << c.Key;
    EXPECT_EQ(ini.Keys("Setup"), (std::vector<std::string>{"PATH", "Empty", "Expr", "Late"}));
}

TEST(Settings, OutOfRangeIndexesFallBack) {
    Settings s = LoadSettings(IniFile("[Setup]\nPortid=57\n[Configuration]\nDGPS=-1\n"));
    EXPECT_EQ(s.PortIndex, 0);
    EXPECT_EQ(s.DgpsMode, 0);
    EXPECT_EQ(s.Corrections, (std::vector<std::string>{"Portid 57 is not a port (0..11); using COM1",
                                                       "DGPS -1 is not a DGPS mode (0..2); using NONE"}));
    s = LoadSettings(IniFile("[Setup]\nPortid=0xB\n[Configuration]\nDGPS=2\n"));
    EXPECT_EQ(s.PortIndex, 11);
    EXPECT_EQ(s.DgpsMode, 2);
    EXPECT_TRUE(s.Corrections.empty());
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
        {{"\\\\.\\COM12"}, 11, "/fw/old.bin", false},
        {{"nonsense", "x.bin"}, 0, "x.bin", true},
        {{"COM1 "}, 0, "/fw/old.bin", true},
        {{}, 5, "/fw/old.bin", false},
    };
    for (const Case& c : cases) {
        Settings s;
        s.PortIndex = 5;
        s.FirmwarePath = "/fw/old.bin";
        RecordingBoxes boxes;
        ApplyCommandLine(s, c.Args, boxes);
        std::string label = c.Args.empty() ? "(none)" : c.Args[0];
        EXPECT_EQ(s.PortIndex, c.Port) << label;
        EXPECT_EQ(s.FirmwarePath, c.Path) << label;
        ASSERT_EQ(boxes.Shown.size(), c.Box ? 1u : 0u) << label;
        if (c.Box) {
            EXPECT_EQ(boxes.Shown[0].Title, "Com Error");
            EXPECT_EQ(boxes.Shown[0].Text, "Wrong COM\n\n Set to COM1!");
            EXPECT_EQ(boxes.Shown[0].Icon, BoxIcon::Error);
        }
    }
}

TEST(Settings, StoreKeepsEveryOtherByte) {
    struct Case {
        const char* Name;
        std::string Before, After;
    } cases[] = {
        {"hand-edited, CRLF, Port appended after the last non-blank line of Setup",
         "; Vantora settings\r\n"
         "\r\n"
         "[Setup]\r\n"
         "Portid   =   2\r\n"
         "  Path =  /old/fw.bin  \r\n"
         "# level\r\n"
         "Engineer=KVDT\r\n"
         "\r\n"
         "\r\n"
         "[Configuration]\r\n"
         "Baud=9600\r\n"
         "GGA = 1\r\n",
         "; Vantora settings\r\n"
         "\r\n"
         "[Setup]\r\n"
         "Portid   =   2\r\n"
         "  Path =  /new/fw 2.bin  \r\n"
         "# level\r\n"
         "Engineer=KVDT\r\n"
         "Port=3\r\n"
         "\r\n"
         "\r\n"
         "[Configuration]\r\n"
         "Baud=9600\r\n"
         "GGA = 1\r\n"},
        {"both keys present, other case, odd spacing", "[setup]\nport =\t7\npath=\nx=y\n",
         "[setup]\nport =\t3\npath=/new/fw 2.bin\nx=y\n"},
        {"empty file", "", "[Setup]\nPort=3\nPath=/new/fw 2.bin\n"},
        {"no Setup section, no final line end", "[Other]\nx=1",
         "[Other]\nx=1\n\n[Setup]\nPort=3\nPath=/new/fw 2.bin\n"},
        {"Setup last, no final line end", "[Setup]\r\nPortid=1",
         "[Setup]\r\nPortid=1\r\nPort=3\r\nPath=/new/fw 2.bin"},
    };
    for (const Case& c : cases) {
        IniFile ini(c.Before);
        Settings s;
        s.PortIndex = 3;
        s.FirmwarePath = "/new/fw 2.bin";
        EXPECT_TRUE(StoreSettings(ini, s)) << c.Name;
        EXPECT_EQ(ini.Text(), c.After) << c.Name;
        IniFile reread(ini.Text());
        EXPECT_EQ(reread.ReadInteger("Setup", "Port", -1), 3) << c.Name;
        EXPECT_EQ(reread.ReadString("Setup", "Path", ""), "/new/fw 2.bin") << c.Name;
    }
    // The port written is not the one read at the next start.
    IniFile ini(cases[0].After);
    EXPECT_EQ(LoadSettings(ini).PortIndex, 2);
}

TEST(IniFile, RefusesTextThatWouldBreakTheFile) {
    IniFile ini("[Setup]\nPath=/a\n");
    const std::string before = ini.Text();
    EXPECT_FALSE(ini.WriteString("Setup", "Path", "/a\nPortid=5"));
    EXPECT_FALSE(ini.WriteString("Setup", "Path", "/a\r"));
    EXPECT_FALSE(ini.WriteString("Setup", "a=b", "1"));
    EXPECT_FALSE(ini.WriteString("Setup", "[x", "1"));
    EXPECT_FALSE(ini.WriteString("Setup", "", "1"));
    EXPECT_FALSE(ini.WriteString("Set]up", "k", "1"));
    EXPECT_EQ(ini.Text(), before);
    Settings s;
    s.FirmwarePath = "/odd\nname.bin";
    EXPECT_FALSE(StoreSettings(ini, s));
    EXPECT_EQ(ini.ReadString("Setup", "Path", ""), "/a");
}

TEST(IniFile, SaveAndLoad) {
    TempDir dir;
    const std::string path = dir.Path() + "/vantora.INI";
    IniFile ini("[Setup]\r\nPortid=4\r\n");
    ini.WriteString("Setup", "Port", "3");
    std::string error;
    ASSERT_TRUE(ini.Save(path, error)) << error;
    EXPECT_EQ(ReadFile(path), "[Setup]\r\nPortid=4\r\nPort=3\r\n");
    EXPECT_EQ(IniFile::Load(path).Text(), ini.Text());
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"vantora.INI"});
}

TEST(IniFile, FailedSaveLeavesNoPartialFile) {
    TempDir dir;
    IniFile ini("[Setup]\nPort=3\nPath=" + std::string(4096, 'p') + "\n");
    std::string error;

    const std::string missingFolder = dir.Path() + "/no/such/folder/vantora.INI";
    EXPECT_FALSE(ini.Save(missingFolder, error));
    EXPECT_NE(error.find(missingFolder), std::string::npos) << error;

    const std::string folder = dir.Path() + "/a-folder";
    fs::create_directory(folder);
    error.clear();
    EXPECT_FALSE(ini.Save(folder, error));
    EXPECT_NE(error.find(folder), std::string::npos) << error;
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::is_empty(folder));

    // A write that fails part-way (here: file size limit) must leave the old file whole.
    const std::string existing = dir.Path() + "/vantora.INI";
    WriteFile(existing, "[Setup]\nPortid=1\n");
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    error.clear();
    bool saved = ini.Save(existing, error);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved);
    EXPECT_NE(error.find(existing), std::string::npos) << error;
    EXPECT_EQ(ReadFile(existing), "[Setup]\nPortid=1\n");

    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"a-folder", "vantora.INI"}));
}

TEST(IniFile, OversizedFileIsReadInPartAndNeverRewritten) {
    TempDir dir;
    const std::string path = dir.Path() + "/vantora.INI";
    std::string text = "[Setup]\nPortid=4\n;" + std::string(IniFile::MaxBytes, '\0') + "\nEngineer=KVDT\n";
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
    EXPECT_EQ(ReadFile(path), text);
}

TEST(Settings, SettingsPath) {
    struct Case {
        const char *Exe, *Ini;
    } cases[] = {
        {"/usr/bin/vantora", "/usr/bin/vantora.INI"},
        {"/opt/vantora.exe", "/opt/vantora.INI"},
        {"/opt/v1.8/vantora", "/opt/v1.8/vantora.INI"},
        {"/opt/v1.8/vantora.bin.exe", "/opt/v1.8/vantora.bin.INI"},
        {"vantora", "vantora.INI"},
        {"./vantora", "./vantora.INI"},
        {"/home/u/.vantora", "/home/u/.vantora.INI"},
    };
    for (const Case& c : cases) EXPECT_EQ(SettingsPathFor(c.Exe), c.Ini) << c.Exe;
}

TEST(Settings, PortDevices) {
    const char* defaults[PortCount] = {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB3",
                                       "/dev/ttyACM0", "/dev/ttyACM1", "/dev/ttyACM2", "/dev/ttyACM3",
                                       "/dev/ttyS0",   "/dev/ttyS1",   "/dev/ttyS2",   "/dev/ttyS3"};
    Settings plain = LoadSettings(IniFile("[Setup]\nPortid=1\n"));
    Settings mapped =
        LoadSettings(IniFile("[ports]\ncom1 = /dev/serial/by-id/usb-gps\nCOM12=/dev/ttyUSB7\nCOM3=\n"));
    for (int i = 0; i < PortCount; ++i) {
        EXPECT_EQ(DefaultPortDevice(i), defaults[i]);
        EXPECT_EQ(plain.PortDevices[i], defaults[i]);
        std::string expected = i == 0 ? "/dev/serial/by-id/usb-gps" : i == 11 ? "/dev/ttyUSB7" : defaults[i];
        EXPECT_EQ(mapped.PortDevices[i], expected) << i;
    }
    EXPECT_EQ(DefaultPortDevice(12), "");
    EXPECT_EQ(DefaultPortDevice(-1), "");
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
        {"GGA=0\nGSA=0\nGSV=0\nRMC=0\npNMEA=0", {0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, ""},
        {"VTG=2\nGLL=1\nZDA=0x10\nNMEA_CheckSum=7",
         {0x7F, 1, 1, 1, 1, 1, 2, 16, 0, 1},
         " GGA GSA GSV RMC VTG GLL ZDA pNMEA"},
        {"GGA=0\nGSA=0\nGSV=0\nRMC=0\nZDA=1", {0x40, 0, 0, 0, 0, 0, 0, 1, 0, 1}, " ZDA pNMEA"},
    };
    for (const Case& c : cases) {
        Settings s = LoadSettings(IniFile("[Configuration]\n" + c.Config + "\n"));
        EXPECT_EQ(s.Nmea, c.Words) << c.Config;
        EXPECT_EQ(NmeaCaption(s.Nmea, s.ProprietaryNmea), c.Caption) << c.Config;
    }
}

}  // namespace
}  // namespace vantora
