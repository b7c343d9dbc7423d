// Where the station finds its files: the folder of the running executable (settings file,
// log files, default image folder), the user's temporary folder (second place for logs) and the
// folder of the station's own records. Every path is a UTF-8 text.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vornex::paths {

// The executable's folder, without a trailing separator ("/opt/vornex/bin",
// "C:\Program Files\Vornex"); "." when the system cannot tell.
std::string ExeFolder();

// The temporary folder, always ending with a separator: on Linux $TMPDIR if set and not empty,
// else /tmp/; on Windows the folder GetTempPath names (%TMP%, %TEMP%, ...).
std::string TempFolder();

// The folder for the station's own records (the record store), not created here: on Linux
// $XDG_STATE_HOME/vornex, else $HOME/.local/state/vornex; on Windows %LOCALAPPDATA%\Vornex.
// Empty when the system names no such place.
std::string StateFolder();

// folder + separator + name; a folder that already ends with a separator ("/", and "\" too on
// Windows) gets no second one.
std::string Join(std::string_view folder, std::string_view name);

// The path object of a UTF-8 path text, and the UTF-8 text of a path object. A plain char text
// would be taken in the system's narrow code page on Windows, which is not UTF-8: every path
// handed to std::filesystem or to a file stream goes through FsPath.
std::filesystem::path FsPath(std::string_view utf8);
std::string Utf8Path(const std::filesystem::path& path);

// The path object of a folder whose files may bear names that Windows keeps for devices
// ("COM3.port" names the port COM3 there, however the folder is written): on Windows the
// absolute form that takes every name literally ("\\?\C:\bench"); elsewhere FsPath(folder).
std::filesystem::path LiteralFsPath(std::string_view folder);

// Makes ExeFolder() answer `folder` instead (tests, bench set-ups); an empty text undoes it.
void OverrideExeFolder(std::string folder);
// Makes TempFolder() answer `folder` (plus a separator) instead (tests); an empty text undoes it.
void OverrideTempFolder(std::string folder);

}  // namespace vornex::paths
