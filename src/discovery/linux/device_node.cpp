// Device node facts on Linux: stat() and the user and group databases.
#include "discovery/device_node.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace vornex {
namespace {

constexpr std::size_t kDatabaseBuffer = 16 * 1024;

std::string UserName(uid_t uid) {
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(kDatabaseBuffer);
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  return std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  group entry{};
  group* found = nullptr;
  std::vector<char> buffer(kDatabaseBuffer);
  if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->gr_name;
  }
  return std::to_string(gid);
}

std::string ModeText(mode_t mode) {
  std::string text = S_ISCHR(mode)    ? "c"
                     : S_ISBLK(mode)  ? "b"
                     : S_ISDIR(mode)  ? "d"
                     : S_ISFIFO(mode) ? "p"
                     : S_ISSOCK(mode) ? "s"
                                      : "-";
  const char* const letters = "rwxrwxrwx";
  for (int bit = 0; bit < 9; ++bit) {
    text += (mode & (0400 >> bit)) != 0 ? letters[bit] : '-';
  }
  return text;
}

}  // namespace

TNodeFacts DescribeNode(const std::string& path) {
  TNodeFacts facts;
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return facts;
  facts.present = true;
  facts.owner = UserName(info.st_uid);
  facts.group = GroupName(info.st_gid);
  facts.mode = ModeText(info.st_mode);
  return facts;
}

}  // namespace vornex
