// What one firmware load needs, taken on the main thread when the load starts, and the bytes
// the loader puts on the line: the load request, the erase frame and the image packets.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "loader/firmware_image.h"
#include "protocol/platform.h"

namespace vantora {

class TSerialPort;

// Kinds of receiver loader (the Target radio group).
enum LoadTarget : int { TargetDefault = 0, TargetUsb = 1, Target4100 = 2 };
constexpr int LoadTargetCount = 3;
extern const char* const LoadTargetNames[LoadTargetCount];  // "Default", "USB", "4100"

constexpr int PacketSize = 64;
constexpr uint32_t ProgramBlockSize = 16384;  // the receiver programs and asks for more after each
constexpr int LoadRequestLength = 12;
constexpr int EraseFrameLength = 7;
constexpr int LoaderRestartLength = 23;

// The fields of the Reload page, converted.
struct LoadFields {
    uint16_t AddressWord = 0;  // flash address in 1 KiB units (64 KiB units for "4100")
    uint16_t SizeWord = 0;     // KiB to program
    uint16_t ExpectedCrc = 0;
};

// The page's texts as the target choice sets them: "4100" gives "0" and "256", the others
// "C0000" and "192".
const char* DefaultAddressText(int target);
const char* DefaultSizeText(int target);

// Converts the address (hexadecimal, at most 11 characters), the size (decimal KiB) and the
// expected CRC (hexadecimal) for target. Anything that is not such a number, or that does not
// fit the request's 16-bit words, is refused with a message naming the field; nothing is cut.
std::optional<LoadFields> ParseLoadFields(int target, std::string_view address, std::string_view sizeKiB,
                                          std::string_view crc, std::string& error);

// Everything the loader thread uses during one load; nothing is read from the window meanwhile.
struct LoadJob {
    std::shared_ptr<const FirmwareImage> Image;
    int Target = TargetDefault;
    LoadFields Fields;
    bool RevisionCheck = false;
    std::string RevisionText;
    bool FactoryDefault = false;
    bool AutoLoad = false;
    int WorkingBaud = 4800;  // the firmware's rate: the "4100" request and the factory default go out at it
};

// Bytes the receiver gets for a size word: the size in bytes.
inline uint32_t LoadLimitOf(uint16_t sizeWord) {
    return static_cast<uint32_t>(sizeWord) * 1024u;
}
// Empty when the image fits the loadLimit bytes to program; otherwise why not, since a load
// would silently leave the image's tail out.
std::string ImageOverflowText(const FirmwareImage& image, uint32_t loadLimit);
// Packets of a load: at least one, even for a size of 0.
inline uint32_t PacketCountOf(uint32_t loadLimit) {
    return loadLimit == 0 ? 1u : (loadLimit + PacketSize - 1) / PacketSize;
}

// The load request, command 72h: 25 25 F1 72 06 addr(16 LE) size(16 LE) checksum 0D 0A.
std::array<uint8_t, LoadRequestLength> BuildLoadRequest(const LoadFields& fields);
// The erase frame, command 73h, of the "4100" loader: 25 25 F1 73 82 0D 0A.
std::array<uint8_t, EraseFrameLength> BuildEraseFrame();
// The Restart command 01h with an all-zero payload: the receiver restarts into its loader.
std::array<uint8_t, LoaderRestartLength> BuildLoaderRestart();

// The packet at offset: 64 bytes of the image when offset lies inside it (zeros past its end),
// 64 bytes of FFh beyond it.
void FillPacket(const FirmwareImage& image, uint32_t offset, uint8_t* packet);
// Everything a load of loadLimit bytes sends after the request, in order.
std::vector<uint8_t> LoadStream(const FirmwareImage& image, uint32_t loadLimit);
// The host's CRC of that stream: what the receiver must report for a good load.
uint16_t LoadStreamCrc(const FirmwareImage& image, uint32_t loadLimit);

// What the Write button does before arming the loader: the port to the working rate, 200 ms,
// and unless the target is "4100" the loader restart frame, 400 ms, and the loader's 115200.
// Throws PortWriteError when the frame cannot be written.
void RestartIntoLoader(TSerialPort& port, int workingBaud, int target, const Clock& clock);

}  // namespace vantora
