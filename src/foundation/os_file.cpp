// The parts of the file interface that every system shares.
#include "foundation/os_file.h"

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

}  // namespace vornex::os
