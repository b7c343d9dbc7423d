// Files on Windows: handles checked after the open (GetFileType, the file's attributes), so
// that a device, pipe or console never passes for a file. Opened for sharing, so that the
// operator can read, and delete, a log file while the station writes it.
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <string>

#include "foundation/os_file.h"
#include "foundation/win32/wide_text.h"

namespace vornex::os {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

TFileResult Failure(DWORD code) {
  TFileStatus status = TFileStatus::kFailed;
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) status = TFileStatus::kMissing;
  if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) status = TFileStatus::kNameTaken;
  return TFileResult{status, static_cast<int>(code), 0};
}

TFileResult LastFailure() {
  return Failure(::GetLastError());
}

HANDLE Handle(const TFile& file) {
  return reinterpret_cast<HANDLE>(file.Handle());
}

TFile Adopt(HANDLE handle) {
  return TFile(reinterpret_cast<std::intptr_t>(handle));
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A name that Windows gives to a device in every folder (CON, PRN, AUX, NUL, COM1..COM9,
// LPT1..LPT9, with or without an extension: "NUL.txt" is NUL too), or a name in the device
// namespace (\\.\COM12, \\.\pipe\NAME).
bool IsDeviceName(const std::wstring& path) {
  if (path.rfind(L"\\\\.\\", 0) == 0) return true;
  const std::size_t start = path.find_last_of(L"\\/:") + 1;  // npos + 1 == 0
  std::wstring name = path.substr(start, path.find(L'.', start) - start);
  while (!name.empty() && name.back() == L' ') name.pop_back();
  for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(c));
  if (name == L"CON" || name == L"PRN" || name == L"AUX" || name == L"NUL") return true;
  return name.size() == 4 && (name.rfind(L"COM", 0) == 0 || name.rfind(L"LPT", 0) == 0) &&
         name[3] >= L'1' && name[3] <= L'9';
}

// Writes all of `bytes`: at the handle's position, or at *offset when given.
TFileResult WriteAll(HANDLE handle, std::string_view bytes, const std::uint64_t* offset) {
  for (std::size_t done = 0; done < bytes.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1U << 30));
    OVERLAPPED at{};
    if (offset != nullptr) {
      const std::uint64_t position = *offset + done;
      at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFU);
      at.OffsetHigh = static_cast<DWORD>(position >> 32);
    }
    DWORD written = 0;
    if (!::WriteFile(handle, bytes.data() + done, chunk, &written,
                     offset != nullptr ? &at : nullptr)) {
      return LastFailure();
    }
    if (written == 0) return Failure(ERROR_DISK_FULL);
    done += written;
  }
  return {};
}

TFileResult SeekToEnd(HANDLE handle) {
  LARGE_INTEGER zero{};
  if (!::SetFilePointerEx(handle, zero, nullptr, FILE_END)) return LastFailure();
  return {};
}

}  // namespace

std::string SystemErrorText(int code) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message;
  if (n != 0 && text != nullptr) message = win32::Narrow(std::wstring_view(text, n));
  if (text != nullptr) ::LocalFree(text);
  // The system's messages end with a full stop and a line break; station texts go on after them.
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  if (message.empty()) message = "system error " + std::to_string(static_cast<DWORD>(code));
  return message;
}

void TFile::Close() {
  if (handle_ != kNoHandle) ::CloseHandle(reinterpret_cast<HANDLE>(Release()));
}

TFileResult OpenExistingForWriting(const std::string& path, TFile* file) {
  file->Close();
  const std::wstring wide = win32::Wide(path);
  const HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    // A folder refuses to be opened for writing with "access denied".
    if (error == ERROR_ACCESS_DENIED && IsFolder(wide)) {
      return TFileResult{TFileStatus::kNotRegular, 0, 0};
    }
    return Failure(error);
  }
  TFile opened = Adopt(handle);
  // Devices (CON, NUL, COM1), pipes and consoles are no files.
  if (::GetFileType(handle) != FILE_TYPE_DISK) return TFileResult{TFileStatus::kNotRegular, 0, 0};
  *file = std::move(opened);
  return {};
}

TFileResult WriteAt(TFile& file, std::uint64_t offset, std::string_view bytes) {
  // A positioned write moves the handle's position too: back to the end after it.
  const TFileResult written = WriteAll(Handle(file), bytes, &offset);
  if (!written.Done()) return written;
  return SeekToEnd(Handle(file));
}

TFileResult Append(TFile& file, std::string_view bytes) {
  const TFileResult end = SeekToEnd(Handle(file));
  if (!end.Done()) return end;
  return WriteAll(Handle(file), bytes, nullptr);
}

TFileResult WriteNewFile(const std::string& path, std::string_view bytes) {
  const std::wstring wide = win32::Wide(path);
  const HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    // A folder of that name answers "access denied": the name is taken all the same.
    if (error == ERROR_ACCESS_DENIED && IsFolder(wide)) return Failure(ERROR_ALREADY_EXISTS);
    return Failure(error);
  }
  TFileResult result = WriteAll(handle, bytes, nullptr);
  if (result.Done() && !::FlushFileBuffers(handle)) result = LastFailure();
  if (!::CloseHandle(handle) && result.Done()) result = LastFailure();
  return result;
}

TFileResult CheckReplaceable(const std::string& path) {
  const std::wstring wide = win32::Wide(path);
  if (IsDeviceName(wide)) return TFileResult{TFileStatus::kNotRegular, 0, 0};
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const TFileResult failure = LastFailure();
    return failure.status == TFileStatus::kMissing ? TFileResult{} : failure;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return TFileResult{TFileStatus::kNotRegular, 0, 0};
  }
  return {};
}

TFileResult MoveIntoPlace(const std::string& from, const std::string& to) {
  if (!::MoveFileExW(win32::Wide(from).c_str(), win32::Wide(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return LastFailure();
  }
  return {};
}

TFileResult ReadRegularFile(const std::string& path, std::size_t limit, std::string* bytes) {
  bytes->clear();
  // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself instead of its target; backup semantics
  // let a folder open too, so that it is told apart from a failure.
  const HANDLE handle =
      ::CreateFileW(win32::Wide(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastFailure();
  const TFile file = Adopt(handle);
  // Devices (NUL, COM1) and pipes first: they have no file information to read.
  if (::GetFileType(handle) != FILE_TYPE_DISK) return TFileResult{TFileStatus::kNotRegular, 0, 0};
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle, &info)) return LastFailure();
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return TFileResult{TFileStatus::kLink, 0, 0};
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return TFileResult{TFileStatus::kNotRegular, 0, 0};
  }
  const std::uint64_t size =
      (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (size > limit) return TFileResult{TFileStatus::kTooLarge, 0, size};
  // One byte more than the limit tells a file that grew since its size was read.
  bytes->resize(limit + 1);
  std::size_t got = 0;
  while (got < bytes->size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes->size() - got, 1U << 30));
    DWORD n = 0;
    if (!::ReadFile(handle, bytes->data() + got, chunk, &n, nullptr)) {
      const TFileResult failure = LastFailure();
      bytes->clear();
      return failure;
    }
    if (n == 0) break;
    got += n;
  }
  if (got > limit) {
    bytes->clear();
    return TFileResult{TFileStatus::kTooLarge, 0, 0};
  }
  bytes->resize(got);
  return {};
}

}  // namespace vornex::os
