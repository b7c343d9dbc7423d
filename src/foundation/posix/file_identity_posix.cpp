// File identity on Linux: the device and inode numbers of stat().
#include <sys/stat.h>

#include <cerrno>

#include "foundation/file_identity.h"
#include "foundation/os_file.h"

namespace vornex::os {

std::optional<TFileIdentity> FileIdentityOf(const std::string& path, std::string* error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (error != nullptr) *error = SystemErrorText(errno);
    return std::nullopt;
  }
  return TFileIdentity{static_cast<std::uint64_t>(st.st_dev),
                       static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace vornex::os
