// Which file a name stands for right now: the volume and the file's number on it (device and
// inode on Linux, volume serial and file index on Windows). A program that keeps a file open
// compares it with what it saw at opening to notice that the file was deleted or replaced under
// it, since its open handle goes on working on the old file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vornex::os {

struct TFileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t number = 0;
  bool operator==(const TFileIdentity&) const = default;
};

// The identity of the file that the path names now, links followed; nullopt with the system's
// reason when there is none (deleted, folder gone, not accessible).
std::optional<TFileIdentity> FileIdentityOf(const std::string& path, std::string* error);

}  // namespace vornex::os
