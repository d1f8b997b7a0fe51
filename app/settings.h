// Settings from the INI file beside the executable and from the command line.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/ini_file.h"
#include "protocol/nmea.h"
#include "protocol/platform.h"
#include "serial/baud_rates.h"

namespace vantora {

constexpr int PortCount = 12;
extern const char* const PortNames[PortCount];  // "COM1".."COM9", "\\.\COM10".."\\.\COM12"
extern const char* const DgpsNames[3];  // "NONE", "RTCM", "WAAS"

int PrivilegeFromEngineer(const std::string& value);  // 0, 1, 5 or 10

// Default device of each port index when the "Ports" section does not name one:
// COM1..COM4 /dev/ttyUSB0..3, COM5..COM8 /dev/ttyACM0..3, COM9..COM12 /dev/ttyS0..3.
std::string DefaultPortDevice(int index);
std::array<std::string, PortCount> DefaultPortDevices();

struct Settings {
    int PortIndex = 0;
    int LinkBaudIndex = 0;
    bool Reconfigure = false;
    bool AutoStart = false;
    std::string FirmwarePath = ".";
    std::string FirmwareRevision = "Rev1000000";
    bool RevisionCheck = true;
    int PrivilegeLevel = 0;
    int DgpsMode = 0;
    int ConfigBaud = 4800;  // BaudRates[ConfigBaudIndex]: the lbSetBaud caption
    int ConfigBaudIndex = 0;
    int32_t DeadReckoning = 1;
    int32_t ProprietaryNmea = 1;
    NmeaConfig Nmea{};
    // Device path of each port index (COM1..COM12) on this machine.
    std::array<std::string, PortCount> PortDevices = DefaultPortDevices();
    // What was out of range in the file and how it was mended (for a log or a test).
    std::vector<std::string> Corrections;
};

// The settings file of an executable: its path with the extension of the file name replaced by
// ".INI", or ".INI" appended when the name has none.
std::string SettingsPathFor(const std::string& executablePath);

// Reads "Setup", "Configuration" and the optional "Ports" section. A port or DGPS index out of
// range falls back to its default (COM1, "NONE") and is noted in Corrections.
Settings LoadSettings(const IniFile& ini);

// First argument (upper-cased) selects the port, else COM1 and the "Com Error" box;
// the second replaces the firmware path.
void ApplyCommandLine(Settings& settings, const std::vector<std::string>& args, MessageBoxSink& boxes);

// Writes "Port" and then "Path" in "Setup"; nothing else. False when a value could not be
// stored (a path with a line break would split into extra lines of the file).
bool StoreSettings(IniFile& ini, const Settings& settings);

// The lbNMEA caption: " GGA GSA GSV RMC VTG GLL ZDA pNMEA" for what is on.
std::string NmeaCaption(const NmeaConfig& config, int32_t proprietary);

}  // namespace vantora
