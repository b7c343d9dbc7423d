// File identity on Windows: the volume serial number and file index of an open handle that
// asks for no access and shares everything, so that it never stands in another program's way.
#include <windows.h>

#include "foundation/file_identity.h"
#include "foundation/os_file.h"
#include "foundation/win32/wide_text.h"

namespace vornex::os {

std::optional<TFileIdentity> FileIdentityOf(const std::string& path, std::string* error) {
  const HANDLE file = ::CreateFileW(win32::Wide(path).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    if (error != nullptr) *error = SystemErrorText(static_cast<int>(::GetLastError()));
    return std::nullopt;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const BOOL got = ::GetFileInformationByHandle(file, &info);
  const DWORD code = ::GetLastError();
  ::CloseHandle(file);
  if (!got) {
    if (error != nullptr) *error = SystemErrorText(static_cast<int>(code));
    return std::nullopt;
  }
  return TFileIdentity{
      info.dwVolumeSerialNumber,
      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

}  // namespace vornex::os
