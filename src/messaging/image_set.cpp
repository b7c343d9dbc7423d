// The image set: the operator's image folder turned into programmer, flash image, image tag and
// item switches, once per run, and checked before any device is touched.
#include "messaging/image_set.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <new>
#include <system_error>

#include "foundation/paths.h"
#include "foundation/profile.h"
#include "foundation/sha256.h"
#include "foundation/text.h"
#include "messaging/messages.h"
#include "protocols/hex_file.h"

namespace vornex {
namespace fs = std::filesystem;
namespace {

// The first regular file (or link to one) of the folder whose name contains ".hex", in the
// order the file system lists them; empty when there is none or the folder cannot be read.
std::string FindProgrammer(const std::string& folder) {
  std::error_code ec;
  for (fs::directory_iterator it(paths::FsPath(folder), ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = paths::Utf8Path(it->path().filename());
    if (name.find(".hex") == std::string::npos) continue;
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;  // a folder named like a programmer is none
    return name;
  }
  return {};
}

// "Image set refused: <problem> (<path>)".
std::string Refusal(const std::string& problem, const std::string& path) {
  return "Image set refused: " + problem + " (" + path + ")";
}

// What keeps the file from being read as a regular file: empty when nothing does (its size then
// in `size`). `present` is false when nothing at all, not even a link, has the name.
std::string FileProblem(const std::string& path, bool* present, std::uintmax_t* size) {
  std::error_code ec;
  *present = fs::symlink_status(paths::FsPath(path), ec).type() != fs::file_type::not_found;
  if (!*present) return {};
  const fs::file_status status = fs::status(paths::FsPath(path), ec);
  if (ec) return "cannot be read (" + ec.message() + ")";  // a dangling link, a link loop
  // Folders, pipes, devices: nothing to read (and nothing to block on).
  if (status.type() != fs::file_type::regular) return "is not a regular file";
  *size = fs::file_size(paths::FsPath(path), ec);
  if (ec) return "cannot be read (" + ec.message() + ")";
  return {};
}

// The whole file of the size it was found to have; nothing when it cannot be read completely or
// changed its size meanwhile.
TImageData LoadWholeFile(const std::string& path, std::uintmax_t size) {
  std::ifstream in(paths::FsPath(path), std::ios::binary);
  if (!in) return nullptr;
  try {
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
    if (static_cast<std::uintmax_t>(in.gcount()) != size) return nullptr;
    if (in.peek() != std::ifstream::traits_type::eof()) return nullptr;
    return bytes;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

bool IsPrintableAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// The parsed programmer of the set, or its refusal.
void LoadProgrammer(TImageSet& set, const std::string& name, const std::string& path) {
  auto image = std::make_shared<THexImage>();
  std::string reason;
  if (ParseHexFile(path, *image, &reason) != 1) {
    set.refusal = Refusal("programmer " + name + " does not parse: " + reason, path);
  } else if (image->data.empty()) {
    set.refusal = Refusal("programmer " + name + " holds no data", path);
  } else {
    set.programmer = std::move(image);
  }
}

// nor.mbn with its tag and digest, or the refusal of the set.
void LoadFlashImage(TImageSet& set, const std::string& path) {
  const std::string name = kFlashImageName;
  bool present = false;
  std::uintmax_t size = 0;
  const std::string problem = FileProblem(path, &present, &size);
  if (!present) {
    set.refusal = Refusal("no " + name + " in the image folder", path);
    return;
  }
  if (!problem.empty()) {
    set.refusal = Refusal(name + " " + problem, path);
    return;
  }
  if (size < kMinFlashImageBytes) {
    set.refusal =
        Refusal(FormatBounded(128, "%s is too small for a flash image: %ju bytes, at least %zu",
                              name.c_str(), size, kMinFlashImageBytes),
                path);
    return;
  }
  if (size > kMaxFlashImageBytes) {
    set.refusal =
        Refusal(FormatBounded(128, "%s is too large for a flash image: %ju bytes, at most %zu",
                              name.c_str(), size, kMaxFlashImageBytes),
                path);
    return;
  }
  set.imageData = LoadWholeFile(path, size);
  if (!set.imageData) {
    set.refusal = Refusal(name + " cannot be read completely", path);
    return;
  }
  set.itemSwitches |= kImageLoaded;
  set.imageTag = ImageTagOf(*set.imageData);
  set.imageSha256 = Sha256Hex(set.imageData->data(), set.imageData->size());
  if (set.imageTag.empty()) {
    set.refusal = Refusal(name + " has no version tag", path);
  } else if (!IsPrintableAscii(set.imageTag)) {
    set.refusal = Refusal(name + " has a version tag that is not printable text", path);
  }
}

// The item switches of the image folder's Vornex_730.ini; a file that is there but cannot be
// read as a profile refuses the set (when nothing else did before).
void ReadItemSwitches(TImageSet& set, const std::string& path) {
  const std::string name = kSettingsFileName;
  bool present = false;
  std::uintmax_t size = 0;
  std::string problem = FileProblem(path, &present, &size);
  if (present && problem.empty() && size > kMaxItemFileBytes) {
    problem = FormatBounded(96, "is larger than %zu KiB", kMaxItemFileBytes / 1024);
  }
  if (present && problem.empty()) {
    const TImageData bytes = LoadWholeFile(path, size);
    problem = !bytes ? std::string("cannot be read completely")
                     : profile::TextProblem(std::string_view(
                           reinterpret_cast<const char*>(bytes->data()), bytes->size()));
  }
  if (!problem.empty()) {
    if (set.refusal.empty()) set.refusal = Refusal(name + " " + problem, path);
    return;
  }
  if (!present) return;
  for (const auto& [key, bit] : {std::pair{"ItemAT", kItemAt}, std::pair{"ItemNV", kItemNv}}) {
    const std::string value = profile::ReadString(path, kUpdateItemSection, key);
    if (profile::IsOff(value)) set.itemSwitches &= ~bit;
    if (profile::IsOn(value)) set.itemSwitches |= bit;
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
  if (programmer.empty()) {
    set.refusal = Refusal("no programmer (.hex) in the image folder", folder);
  } else {
    const std::string programmerPath = paths::Join(folder, programmer);
    const std::string imagePath = paths::Join(folder, kFlashImageName);
    set.programmerFile = programmerPath;
    set.flashImageFile = imagePath;
    LoadProgrammer(set, programmer, programmerPath);
    // The flash image is loaded only for a programmer that can carry it.
    if (set.refusal.empty()) LoadFlashImage(set, imagePath);
  }

  ReadItemSwitches(set, paths::Join(folder, kSettingsFileName));
  set.identityBackupOff = (set.itemSwitches & (kItemAt | kItemNv)) == 0;
  return set;
}

}  // namespace vornex
