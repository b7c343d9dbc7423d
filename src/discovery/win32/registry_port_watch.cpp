// The system's port notifications on Windows: a change notification on
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, to which every serial port driver adds its COM port's
// value when the port comes and from which it removes it when the port goes. The notification
// signals an event and is asked for again after every signal; a poll only looks at the event.
//
// The key exists only once some serial port has been there since the system started: until
// then the watch looks at HARDWARE\DEVICEMAP with its sub-keys, where the key appears, and moves
// to the key itself after the first change.
//
// Before Windows 8 a notification belongs to the thread that asked for it and ends, signalling
// the event, when that thread ends: the poll then reads a change (a device check too many) and
// asks again from its own thread. Later systems are asked for a notification of no thread.
#include <windows.h>

#include <utility>

#include "discovery/port_watch.h"
#include "discovery/win32/registry.h"
#include "discovery/win32/windows_backend.h"
#include "foundation/os_file.h"

namespace vornex {
namespace {

constexpr const char* kDeviceMapKey = "HARDWARE\\DEVICEMAP";
constexpr DWORD kChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
// REG_NOTIFY_THREAD_AGNOSTIC, which the Windows 7 headers do not offer.
constexpr DWORD kThreadAgnostic = 0x10000000L;

std::string CallText(const char* call, LONG error) {
  return std::string(call) + ": " + os::SystemErrorText(static_cast<int>(error));
}

class TRegistryPortWatch : public TPortWatch {
 public:
  ~TRegistryPortWatch() override {
    key_.Close();  // ends the notification before its event goes
    if (event_ != nullptr) ::CloseHandle(event_);
  }

  // Opens the key and asks for the first notification; the reason when it cannot.
  std::string Open() {
    event_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (event_ == nullptr) return CallText("CreateEventW", static_cast<LONG>(::GetLastError()));
    return Arm();
  }

  bool Poll() override {
    if (fallback_) return fallback_->Poll();
    if (::WaitForSingleObject(event_, 0) != WAIT_OBJECT_0) return false;
    if (const std::string problem = Arm(); !problem.empty()) {
      // No more notifications: from now on the periodic "maybe".
      fallback_ = MakePeriodicWatch(kPortRecheckPeriodMs);
    }
    return true;
  }

 private:
  // Asks for the next change of SERIALCOMM, or of DEVICEMAP while SERIALCOMM is missing.
  std::string Arm() {
    if (!key_.IsOpen() || watchingParent_) {
      win32::TRegKey serialComm =
          win32::TRegKey::Open(HKEY_LOCAL_MACHINE, win32::kSerialCommKey, KEY_NOTIFY);
      watchingParent_ = !serialComm.IsOpen();
      if (watchingParent_) {
        LONG error = ERROR_SUCCESS;
        serialComm = win32::TRegKey::Open(HKEY_LOCAL_MACHINE, kDeviceMapKey, KEY_NOTIFY, &error);
        if (!serialComm.IsOpen()) return CallText("RegOpenKeyExW", error);
      }
      key_ = std::move(serialComm);
      // Closing the former key signalled the event; this poll reports the change already.
      ::ResetEvent(event_);
    }
    const BOOL subtree = watchingParent_ ? TRUE : FALSE;
    LONG error =
        ::RegNotifyChangeKeyValue(key_.Get(), subtree, kChanges | kThreadAgnostic, event_, TRUE);
    if (error == ERROR_INVALID_PARAMETER) {  // a system before Windows 8
      error = ::RegNotifyChangeKeyValue(key_.Get(), subtree, kChanges, event_, TRUE);
    }
    return error == ERROR_SUCCESS ? std::string() : CallText("RegNotifyChangeKeyValue", error);
  }

  win32::TRegKey key_;
  bool watchingParent_ = false;
  HANDLE event_ = nullptr;
  std::unique_ptr<TPortWatch> fallback_;
};

}  // namespace

std::unique_ptr<TPortWatch> MakeSystemPortWatch(std::string* note) {
  auto watch = std::make_unique<TRegistryPortWatch>();
  const std::string problem = watch->Open();
  if (problem.empty()) return watch;
  return PeriodicWatchInstead(problem, note);
}

}  // namespace vornex
