#include "loader/load_job.h"

#include <algorithm>
#include <cstring>

#include "protocol/frame.h"
#include "protocol/loader_crc.h"
#include "protocol/text.h"
#include "serial/baud_rates.h"
#include "serial/serial_port.h"

namespace vantora {

const char* const LoadTargetNames[LoadTargetCount] = {"Default", "USB", "4100"};

namespace {

constexpr uint8_t CmdLoadRequest = 0x72;
constexpr uint8_t CmdErase = 0x73;
constexpr uint8_t CmdRestart = 0x01;
constexpr uint8_t LoadRequestKind = 0x06;
constexpr size_t AddressTextLimit = 11;  // the address is converted from a 12-byte area

// Digits of base 10 or 16 only; false for an empty text or a value above limit.
bool ParseUnsigned(std::string_view text, int base, uint64_t limit, uint64_t& value) {
    const auto v = ParseInteger(text, base, 0, static_cast<int64_t>(limit));
    if (v) value = static_cast<uint64_t>(*v);
    return v.has_value();
}

std::string Quoted(std::string_view s) {
    return "'" + std::string(s) + "'";
}

}  // namespace

std::string ImageOverflowText(const FirmwareImage& image, uint32_t loadLimit) {
    if (static_cast<uint32_t>(image.Size) <= loadLimit) return {};
    return "The image has " + std::to_string(image.Size) + " bytes, more than the " +
           std::to_string(loadLimit) + " bytes (" + std::to_string(loadLimit / 1024) + " KiB) to program";
}

const char* DefaultAddressText(int target) {
    return target == Target4100 ? "0" : "C0000";
}
const char* DefaultSizeText(int target) {
    return target == Target4100 ? "256" : "192";
}

std::optional<LoadFields> ParseLoadFields(int target, std::string_view address, std::string_view sizeKiB,
                                          std::string_view crc, std::string& error) {
    if (target < 0 || target >= LoadTargetCount) {
        error = "Target " + std::to_string(target) + " is not one of Default, USB, 4100";
        return std::nullopt;
    }
    LoadFields f;
    const int shift = target == Target4100 ? 16 : 10;
    const std::string_view a = Trim(address);
    uint64_t value = 0;
    if (a.size() > AddressTextLimit || !ParseUnsigned(a, 16, uint64_t{1} << 44, value)) {
        error = "Address " + Quoted(address) + " is not a hexadecimal number of at most 11 digits";
        return std::nullopt;
    }
    // A wider address would wrap round in the request's 16-bit word and program another area.
    if ((value >> shift) > 0xFFFF) {
        error = "Address " + std::string(a) + " is beyond the load request's reach (" +
                (target == Target4100 ? "FFFFFFFF" : "3FFFFFF") + " at most)";
        return std::nullopt;
    }
    f.AddressWord = static_cast<uint16_t>(value >> shift);

    const std::string_view s = Trim(sizeKiB);
    if (!ParseUnsigned(s, 10, 0xFFFF, value)) {
        error = "Size " + Quoted(sizeKiB) + " is not a whole number of KiB from 0 to 65535";
        return std::nullopt;
    }
    f.SizeWord = static_cast<uint16_t>(value);

    const std::string_view c = Trim(crc);
    if (!ParseUnsigned(c, 16, 0xFFFF, value)) {
        error = "CRC " + Quoted(crc) + " is not a hexadecimal number from 0 to FFFF";
        return std::nullopt;
    }
    f.ExpectedCrc = static_cast<uint16_t>(value);
    return f;
}

std::array<uint8_t, LoadRequestLength> BuildLoadRequest(const LoadFields& fields) {
    const uint8_t payload[5] = {LoadRequestKind, static_cast<uint8_t>(fields.AddressWord & 0xFF),
                                static_cast<uint8_t>(fields.AddressWord >> 8),
                                static_cast<uint8_t>(fields.SizeWord & 0xFF),
                                static_cast<uint8_t>(fields.SizeWord >> 8)};
    std::array<uint8_t, LoadRequestLength> out{};
    BuildFrame(IdCommand, CmdLoadRequest, payload, sizeof payload, out.data(), static_cast<int>(out.size()));
    return out;
}

std::array<uint8_t, EraseFrameLength> BuildEraseFrame() {
    std::array<uint8_t, EraseFrameLength> out{};
    BuildFrame(IdCommand, CmdErase, nullptr, 0, out.data(), static_cast<int>(out.size()));
    return out;
}

std::array<uint8_t, LoaderRestartLength> BuildLoaderRestart() {
    const uint8_t zeros[16] = {};
    std::array<uint8_t, LoaderRestartLength> out{};
    BuildFrame(IdCommand, CmdRestart, zeros, sizeof zeros, out.data(), static_cast<int>(out.size()));
    return out;
}

void FillPacket(const FirmwareImage& image, uint32_t offset, uint8_t* packet) {
    const uint32_t size = static_cast<uint32_t>(std::clamp<int32_t>(image.Size, 0, ImageCapacity));
    if (offset >= size) {
        std::memset(packet, 0xFF, PacketSize);
        return;
    }
    // A packet that starts inside the image is always whole; past the image the buffer is zero.
    const uint32_t n = std::min<uint32_t>(PacketSize, ImageCapacity - offset);
    std::memcpy(packet, image.Bytes.data() + offset, n);
    std::memset(packet + n, 0, PacketSize - n);
}

std::vector<uint8_t> LoadStream(const FirmwareImage& image, uint32_t loadLimit) {
    const uint32_t packets = PacketCountOf(loadLimit);
    std::vector<uint8_t> out(static_cast<size_t>(packets) * PacketSize);
    for (uint32_t k = 0; k < packets; ++k) FillPacket(image, k * PacketSize, out.data() + k * PacketSize);
    return out;
}

uint16_t LoadStreamCrc(const FirmwareImage& image, uint32_t loadLimit) {
    uint16_t acc = 0;
    uint8_t packet[PacketSize];
    for (uint32_t k = 0, n = PacketCountOf(loadLimit); k < n; ++k) {
        FillPacket(image, k * PacketSize, packet);
        acc = LoaderCrc16(packet, PacketSize / 2, acc);
    }
    return acc;
}

void RestartIntoLoader(TSerialPort& port, int workingBaud, int target, const Clock& clock) {
    port.Reset(workingBaud, 8, 0, 0, 2);
    clock.SleepMs(200);
    if (target == Target4100) return;  // that loader takes its request at the working rate
    const auto frame = BuildLoaderRestart();
    port.txData(frame.data(), static_cast<int>(frame.size()));
    clock.SleepMs(400);
    port.Reset(BaudRates[LoaderBaudIndex], 8, 0, 0, 2);
}

}  // namespace vantora
