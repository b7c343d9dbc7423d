// The parts of the file interface that every system shares.
#include "foundation/os_file.h"

#include <filesystem>
#include <system_error>

#include "foundation/pacing.h"
#include "foundation/paths.h"

namespace vornex::os {

TFile& TFile::operator=(TFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.Release();
  }
  return *this;
}

std::string FileResultText(const TFileResult& result) {
  if (result.code != 0) return SystemErrorText(result.code);
  switch (result.status) {
    case TFileStatus::kDone:
      return "done";
    case TFileStatus::kMissing:
      return "no such file";
    case TFileStatus::kNameTaken:
      return "the name is taken";
    case TFileStatus::kLink:
      return "symbolic link";
    case TFileStatus::kNotRegular:
      return "not a regular file";
    case TFileStatus::kTooLarge:
      return "too large";
    case TFileStatus::kFailed:
      break;
  }
  return "failed";
}

TFileResult WriteFileAtomically(const std::string& path, std::string_view bytes) {
  // A rename would put the new file in the place of a device or pipe, not write to it.
  if (TFileResult target = CheckReplaceable(path); !target.Done()) return target;
  // A name nobody has taken: a clash with another writer's temporary file tries the next.
  const std::uint32_t seed = pacing::TickCount();
  for (std::uint32_t attempt = 0; attempt < 100; ++attempt) {
    const std::string temporary = path + ".tmp-" + std::to_string(seed + attempt);
    TFileResult result = WriteNewFile(temporary, bytes);
    if (result.status == TFileStatus::kNameTaken) continue;
    namespace fs = std::filesystem;
    const fs::path temporaryPath = paths::FsPath(temporary);
    std::error_code ignored;
    if (result.Done()) {
      // The new file keeps the permissions of the file it replaces.
      const fs::file_status former = fs::status(paths::FsPath(path), ignored);
      if (fs::exists(former)) fs::permissions(temporaryPath, former.permissions(), ignored);
      result = MoveIntoPlace(temporary, path);
    }
    if (!result.Done()) {
      // Writable again first: Windows removes no read-only file, and a read-only file that
      // could not be replaced gave its permissions to this one.
      fs::permissions(temporaryPath, fs::perms::owner_write, fs::perm_options::add, ignored);
      fs::remove(temporaryPath, ignored);
    }
    return result;
  }
  return TFileResult{TFileStatus::kNameTaken, 0, 0};
}

}  // namespace vornex::os
