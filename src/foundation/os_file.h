// Files whose every step the station controls, behind one small interface per operating
// system: the logger's existing file (never created, never a device or pipe that could block),
// the identity backup's new file (created only under a free name and flushed to disk), the
// whole-file replace that never takes the place of a device, pipe or folder, and the guarded
// read of a small record file (a regular file only, no link followed, bounded size).
// Paths are UTF-8 texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vornex::os {

// What a file call came to. Callers act on the status; the code is the system's own.
enum class TFileStatus {
  kDone,
  kMissing,     // no file of that name (or it went away while being opened)
  kNameTaken,   // WriteNewFile: something of that name exists already
  kLink,        // ReadRegularFile: the name is a symbolic link (on Windows any reparse point)
  kNotRegular,  // a folder, device, pipe or socket
  kTooLarge,    // ReadRegularFile: more than the limit
  kFailed,      // any other failure
};

struct TFileResult {
  TFileStatus status = TFileStatus::kDone;
  int code = 0;            // the system's error number (errno; GetLastError() on Windows), or 0
  std::uint64_t size = 0;  // kTooLarge: the file's size; 0 when it grew while being read

  bool Done() const { return status == TFileStatus::kDone; }
};

// The cause for the operator: the system's message when there is a code, else a short text
// ("symbolic link", "not a regular file", ...).
std::string FileResultText(const TFileResult& result);

// The system's message for one of its error numbers (errno; GetLastError() on Windows).
std::string SystemErrorText(int code);

// An open file, closed with the object. Move-only.
class TFile {
 public:
  TFile() = default;
  ~TFile() { Close(); }
  TFile(TFile&& other) noexcept : handle_(other.Release()) {}
  TFile& operator=(TFile&& other) noexcept;
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;

  bool IsOpen() const { return handle_ != kNoHandle; }
  void Close();

  // The descriptor (a HANDLE on Windows) for the system-specific files.
  static constexpr std::intptr_t kNoHandle = -1;
  explicit TFile(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t Handle() const { return handle_; }
  std::intptr_t Release() {
    const std::intptr_t handle = handle_;
    handle_ = kNoHandle;
    return handle;
  }

 private:
  std::intptr_t handle_ = kNoHandle;
};

// Opens an existing regular file for writing, links followed: never creates it, and refuses
// (kNotRegular) a folder, device, pipe or terminal without waiting on it.
TFileResult OpenExistingForWriting(const std::string& path, TFile* file);
// Writes all of `bytes` at `offset`, then leaves the file's position at its end.
TFileResult WriteAt(TFile& file, std::uint64_t offset, std::string_view bytes);
// Writes all of `bytes` at the end of the file.
TFileResult Append(TFile& file, std::string_view bytes);

// Creates the file only when nothing of that name exists (kNameTaken otherwise), writes all of
// `bytes`, flushes them to the disk and closes it. A file that could not be written in full
// stays behind with what was written.
TFileResult WriteNewFile(const std::string& path, std::string_view bytes);

// Puts the file `from` in the place of `to` in one step, replacing a file of that name (on
// Windows with MoveFileEx's replace). Both names in the same folder.
TFileResult MoveIntoPlace(const std::string& from, const std::string& to);

// Whether a whole new file may take the place of `path`: kDone when nothing of that name exists
// or it is a regular file (links followed); kNotRegular for a folder, device (on Windows also a
// device name such as NUL or COM1), pipe or socket. Looks at the name only, never opens it, so
// that a pipe without a reader does not hold the caller.
TFileResult CheckReplaceable(const std::string& path);

// Writes the whole file under a free temporary name in its folder ("NAME.tmp-N"), flushed to
// the disk, then puts it in the place of `path`: a reader sees the former file or the new one,
// never a part. A replaced file's permissions stay. Refuses, before anything is written, a
// `path` that CheckReplaceable refuses. After a failure no temporary file is left and `path` is
// as it was.
TFileResult WriteFileAtomically(const std::string& path, std::string_view bytes);

// Reads the whole of a regular file of at most `limit` bytes into `bytes`, without following
// a link in its last part and without waiting on a device or pipe. kMissing when the file is
// gone; on any refusal `bytes` is empty.
TFileResult ReadRegularFile(const std::string& path, std::size_t limit, std::string* bytes);

}  // namespace vornex::os
