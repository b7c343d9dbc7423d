// TFsLogExist: the writer thread, the line format and the hand-over of texts from the logging
// threads. Only the writer thread touches the file; whether one is open is published before the
// writer's queue opens, so whoever saw LogWaitReady succeed also sees whether a file is open.
#include "foundation/logger.h"

#include <array>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <system_error>

#include "foundation/local_time.h"
#include "foundation/pacing.h"
#include "foundation/paths.h"
#include "foundation/text.h"

namespace vornex {
namespace {

// The stored file name holds at most this many UTF-16 units (a 260-unit buffer with its NUL).
constexpr std::size_t kFileNameUnits = 259;

// The queue-readiness handshake.
constexpr std::uint32_t kReadyFirstWaitMs = 10;
constexpr int kReadyAttempts = 125;
constexpr std::uint32_t kReadyRetryWaitMs = 40;
// Pause between attempts to hand the quit message to a writer whose queue is not open yet.
constexpr std::uint32_t kQuitRetryWaitMs = 10;

constexpr char kStartBanner[] = "======== FA Logging Started ========";
constexpr char kEndBanner[] = "========= FA Logging Ended =========";
constexpr char kBannerRule[] = "====================================";

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The local time as "YYYY-MM-DD hh:mm:ss.mmm ".
std::u16string TimeStamp() {
  return Utf8ToUtf16(LocalTimeText() + " ");
}

// One file line: stamp + text with CR and LF written as \r and \n + CR LF, at most
// kLogLineUnits units. A text that does not fit is cut before the first character (or escape
// pair, or surrogate pair) that would overflow, so the line always keeps its CR LF.
std::u16string BuildLine(std::string_view text) {
  std::u16string line = TimeStamp();
  const std::size_t textLimit = kLogLineUnits - 2;
  const std::u16string wide = Utf8ToUtf16(text);
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const char16_t unit = wide[i];
    const bool pair = IsHighSurrogate(unit) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1]);
    const bool escaped = unit == u'\r' || unit == u'\n';
    const std::size_t need = (pair || escaped) ? 2 : 1;
    if (line.size() + need > textLimit) break;
    if (escaped) {
      line.push_back(u'\\');
      line.push_back(unit == u'\r' ? u'r' : u'n');
    } else if (pair) {
      line.push_back(unit);
      line.push_back(wide[++i]);
    } else {
      line.push_back(unit);
    }
  }
  line.append(u"\r\n");
  return line;
}

}  // namespace

TFsLogExist::TFsLogExist(TPasskey, std::string_view fileName)
    : fileName_(CutToUnits(fileName, kFileNameUnits)) {}

std::unique_ptr<TFsLogExist> TFsLogExist::Create(std::string_view fileName) {
  auto log = std::make_unique<TFsLogExist>(TPasskey{}, fileName);
  try {
    log->thread_ = std::thread(&TFsLogExist::Run, log.get());
    log->threadRunning_.store(true, std::memory_order_release);
  } catch (const std::system_error&) {
    // No writer thread: the logger stays in place and does nothing.
    return log;
  }
  log->LogWaitReady();
  return log;
}

TFsLogExist::~TFsLogExist() {
  LogStop();
}

bool TFsLogExist::LogWaitReady() {
  if (!threadRunning_.load(std::memory_order_acquire)) return false;
  pacing::Sleep(kReadyFirstWaitMs);
  for (int attempt = 0; attempt < kReadyAttempts; ++attempt) {
    if (Post(TMessage{WM_LOG_PING, {}})) return true;
    pacing::Sleep(kReadyRetryWaitMs);
  }
  return false;
}

int TFsLogExist::LogPrintf(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const int posted = LogPrintfV(format, args);
  va_end(args);
  return posted;
}

int TFsLogExist::LogPrintfV(const char* format, std::va_list args) {
  // Logging is off unless the file exists: nothing is formatted or allocated then.
  if (!HasFile() || !threadRunning_.load(std::memory_order_acquire)) return 0;
  std::string text = FormatBoundedV(kLogTextUnits, format, args);
  // The text ends at its first NUL, as a C string does.
  text.resize(std::char_traits<char>::length(text.c_str()));
  return Post(TMessage{WM_LOG_LINE, std::move(text)}) ? 1 : 0;
}

void TFsLogExist::LogStop() {
  if (!thread_.joinable()) return;
  // The queue refuses posts until the writer has opened it (its file may still be opening when
  // LogWaitReady gave up); the writer only closes it after a quit, so keep offering the quit
  // until the queue takes it rather than waiting for a writer that never hears of it.
  while (!Post(TMessage{WM_LOG_QUIT, {}})) pacing::Sleep(kQuitRetryWaitMs);
  thread_.join();
  threadRunning_.store(false, std::memory_order_release);
}

bool TFsLogExist::Post(TMessage message) {
  return queue_.Post(std::move(message));
}

void TFsLogExist::Run() {
  if (!OpenFile(paths::Join(paths::ExeFolder(), fileName_))) {
    OpenFile(paths::TempFolder() + fileName_);
  }
  WriteLine(kStartBanner);
  WriteLine(kBannerRule);
  queue_.Open();

  for (;;) {
    const TMessage message = queue_.Take();
    if (message.code == WM_LOG_QUIT) break;
    if (message.code == WM_LOG_LINE) WriteLine(message.text);
  }

  WriteLine(kEndBanner);
  WriteLine(kBannerRule);
  WriteLine({});
  WriteLine({});
  hasFile_.store(false, std::memory_order_release);
  file_.Close();
  queue_.Close();
}

bool TFsLogExist::OpenFile(const std::string& path) {
  hasFile_.store(false, std::memory_order_release);
  // Only an existing regular file: no creation, and nothing that could block the writer
  // (a FIFO without reader, a terminal) or that is not a file at all (a folder).
  if (!os::OpenExistingForWriting(path, &file_).Done()) return false;
  static constexpr char kByteOrderMark[2] = {'\xFF', '\xFE'};
  // A failed write only costs the mark.
  static_cast<void>(os::WriteAt(file_, 0, std::string_view(kByteOrderMark, sizeof kByteOrderMark)));
  hasFile_.store(true, std::memory_order_release);
  return true;
}

void TFsLogExist::WriteLine(std::string_view text) {
  if (!file_.IsOpen()) return;
  const std::u16string line = BuildLine(text);
  std::array<char, 2 * (kLogLineUnits + 1)> bytes{};
  std::size_t size = 0;
  for (const char16_t unit : line) {
    bytes[size++] = static_cast<char>(unit & 0xFF);
    bytes[size++] = static_cast<char>(unit >> 8);
  }
  // Write errors are ignored: logging never stops the station.
  static_cast<void>(os::Append(file_, std::string_view(bytes.data(), size)));
}

}  // namespace vornex
