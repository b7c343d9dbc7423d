// Device node facts on Windows. A COM port has no owner, group or mode that a listing shows:
// only whether the system knows the name. "\\.\COM5" asks the DOS device names, any other
// path the file system.
#include "discovery/device_node.h"

#include <windows.h>

#include <string_view>

#include "foundation/win32/wide_text.h"

namespace vornex {

TNodeFacts DescribeNode(const std::string& path) {
  TNodeFacts facts;
  if (path.empty()) return facts;
  constexpr std::string_view kDevicePrefix = "\\\\.\\";
  if (path.starts_with(kDevicePrefix)) {
    // Only whether the name has a target; a target too long for the buffer is one too.
    wchar_t target[MAX_PATH];
    facts.present = ::QueryDosDeviceW(win32::Wide(path.substr(kDevicePrefix.size())).c_str(),
                                      target, MAX_PATH) != 0 ||
                    ::GetLastError() == ERROR_INSUFFICIENT_BUFFER;
  } else {
    facts.present = ::GetFileAttributesW(win32::Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  return facts;
}

}  // namespace vornex
