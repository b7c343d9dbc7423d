// Files on Linux: descriptors opened with O_NONBLOCK (a FIFO or terminal never holds the caller)
// and checked with fstat after the open, so that a file swapped in after a check is caught too.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "foundation/os_file.h"

namespace vornex::os {
namespace {

TFileResult Failure(int code) {
  TFileStatus status = TFileStatus::kFailed;
  if (code == ENOENT) status = TFileStatus::kMissing;
  if (code == EEXIST) status = TFileStatus::kNameTaken;
  if (code == EISDIR) status = TFileStatus::kNotRegular;
  return TFileResult{status, code, 0};
}

int Fd(const TFile& file) {
  return static_cast<int>(file.Handle());
}

// Writes all of `bytes` at `offset` when one is given (the position stays), else at the
// descriptor's position.
TFileResult WriteAll(int fd, std::string_view bytes, const std::uint64_t* offset = nullptr) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = offset != nullptr ? ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                                   static_cast<off_t>(*offset + done))
                                        : ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n == 0) {
      return Failure(ENOSPC);
    } else if (errno != EINTR) {
      return Failure(errno);
    }
  }
  return {};
}

}  // namespace

std::string SystemErrorText(int code) {
  return std::error_code(code, std::generic_category()).message();
}

void TFile::Close() {
  if (handle_ != kNoHandle) ::close(static_cast<int>(Release()));
}

TFileResult OpenExistingForWriting(const std::string& path, TFile* file) {
  file->Close();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return Failure(errno);
  TFile opened(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0) return Failure(errno);
  if (!S_ISREG(info.st_mode)) return TFileResult{TFileStatus::kNotRegular, 0, 0};
  *file = std::move(opened);
  return {};
}

TFileResult WriteAt(TFile& file, std::uint64_t offset, std::string_view bytes) {
  const TFileResult written = WriteAll(Fd(file), bytes, &offset);
  if (!written.Done()) return written;
  if (::lseek(Fd(file), 0, SEEK_END) < 0) return Failure(errno);
  return {};
}

TFileResult Append(TFile& file, std::string_view bytes) {
  if (::lseek(Fd(file), 0, SEEK_END) < 0) return Failure(errno);
  return WriteAll(Fd(file), bytes);
}

TFileResult WriteNewFile(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0644);
  if (fd < 0) return Failure(errno);
  TFileResult result = WriteAll(fd, bytes);
  if (result.Done() && ::fsync(fd) != 0) result = Failure(errno);
  if (::close(fd) != 0 && result.Done()) result = Failure(errno);
  return result;
}

TFileResult CheckReplaceable(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return errno == ENOENT ? TFileResult{} : Failure(errno);
  if (!S_ISREG(info.st_mode)) return TFileResult{TFileStatus::kNotRegular, 0, 0};
  return {};
}

TFileResult MoveIntoPlace(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return Failure(errno);
  return {};
}

TFileResult ReadRegularFile(const std::string& path, std::size_t limit, std::string* bytes) {
  bytes->clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    if (errno == ELOOP) return TFileResult{TFileStatus::kLink, 0, 0};
    return Failure(errno);
  }
  const TFile file(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0) return Failure(errno);
  if (!S_ISREG(info.st_mode)) return TFileResult{TFileStatus::kNotRegular, 0, 0};
  if (static_cast<std::uintmax_t>(info.st_size) > limit) {
    return TFileResult{TFileStatus::kTooLarge, 0, static_cast<std::uint64_t>(info.st_size)};
  }
  // One byte more than the limit tells a file that grew since fstat.
  bytes->resize(limit + 1);
  std::size_t size = 0;
  while (size < bytes->size()) {
    const ssize_t got = ::read(fd, bytes->data() + size, bytes->size() - size);
    if (got == 0) break;
    if (got > 0) {
      size += static_cast<std::size_t>(got);
    } else if (errno != EINTR) {
      const int error = errno;
      bytes->clear();
      return Failure(error);
    }
  }
  if (size > limit) {
    bytes->clear();
    return TFileResult{TFileStatus::kTooLarge, 0, 0};
  }
  bytes->resize(size);
  return {};
}

}  // namespace vornex::os
