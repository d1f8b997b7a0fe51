// The firmware image: a raw file of 1 to 262144 bytes, sent to the receiver from its first byte.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vantora {

constexpr int ImageCapacity = 262144;
constexpr int ImageSlotSize = 1024;

// The image as a value: its bytes and its size. Bytes past Size are always zero, so the last
// packet of a load never carries the tail of an earlier, longer file.
struct FirmwareImage {
    std::array<uint8_t, ImageCapacity> Bytes{};
    int32_t Size = 0;
};

enum class ImageReadStatus { Ok, CannotOpen, Empty, TooLarge, ReadFailed };

struct ImageReadResult {
    ImageReadStatus Status = ImageReadStatus::CannotOpen;
    std::string Message;  // why the file was refused; empty when it was read

    bool Ok() const { return Status == ImageReadStatus::Ok; }
    // The file was opened and not too large: the window shows its name even when it is empty.
    bool FileShown() const { return Status == ImageReadStatus::Ok || Status == ImageReadStatus::Empty; }
};

// Reads the file at path into image in 1024-byte slots after clearing it. A file that cannot be
// opened or read, is empty or is longer than ImageCapacity is refused, and image is left as it
// was (the previous image stays usable).
ImageReadResult ReadFirmwareFile(const std::string& path, FirmwareImage& image);

}  // namespace vantora
