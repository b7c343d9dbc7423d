// Who else has a port open. A terminal program or a modem manager may hold a tty open without
// any lock, and a station running with every privilege gets past the exclusive open as well, so
// a test open alone cannot tell that a port is in use: where the system tells who holds a port,
// the holders are found and named. Where it does not, no port has known holders and a held
// port reads busy from the test open alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vornex {

// One process holding a port open.
struct TPortHolder {
  std::int32_t pid = 0;
  std::string name;  // the process's own short name, "ModemManager"; "?" when unreadable
};

// "ModemManager (pid 812)".
std::string HolderText(const TPortHolder& holder);
// The holders one after the other: "ModemManager (pid 812), minicom (pid 944)"; empty for none.
std::string HoldersText(const std::vector<TPortHolder>& holders);

// The processes other than this one that hold each of the ttys open, in the order of
// `ttyPaths` and each list in pid order: one look at the system for all of them. A tty that is
// missing has no holders. An open file counts when it is the same device as the tty, whatever
// path it was opened by.
std::vector<std::vector<TPortHolder>> FindPortHolders(const std::vector<std::string>& ttyPaths);

}  // namespace vornex
