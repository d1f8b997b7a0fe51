// Any bytes as a settings file: reading must stay in bounds, the settings must come out in
// range, and what is stored must read back without disturbing the keys around it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/ini_file.h"
#include "app/settings.h"
#include "fuzz/check.h"
#include "protocol/text.h"

using vantora::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vantora;
    std::string text(reinterpret_cast<const char*>(data), size);
    IniFile ini(text);

    ini.ReadBool("Configuration", "NMEA_CheckSum", true);
    ini.ReadString("Setup", "Engineer", "");
    ini.HasKey("Ports", "COM1");
    ini.Keys("Configuration");
    const int64_t portid = ini.ReadInteger("Setup", "Portid", -12345);
    const std::string revision = ini.ReadString("Setup", "Revision", "<none>");
    const std::string baud = ini.ReadString("Configuration", "Baud", "<none>");

    Settings s = LoadSettings(ini);
    Check(s.PortIndex >= 0 && s.PortIndex < PortCount);
    Check(s.DgpsMode >= 0 && s.DgpsMode < 3);
    Check(s.ConfigBaudIndex >= 0 && s.ConfigBaudIndex < BaudRateCount);
    Check(s.ConfigBaud == BaudRates[s.ConfigBaudIndex]);
    Check(s.PrivilegeLevel == 0 || s.PrivilegeLevel == 1 || s.PrivilegeLevel == 5 || s.PrivilegeLevel == 10);
    for (const std::string& device : s.PortDevices) Check(!device.empty());
    NmeaCaption(s.Nmea, s.ProprietaryNmea);

    // The port as chosen later, and a path taken from the input's own first line.
    s.PortIndex = static_cast<int>(size % PortCount);
    std::string path = text.substr(0, text.find('\n'));
    if (path.size() > 200) path.resize(200);
    for (const std::string& candidate : {s.FirmwarePath, path}) {
        s.FirmwarePath = candidate;
        bool stored = StoreSettings(ini, s);
        Check(ini.ReadInteger("Setup", "Port", -1) == s.PortIndex);
        if (stored)
            Check(ini.ReadString("Setup", "Path", "") == Trim(candidate));
        else
            Check(candidate.find_first_of("\r\n") != std::string::npos);
        Check(ini.ReadInteger("Setup", "Portid", -12345) == portid);
        Check(ini.ReadString("Setup", "Revision", "<none>") == revision);
        Check(ini.ReadString("Configuration", "Baud", "<none>") == baud);
    }

    // The text written parses to the same values.
    if (ini.Text().size() <= IniFile::MaxBytes) {
        IniFile again(ini.Text());
        Check(again.ReadInteger("Setup", "Port", -1) == s.PortIndex);
        Check(again.ReadString("Setup", "Path", "<none>") == ini.ReadString("Setup", "Path", "<none>"));
        Check(again.ReadString("Setup", "Revision", "<none>") == revision);
    }
    return 0;
}
