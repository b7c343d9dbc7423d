// The texts of port holders, the same on every system.
#include "discovery/port_holders.h"

#include "discovery/note_text.h"

namespace vornex {

std::string HolderText(const TPortHolder& holder) {
  return NoteText(holder.name) + " (pid " + std::to_string(holder.pid) + ")";
}

std::string HoldersText(const std::vector<TPortHolder>& holders) {
  std::string text;
  for (const TPortHolder& holder : holders) {
    if (!text.empty()) text += ", ";
    text += HolderText(holder);
  }
  return text;
}

}  // namespace vornex
