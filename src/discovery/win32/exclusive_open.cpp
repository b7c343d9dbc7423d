// The exclusive test open on Windows, the way the station's serial port opens a COM port:
// CreateFileW for reading and writing without sharing. A COM port that another program holds
// answers "access denied" (a serial driver admits one opener); a file held without sharing
// answers "sharing violation". A port whose device went away answers one of the "not found" or
// "not connected" errors.
#include <windows.h>

#include "discovery/com_records.h"
#include "discovery/port_enumeration.h"
#include "foundation/win32/wide_text.h"

namespace vornex {
namespace {

TTtyOpen OpenFailure(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_REMOVED:
      return TTtyOpen::kMissing;
    default:  // access denied, sharing violation and whatever else keeps the station out
      return TTtyOpen::kBusy;
  }
}

}  // namespace

std::string ComTtyPath(int com) {
  return com_records::ComDevicePath(com);
}

TTtyTest TestOpenTty(const std::string& ttyPath) {
  if (ttyPath.empty()) return {TTtyOpen::kMissing, ERROR_FILE_NOT_FOUND};
  const HANDLE handle = ::CreateFileW(win32::Wide(ttyPath).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    return {OpenFailure(error), static_cast<int>(error)};
  }
  ::CloseHandle(handle);
  return {TTtyOpen::kOpened, 0};
}

}  // namespace vornex
