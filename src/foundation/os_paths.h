// The operating system's answers behind the station's folders (foundation/paths.h is their only
// caller). Every text is UTF-8.
#pragma once

#include <string>

namespace vornex::os {

// The folder of the running executable, without a trailing separator unless it is a root
// ("/", "C:\"); empty when the system cannot tell.
std::string ExecutableFolder();

// The user's temporary folder, ending with a separator.
std::string TempFolder();

// The folder for the station's own records, not yet created: empty when the system names none.
std::string StateFolder();

// The folder in the form that takes every name in it literally: on Windows the absolute
// "\\?\C:\bench" form, since "COM3.port" names the port COM3 in the plain form; elsewhere the
// folder as given.
std::string LiteralFolder(const std::string& folder);

// The separator Join puts between a folder and a name, and whether a character already is one.
char PathSeparator();
bool IsPathSeparator(char c);

}  // namespace vornex::os
