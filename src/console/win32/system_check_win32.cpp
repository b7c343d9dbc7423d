// The system check on Windows: the system's own listing of the COM ports and the exclusive test
// open of each. Windows does not tell who holds a port, and no other software on it is known
// to take hold of the station's ports, so the report ends with the ports.
#include <windows.h>

#include "console/system_check_os.h"
#include "foundation/text.h"

namespace vornex {
namespace {

// The system's own text for an error code, without its line end.
std::string SystemText(int code) {
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length > 0 ? AnsiToUtf8(std::string_view(text, length)) : std::string();
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return message.empty() ? "system error " + std::to_string(code) : message;
}

}  // namespace

std::vector<TPortInfo> ListCheckedPorts(const TSystemRoots& /*roots*/, TDiscoveryNotes& notes) {
  return MakeSystemBackend()->ListPorts(notes);
}

std::string OpenText(const TTtyTest& test) {
  switch (test.result) {
    case TTtyOpen::kOpened:
      return "this user can open it";
    case TTtyOpen::kDenied:
      return "this user may not open it (" + SystemText(test.systemCode) + ")";
    case TTtyOpen::kMissing:
      return "the port is not there";
    case TTtyOpen::kBusy:
      break;
  }
  return "another program has it open (" + SystemText(test.systemCode) + ")";
}

std::string PortAccessText(const TPortInfo& /*port*/, const TTtyTest& test) {
  return OpenText(test);
}

void ReportSystemSoftware(const TSystemRoots& /*roots*/, std::ostream& /*out*/,
                          std::vector<std::string>& /*blockers*/) {}

std::string StartupWarnings(const TSystemRoots& /*roots*/) {
  return {};
}

}  // namespace vornex
