#include "app/settings.h"

#include <algorithm>

#include "protocol/text.h"

namespace vantora {

const char* const PortNames[PortCount] = {"COM1", "COM2",         "COM3",         "COM4",
                                          "COM5", "COM6",         "COM7",         "COM8",
                                          "COM9", "\\\\.\\COM10", "\\\\.\\COM11", "\\\\.\\COM12"};
const char* const DgpsNames[3] = {"NONE", "RTCM", "WAAS"};

namespace {

constexpr int DgpsCount = 3;

int32_t ReadWord(const IniFile& ini, const char* section, const char* key, int32_t fallback) {
    // The reader keeps numbers within 32 bits, so the narrowing is exact.
    return static_cast<int32_t>(ini.ReadInteger(section, key, fallback));
}

}  // namespace

int PrivilegeFromEngineer(const std::string& value) {
    if (value == "KVDT") return 1;
    if (value == "MWRB") return 5;
    if (value == "HZQFXNJE") return 10;
    return 0;
}

std::string DefaultPortDevice(int index) {
    // Most receivers come through USB-serial adapters, so the first ports name those.
    if (index < 0 || index >= PortCount) return "";
    static const char* const Families[3] = {"/dev/ttyUSB", "/dev/ttyACM", "/dev/ttyS"};
    return Families[index / 4] + std::to_string(index % 4);
}

std::array<std::string, PortCount> DefaultPortDevices() {
    std::array<std::string, PortCount> devices;
    for (int i = 0; i < PortCount; ++i) devices[i] = DefaultPortDevice(i);
    return devices;
}

std::string SettingsPathFor(const std::string& executablePath) {
    size_t nameStart = executablePath.rfind('/');
    nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
    size_t dot = executablePath.rfind('.');
    // A dot that starts the name (a hidden file) is not an extension either.
    if (dot == std::string::npos || dot <= nameStart) return executablePath + ".INI";
    return executablePath.substr(0, dot) + ".INI";
}

Settings LoadSettings(const IniFile& ini) {
    Settings s;
    const char* setup = "Setup";
    int32_t port = ReadWord(ini, setup, "Portid", 0);
    if (port < 0 || port >= PortCount) {
        s.Corrections.push_back("Portid " + std::to_string(port) + " is not a port (0..11); using COM1");
        port = 0;
    }
    s.PortIndex = port;
    s.LinkBaudIndex = 0;
    s.Reconfigure = ReadWord(ini, setup, "Reconfig", 0) != 0;
    s.AutoStart = ini.ReadBool(setup, "AutoStart", false);
    s.FirmwarePath = ini.ReadString(setup, "Path", ".");
    s.FirmwareRevision = ini.ReadString(setup, "Revision", "Rev1000000");
    s.RevisionCheck = ReadWord(ini, setup, "RevChk", 1) != 0;
    s.PrivilegeLevel = PrivilegeFromEngineer(ini.ReadString(setup, "Engineer", ""));

    const char* config = "Configuration";
    int32_t dgps = ReadWord(ini, config, "DGPS", 0);
    if (dgps < 0 || dgps >= DgpsCount) {
        s.Corrections.push_back("DGPS " + std::to_string(dgps) + " is not a DGPS mode (0..2); using NONE");
        dgps = 0;
    }
    s.DgpsMode = dgps;
    int32_t baud = ReadWord(ini, config, "Baud", 4800);
    s.ConfigBaudIndex = std::max(0, BaudIndexOf(baud));
    if (BaudRates[s.ConfigBaudIndex] != baud)
        s.Corrections.push_back("Baud " + std::to_string(baud) + " is not a baud rate; using 4800");
    s.ConfigBaud = BaudRates[s.ConfigBaudIndex];
    s.DeadReckoning = ReadWord(ini, config, "DeadReckon", 1);
    s.Nmea = {};
    s.Nmea[CfgGga] = ReadWord(ini, config, "GGA", 1);
    s.Nmea[CfgGsa] = ReadWord(ini, config, "GSA", 1);
    s.Nmea[CfgGsv] = ReadWord(ini, config, "GSV", 1);
    s.Nmea[CfgRmc] = ReadWord(ini, config, "RMC", 1);
    s.Nmea[CfgVtg] = ReadWord(ini, config, "VTG", 0);
    s.Nmea[CfgGll] = ReadWord(ini, config, "GLL", 0);
    s.Nmea[CfgZda] = ReadWord(ini, config, "ZDA", 0);
    s.Nmea[CfgChecksum] = ini.ReadBool(config, "NMEA_CheckSum", true) ? 1 : 0;
    s.ProprietaryNmea = ReadWord(ini, config, "pNMEA", 1);
    s.Nmea[CfgMask] = EnabledKindMask(s.Nmea);

    for (int i = 0; i < PortCount; ++i) {
        std::string device = ini.ReadString("Ports", "COM" + std::to_string(i + 1), "");
        s.PortDevices[i] = device.empty() ? DefaultPortDevice(i) : device;
    }
    return s;
}

void ApplyCommandLine(Settings& settings, const std::vector<std::string>& args, MessageBoxSink& boxes) {
    if (args.empty()) return;
    const std::string name = UpperCase(args[0]);
    int found = -1;
    // The Windows device form of COM10..COM12 and the name as typed both choose the port.
    for (int i = 0; i < PortCount && found < 0; ++i)
        if (name == PortNames[i] || name == "COM" + std::to_string(i + 1)) found = i;
    if (found < 0) {
        settings.PortIndex = 0;
        boxes.Show("Com Error", "Wrong COM\n\n Set to COM1!", BoxIcon::Error);
    } else {
        settings.PortIndex = found;
    }
    if (args.size() >= 2) settings.FirmwarePath = args[1];
}

bool StoreSettings(IniFile& ini, const Settings& settings) {
    bool port = ini.WriteString("Setup", "Port", std::to_string(settings.PortIndex));
    bool path = ini.WriteString("Setup", "Path", settings.FirmwarePath);
    return port && path;
}

std::string NmeaCaption(const NmeaConfig& config, int32_t proprietary) {
    std::string caption;
    if (config[CfgGga] != 0) caption += " GGA";
    if (config[CfgGsa] != 0) caption += " GSA";
    if (config[CfgGsv] != 0) caption += " GSV";
    if (config[CfgRmc] != 0) caption += " RMC";
    if (config[CfgVtg] != 0) caption += " VTG";
    if (config[CfgGll] != 0) caption += " GLL";
    if (config[CfgZda] != 0) caption += " ZDA";
    if (proprietary != 0) caption += " pNMEA";
    return caption;
}

}  // namespace vantora
