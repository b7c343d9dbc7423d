// The image set: the operator's image folder turned into programmer path, flash image, image
// tag and item switches, once per run.
#include "coordination/image_set.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <system_error>

#include "coordination/messages.h"
#include "foundation/paths.h"
#include "foundation/sha256.h"
#include "foundation/profile.h"

namespace vornex {
namespace fs = std::filesystem;
namespace {

// The first regular file (or link to one) of the folder whose name contains ".hex", in the
// order the file system lists them; empty when there is none or the folder cannot be read.
std::string FindProgrammer(const std::string& folder) {
  std::error_code ec;
  for (fs::directory_iterator it(fs::path(folder), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.find(".hex") == std::string::npos) continue;
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;  // a folder named like a programmer is none
    return name;
  }
  return {};
}

// The whole file, or nothing when it cannot be read completely.
ImageData LoadWholeFile(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(fs::path(path), ec)) return nullptr;
  std::ifstream in(path, std::ios::binary);
  if (!in) return nullptr;
  try {
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(std::istreambuf_iterator<char>(in),
                                                             std::istreambuf_iterator<char>());
    if (in.bad()) return nullptr;
    return bytes;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

std::string ImageTagOf(const std::vector<std::uint8_t>& image) {
  const std::size_t from = image.size() > kImageTagBytes ? image.size() - kImageTagBytes : 0;
  std::string tag;
  for (std::size_t i = from; i < image.size() && image[i] != 0xFF; ++i) {
    tag.push_back(static_cast<char>(image[i]));
  }
  return tag.substr(0, tag.find('\0'));
}

TImageSet BuildImageSet(const TDeviceTable& selection) {
  TImageSet set;
  const std::string folder =
      selection.useProgramFolder != 0 ? paths::ExeFolder() : selection.imagePath.str();
  set.imageFolder = folder;

  const std::string programmer = FindProgrammer(folder);
  if (!programmer.empty()) {
    set.programmerFile = paths::Join(folder, programmer);
    set.flashImageFile = paths::Join(folder, kFlashImageName);
    std::error_code ec;
    if (fs::exists(fs::path(set.flashImageFile.str()), ec)) {
      // A nor.mbn that exists but cannot be read (or is no file) counts as missing.
      set.imageData = LoadWholeFile(set.flashImageFile.str());
      if (set.imageData) set.itemSwitches |= kImageLoaded;
    }
  }

  const std::string ini = paths::Join(folder, kSettingsFileName);
  for (const auto& [key, bit] : {std::pair{"ItemAT", kItemAt}, std::pair{"ItemNV", kItemNv}}) {
    const std::string value = profile::ReadString(ini, kUpdateItemSection, key);
    if (profile::IsOff(value)) set.itemSwitches &= ~bit;
    if (profile::IsOn(value)) set.itemSwitches |= bit;
  }

  if (set.imageData) {
    set.imageTag = ImageTagOf(*set.imageData);
    set.imageSha256 = Sha256Hex(set.imageData->data(), set.imageData->size());
  }
  return set;
}

}  // namespace vornex
