// TFsLogExist, the per-device file logger. Each instance owns one writer thread and one file;
// threads that log hand their text over and never wait for the disk. The logger writes only
// into a file that already exists ("ROrUdi_3.txt" beside the executable, else in the temporary
// folder): placing an empty file of that name switches the log on. Without such a file the
// writer thread still runs, but LogPrintf returns before formatting anything.
//
// File format: UTF-16LE with FF FE at the start of the file (written over its first two bytes),
// lines appended at the end, each "YYYY-MM-DD hh:mm:ss.mmm " + text with CR and LF written as
// the two characters \r and \n + CR LF. Start and end banners frame every run of a writer.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "foundation/os_file.h"
#include "foundation/text.h"
#include "foundation/thread_queue.h"

namespace vornex {

// Writer-thread messages (their historical values are kept).
constexpr std::uint32_t WM_LOG_QUIT = 1026;
constexpr std::uint32_t WM_LOG_LINE = 1028;
constexpr std::uint32_t WM_LOG_PING = 1030;

// One formatted log text holds at most this many UTF-16 units (a 512-unit buffer with its NUL).
constexpr std::size_t kLogTextUnits = 511;
// One written line (time stamp, escaped text, CR LF) holds at most this many units.
constexpr std::size_t kLogLineUnits = 1023;

class TFsLogExist {
 public:
  // Copies the bare file name (at most 259 units), starts the writer thread and waits with
  // LogWaitReady. The object is returned even if the wait failed.
  static std::unique_ptr<TFsLogExist> Create(std::string_view fileName);

  // LogStop, then release.
  virtual ~TFsLogExist();

  // Only Create can make the key, so only Create constructs (std::make_unique needs a public
  // constructor).
  struct TPasskey {
   private:
    friend class TFsLogExist;
    TPasskey() = default;
  };
  TFsLogExist(TPasskey, std::string_view fileName);

  TFsLogExist(const TFsLogExist&) = delete;
  TFsLogExist& operator=(const TFsLogExist&) = delete;

  // True once the writer's queue accepts messages: 10 ms, then up to 125 pings 40 ms apart.
  bool LogWaitReady();

  // Formats and posts one line; non-zero when posted, 0 when nothing was done (no file open,
  // no writer). Formats nothing and allocates nothing when no file is open. Callable from any
  // thread. Texts longer than 511 UTF-16 units are cut there.
  int LogPrintf(const char* format, ...) VORNEX_PRINTF(2, 3);
  // LogPrintf with the arguments already collected.
  int LogPrintfV(const char* format, std::va_list args);

  // Posts WM_LOG_QUIT and waits for the writer to write the end banner and end.
  void LogStop();

  const std::string& FileName() const { return fileName_; }
  // True while the writer holds an open log file.
  bool HasFile() const { return hasFile_.load(std::memory_order_acquire); }

 private:
  struct TMessage {
    std::uint32_t code = 0;
    std::string text;  // WM_LOG_LINE only
  };

  bool Post(TMessage message);
  void Run();
  bool OpenFile(const std::string& path);
  void WriteLine(std::string_view text);

  std::string fileName_;
  std::thread thread_;
  std::atomic<bool> threadRunning_{false};
  os::TFile file_;  // the writer thread's only
  std::atomic<bool> hasFile_{false};
  TThreadQueue<TMessage> queue_;
};

}  // namespace vornex
