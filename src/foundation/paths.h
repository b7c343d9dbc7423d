// Where the station finds its files: the folder of the running executable (settings file,
// log files, default image folder) and the user's temporary folder (second place for logs).
#pragma once

#include <string>
#include <string_view>

namespace vornex::paths {

// The executable's folder, without a trailing separator ("/opt/vornex/bin").
std::string ExeFolder();

// The temporary folder, always ending with a separator: $TMPDIR if set and not empty, else /tmp/.
std::string TempFolder();

// folder + separator + name; a folder that already ends with a separator gets no second one.
std::string Join(std::string_view folder, std::string_view name);

// Makes ExeFolder() answer `folder` instead (tests, bench set-ups); an empty text undoes it.
void OverrideExeFolder(std::string folder);

}  // namespace vornex::paths
