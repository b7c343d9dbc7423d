// The system's port backend on Windows: the method that the system's version calls for, its
// records tested for access like those of any backend.
#include "discovery/win32/windows_backend.h"

#include <windows.h>

#include <utility>

#include "foundation/settings.h"

namespace vornex {
namespace win32 {
namespace {

// RtlGetVersion of ntdll, which every Windows has but no import library offers.
using TRtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);

class TWindowsBackend final : public TPortBackend {
 public:
  TWindowsBackend(TWindowsMethod method, std::string settingsPath)
      : method_(method), settingsPath_(std::move(settingsPath)) {}

  std::vector<TPortInfo> ListPorts(TDiscoveryNotes& notes) override {
    std::vector<TPortInfo> found;
    if (method_ == TWindowsMethod::kSetupApi) {
      found = ListBySetupApi(notes);
    } else {
      found = ListByRegistry(settingsPath_.empty() ? SettingsPath() : settingsPath_, notes);
    }
    TestPortAccess(found, notes);
    return found;
  }

 private:
  TWindowsMethod method_;
  std::string settingsPath_;
};

}  // namespace

TWindowsMethod SystemMethod() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  const FARPROC proc = ntdll != nullptr ? ::GetProcAddress(ntdll, "RtlGetVersion") : nullptr;
  if (proc == nullptr) return TWindowsMethod::kSetupApi;
  // Through void(*)(), the one function type that converts to any other without a warning.
  const auto rtlGetVersion = reinterpret_cast<TRtlGetVersion>(reinterpret_cast<void (*)()>(proc));
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (rtlGetVersion(&version) != 0) return TWindowsMethod::kSetupApi;
  return version.dwMajorVersion >= 6 ? TWindowsMethod::kSetupApi : TWindowsMethod::kRegistry;
}

std::unique_ptr<TPortBackend> MakeWindowsBackend(TWindowsMethod method, std::string settingsPath) {
  return std::make_unique<TWindowsBackend>(method, std::move(settingsPath));
}

}  // namespace win32

std::unique_ptr<TPortBackend> MakeSystemBackend() {
  return win32::MakeWindowsBackend(win32::SystemMethod());
}

}  // namespace vornex
