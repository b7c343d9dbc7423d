// TImageSet: what the coordinator makes of the operator's image folder before the first
// download, copied into every job: item switches, folder, programmer and flash image paths,
// the image tag, and the flash image itself, loaded once and shared read-only by all jobs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/text.h"

namespace vornex {

// Bits of TImageSet::itemSwitches.
constexpr std::uint32_t kItemAt = 0x1;         // back up and restore the AT identity
constexpr std::uint32_t kItemNv = 0x2;         // back up and restore the NV items
constexpr std::uint32_t kImageLoaded = 0x4;    // nor.mbn exists and was loaded

constexpr std::size_t kImageTagBytes = 32;

// The flash image, shared by the image set and every job that carries a copy of it. Holding a
// reference keeps the data alive, so no job can read released image memory.
using ImageData = std::shared_ptr<const std::vector<std::uint8_t>>;

// The name of the flash image in the image folder.
constexpr const char* kFlashImageName = "nor.mbn";
// Section and keys of the item switches in the image folder's Vornex_730.ini.
constexpr const char* kUpdateItemSection = "UpdateItem";

struct TImageSet {
  std::uint32_t itemSwitches = 0;
  FixedText<260> imageFolder;
  FixedText<260> programmerFile;   // folder + separator + first name containing ".hex"
  FixedText<260> flashImageFile;   // folder + separator + "nor.mbn"
  std::string imageTag;            // at most 32 bytes from the end of the flash image
  ImageData imageData;             // whole nor.mbn, or empty
  std::string imageSha256;         // of the whole nor.mbn, lower-case hex; empty without it
};

struct TDeviceTable;

// Scans the image folder of a download request: the executable's folder when the request's
// useProgramFolder is set, else its image path. Finds the programmer (the first regular file
// whose name contains ".hex"), loads nor.mbn once when a programmer was found, takes the image
// tag from its end and reads the item switches. Never fails: what is missing stays empty.
TImageSet BuildImageSet(const TDeviceTable& selection);

// The image tag of a flash image: its last 32 bytes (the whole image when it is shorter), cut at
// the first 0xFF and, as text, at the first zero byte.
std::string ImageTagOf(const std::vector<std::uint8_t>& image);

}  // namespace vornex
