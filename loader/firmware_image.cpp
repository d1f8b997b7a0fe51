#include "loader/firmware_image.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace vantora {

namespace {

ImageReadResult Refuse(ImageReadStatus status, std::string message) {
    return ImageReadResult{status, std::move(message)};
}

}  // namespace

ImageReadResult ReadFirmwareFile(const std::string& path, FirmwareImage& image) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file)
        return Refuse(ImageReadStatus::CannotOpen, "cannot open " + path + ": " + std::strerror(errno));

    // Read into a cleared buffer of our own: a refused file leaves the caller's image untouched,
    // and an accepted one has zeros past its end. The length is what the reads deliver (bounded
    // by the buffer plus one byte), not what the file claimed beforehand.
    auto fresh = std::make_unique<FirmwareImage>();
    size_t total = 0;
    for (;;) {
        if (total == static_cast<size_t>(ImageCapacity)) {
            uint8_t extra;
            if (std::fread(&extra, 1, 1, file.get()) == 1) {
                return Refuse(ImageReadStatus::TooLarge,
                              path + " is longer than " + std::to_string(ImageCapacity) + " bytes");
            }
            break;
        }
        const size_t got = std::fread(fresh->Bytes.data() + total, 1, ImageSlotSize, file.get());
        total += got;
        if (got < static_cast<size_t>(ImageSlotSize)) break;
    }
    if (std::ferror(file.get())) {
        return Refuse(ImageReadStatus::ReadFailed, "cannot read " + path + ": " + std::strerror(errno));
    }
    if (total == 0) return Refuse(ImageReadStatus::Empty, path + " is empty");
    fresh->Size = static_cast<int32_t>(total);
    image = *fresh;
    return ImageReadResult{ImageReadStatus::Ok, {}};
}

}  // namespace vantora
