// TImageSet: what the coordinator makes of the operator's image folder before the first
// download, copied into every job: item switches, folder, programmer and flash image paths,
// the image tag, the parsed programmer and the flash image itself, loaded once and shared
// read-only by all jobs. A folder that must not be flashed gives a set that says why.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/text.h"

namespace vornex {

// Bits of TImageSet::itemSwitches.
constexpr std::uint32_t kItemAt = 0x1;       // back up and restore the AT identity
constexpr std::uint32_t kItemNv = 0x2;       // back up and restore the NV items
constexpr std::uint32_t kImageLoaded = 0x4;  // nor.mbn exists and was loaded

constexpr std::size_t kImageTagBytes = 32;
// Bounds of a flash image: its tag and at least 1 KiB of content, at most 256 MiB.
constexpr std::size_t kMinFlashImageBytes = kImageTagBytes + 1024;
constexpr std::size_t kMaxFlashImageBytes = std::size_t{256} * 1024 * 1024;
// Bound of the image folder's Vornex_730.ini (a few item switches).
constexpr std::size_t kMaxItemFileBytes = std::size_t{1024} * 1024;

// The flash image, shared by the image set and every job that carries a copy of it. Holding a
// reference keeps the data alive, so no job can read released image memory.
using TImageData = std::shared_ptr<const std::vector<std::uint8_t>>;
// The programmer, parsed once and shared in the same way.
struct THexImage;
using TProgrammerData = std::shared_ptr<const THexImage>;

// The name of the flash image in the image folder.
constexpr const char* kFlashImageName = "nor.mbn";
// Section and keys of the item switches in the image folder's Vornex_730.ini.
constexpr const char* kUpdateItemSection = "UpdateItem";

struct TImageSet {
  std::uint32_t itemSwitches = 0;
  TFixedText<260> imageFolder;
  TFixedText<260> programmerFile;  // folder + separator + first name containing ".hex"
  TFixedText<260> flashImageFile;  // folder + separator + "nor.mbn"
  std::string imageTag;            // at most 32 bytes from the end of the flash image
  TImageData imageData;            // whole nor.mbn, or empty
  std::string imageSha256;         // of the whole nor.mbn, lower-case hex; empty without it
  TProgrammerData programmer;      // the parsed programmer; null when it did not parse
  // Why the set must not be flashed ("Image set refused: ..."); empty for a usable set.
  std::string refusal;
  // Neither the AT identity nor the NV items are backed up and restored: no Vornex_730.ini in
  // the image folder, or one that switches both off.
  bool identityBackupOff = false;
};

struct TDeviceTable;

// Scans the image folder of a download request: the executable's folder when the request's
// useProgramFolder is set, else its image path. Finds the programmer (the first regular file
// whose name contains ".hex") and parses it in full; when it parses, loads nor.mbn and takes the
// image tag from its end; checks and reads the item switches. The set is refused, with the file
// and the problem named in `refusal`, when the programmer is missing, does not parse or holds no
// data; when nor.mbn is missing, unreadable, smaller than kMinFlashImageBytes or larger than
// kMaxFlashImageBytes, or its tag is empty or not printable ASCII; when Vornex_730.ini exists
// but is no readable regular file or no profile text. A missing Vornex_730.ini is allowed: both
// switches stay off. Nothing is ever opened that could block (folders, pipes, devices).
TImageSet BuildImageSet(const TDeviceTable& selection);

// The image tag of a flash image: its last 32 bytes (the whole image when it is shorter), cut at
// the first 0xFF and, as text, at the first zero byte.
std::string ImageTagOf(const std::vector<std::uint8_t>& image);

}  // namespace vornex
