// The holders of a port on Linux, found in /proc: every <pid>/fd entry is a link to an open
// file, and a stat() through it reaches the file itself, whatever name it was opened by. A
// character device matches the tty by its device number; a pseudo-terminal's number is reused
// by every devpts instance, so there the file system must match too. Anything else (a plain
// file standing in for a node) matches by file identity.
//
// The master side of a pseudo-terminal is /dev/ptmx for every pair; its <pid>/fdinfo entry
// names the pair ("tty-index:"), which is the slave's number under the devpts file system.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <optional>
#include <set>

#include "discovery/linux/port_holders_linux.h"
#include "discovery/linux/read_fd.h"

namespace vornex {
namespace {

constexpr unsigned kPtySlaveFirstMajor = 136;  // /dev/pts/<n>: majors 136..143
constexpr unsigned kPtySlaveLastMajor = 143;
constexpr unsigned kPtmxMajor = 5;  // /dev/ptmx, the master side of every pair
constexpr unsigned kPtmxMinor = 2;
constexpr unsigned kMinorBits = 20;
// A process's short name is at most 15 bytes; an fdinfo entry a few lines.
constexpr std::size_t kMaxProcFileBytes = 4096;

// What a tty is, to be recognised among open files.
struct TTtyIdentity {
  bool device = false;  // a character device: match by device number
  dev_t rdev = 0;
  dev_t dev = 0;  // the file system holding the node (or the file)
  ino_t ino = 0;
  long ptyIndex = -1;  // n of /dev/pts/<n>, -1 for any other tty
};

std::optional<TTtyIdentity> IdentityOf(const std::string& path) {
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return std::nullopt;
  TTtyIdentity tty;
  tty.device = S_ISCHR(info.st_mode);
  tty.rdev = info.st_rdev;
  tty.dev = info.st_dev;
  tty.ino = info.st_ino;
  const unsigned major = ::major(info.st_rdev);
  if (tty.device && major >= kPtySlaveFirstMajor && major <= kPtySlaveLastMajor) {
    tty.ptyIndex =
        static_cast<long>(((major - kPtySlaveFirstMajor) << kMinorBits) | ::minor(info.st_rdev));
  }
  return tty;
}

bool SameFile(const TTtyIdentity& tty, const struct stat& open) {
  if (!tty.device)
    return !S_ISCHR(open.st_mode) && open.st_dev == tty.dev && open.st_ino == tty.ino;
  if (!S_ISCHR(open.st_mode) || open.st_rdev != tty.rdev) return false;
  return tty.ptyIndex < 0 || open.st_dev == tty.dev;
}

bool IsPtmx(const struct stat& open) {
  return S_ISCHR(open.st_mode) && ::major(open.st_rdev) == kPtmxMajor &&
         ::minor(open.st_rdev) == kPtmxMinor;
}

bool ParseNumber(std::string_view text, long* value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size() && *value >= 0;
}

// The text of a small file under /proc, read without waiting; nullopt when unreadable.
std::optional<std::string> ReadSmallFile(int dirFd, const std::string& name) {
  const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text = ReadAtMost(fd, kMaxProcFileBytes);
  ::close(fd);
  return text;
}

// The short name of a process (its "comm"), without the line end; "?" when unreadable.
std::string ProcessName(int pidDirFd) {
  std::optional<std::string> name = ReadSmallFile(pidDirFd, "comm");
  if (!name) return "?";
  if (const auto end = name->find('\n'); end != std::string::npos) name->resize(end);
  return name->empty() ? "?" : *name;
}

// The pair number of an open /dev/ptmx, from its fdinfo entry; -1 when not given.
long MasterIndex(int pidDirFd, const char* fdName) {
  const std::optional<std::string> info = ReadSmallFile(pidDirFd, std::string("fdinfo/") + fdName);
  if (!info) return -1;
  constexpr std::string_view kKey = "tty-index:";
  const auto at = info->find(kKey);
  if (at == std::string::npos) return -1;
  std::size_t from = at + kKey.size();
  while (from < info->size() && ((*info)[from] == ' ' || (*info)[from] == '\t')) ++from;
  std::size_t to = from;
  while (to < info->size() && (*info)[to] >= '0' && (*info)[to] <= '9') ++to;
  long index = -1;
  return ParseNumber(std::string_view(*info).substr(from, to - from), &index) ? index : -1;
}

// Calls visit(pid, pid directory descriptor) for every process listed under procRoot but this
// one. Entries that vanish or may not be read are passed over.
template <typename Visit>
void ForEachProcess(const std::string& procRoot, Visit visit) {
  DIR* proc = ::opendir(procRoot.c_str());
  if (proc == nullptr) return;
  const long self = static_cast<long>(::getpid());
  while (const dirent* entry = ::readdir(proc)) {
    long pid = 0;
    if (!ParseNumber(entry->d_name, &pid) || pid == self) continue;
    const int pidDir = ::openat(::dirfd(proc), entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (pidDir < 0) continue;
    visit(static_cast<std::int32_t>(pid), pidDir);
    ::close(pidDir);
  }
  ::closedir(proc);
}

}  // namespace

std::vector<std::vector<TPortHolder>> FindPortHolders(const std::vector<std::string>& ttyPaths,
                                                      const std::string& procRoot) {
  std::vector<std::vector<TPortHolder>> holders(ttyPaths.size());
  std::vector<std::pair<std::size_t, TTtyIdentity>> ttys;
  for (std::size_t i = 0; i < ttyPaths.size(); ++i) {
    if (const auto tty = IdentityOf(ttyPaths[i])) ttys.emplace_back(i, *tty);
  }
  if (ttys.empty()) return holders;

  ForEachProcess(procRoot, [&](std::int32_t pid, int pidDir) {
    const int fdDir = ::openat(pidDir, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdDir < 0) return;  // not ours to look at, or gone
    DIR* fds = ::fdopendir(fdDir);
    if (fds == nullptr) {
      ::close(fdDir);
      return;
    }
    std::set<std::size_t> held;  // positions in `ttys`
    std::set<long> masters;      // pseudo-terminal pairs whose master side it holds
    while (const dirent* entry = ::readdir(fds)) {
      if (entry->d_name[0] == '.') continue;
      struct stat open {};
      if (::fstatat(fdDir, entry->d_name, &open, 0) != 0) continue;
      if (IsPtmx(open)) {
        if (const long index = MasterIndex(pidDir, entry->d_name); index >= 0) {
          masters.insert(index);
        }
        continue;
      }
      for (std::size_t t = 0; t < ttys.size(); ++t) {
        if (SameFile(ttys[t].second, open)) held.insert(t);
      }
    }
    ::closedir(fds);  // closes fdDir too
    std::string name;
    for (const std::size_t t : held) {
      const TTtyIdentity& tty = ttys[t].second;
      if (tty.ptyIndex >= 0 && masters.contains(tty.ptyIndex)) continue;  // the device side
      if (name.empty()) name = ProcessName(pidDir);
      holders[ttys[t].first].push_back({pid, name});
    }
  });
  for (auto& list : holders) {
    std::sort(list.begin(), list.end(),
              [](const TPortHolder& a, const TPortHolder& b) { return a.pid < b.pid; });
  }
  return holders;
}

std::vector<std::vector<TPortHolder>> FindPortHolders(const std::vector<std::string>& ttyPaths) {
  return FindPortHolders(ttyPaths, kSystemProcRoot);
}

std::vector<std::int32_t> ProcessesNamed(std::string_view name, const std::string& procRoot) {
  std::vector<std::int32_t> pids;
  ForEachProcess(procRoot, [&](std::int32_t pid, int pidDir) {
    if (ProcessName(pidDir) == name) pids.push_back(pid);
  });
  std::sort(pids.begin(), pids.end());
  return pids;
}

}  // namespace vornex
