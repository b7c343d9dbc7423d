// Real pseudo-terminals for the serial and protocol tests. PtyPair opens a master/slave pair;
// the station opens the slave path like any tty. ScriptedPeer sits on the master side: it
// collects one request at a time (up to a delimiter byte: CR for AT lines, the 0x7E flag for
// frames) and writes whatever its responder returns. ReadLog lets a responder send a reply in
// pieces that the station reads apart.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vornex::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ToBytes(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
      throw std::runtime_error("cannot open a pseudo-terminal");
    }
    char name[128] = {};
    if (::ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname");
    slavePath_ = name;
    // Raw on the master side too, so bytes pass unchanged in both directions.
    termios tio{};
    if (::tcgetattr(master_, &tio) == 0) {
      ::cfmakeraw(&tio);
      ::tcsetattr(master_, TCSANOW, &tio);
    }
  }
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  int master() const { return master_; }
  const std::string& slavePath() const { return slavePath_; }
  // Closing the master makes the slave side hang up, as an unplugged device would.
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  // Writes bytes to the slave's input.
  void Send(const Bytes& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }

  // Reads what the slave wrote, waiting up to limitMs (real time) for the first byte.
  Bytes Receive(int limitMs = 2000) const {
    Bytes out;
    pollfd pfd{master_, POLLIN, 0};
    if (::poll(&pfd, 1, limitMs) <= 0 || !(pfd.revents & POLLIN)) return out;
    std::uint8_t buffer[4096];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n > 0) out.assign(buffer, buffer + n);
    return out;
  }

 private:
  int master_ = -1;
  std::string slavePath_;
};

// What the station's side has read, one read after the other, for a peer that answers in
// pieces: it sends a piece (SendPiece), which returns once the station has read all of it, and
// only then the rest, which thus comes in a read of its own. PiecesReadApart tells afterwards
// that it did. Fed by the serial port's receive notification (Note) or by hand (Add).
class ReadLog {
 public:
  static void Note(void* user, std::int32_t, const std::uint8_t* bytes, std::int32_t count) {
    static_cast<ReadLog*>(user)->Add(bytes, static_cast<std::size_t>(count));
  }
  void Add(const std::uint8_t* bytes, std::size_t count) {
    {
      std::lock_guard lock(mutex_);
      all_.insert(all_.end(), bytes, bytes + count);
      readEnds_.push_back(all_.size());
    }
    read_.notify_all();
  }

  // Everything read so far.
  Bytes All() const {
    std::lock_guard lock(mutex_);
    return all_;
  }

  // Sends a piece of a reply and waits until the station has read it, up to a limit that only
  // catches hangs; false when it did not.
  bool SendPiece(const PtyPair& pty, const Bytes& piece) {
    std::size_t end = 0;
    {
      std::lock_guard lock(mutex_);
      end = all_.size() + piece.size();
      pieceEnds_.push_back(end);
    }
    pty.Send(piece);
    std::unique_lock lock(mutex_);
    return read_.wait_for(lock, std::chrono::seconds(60), [&] { return all_.size() >= end; });
  }

  // How many of the pieces sent ended a read: all of them when the station read the reply in
  // the pieces it was sent in.
  std::size_t PiecesReadApart() const {
    std::lock_guard lock(mutex_);
    std::size_t apart = 0;
    for (const std::size_t end : pieceEnds_) {
      apart += std::find(readEnds_.begin(), readEnds_.end(), end) != readEnds_.end() ? 1 : 0;
    }
    return apart;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable read_;
  Bytes all_;
  std::vector<std::size_t> readEnds_;   // offsets in all_ at which a read ended
  std::vector<std::size_t> pieceEnds_;  // offsets in all_ at which a piece sent ended
};

// Answers requests on the master side of a PtyPair from its own thread.
class ScriptedPeer {
 public:
  // Returns the reply to one request; an empty reply means silence.
  using Responder = std::function<Bytes(const Bytes& request)>;

  ScriptedPeer(const PtyPair& pty, std::uint8_t delimiter, Responder responder)
      : master_(pty.master()), delimiter_(delimiter), responder_(std::move(responder)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~ScriptedPeer() {
    stop_ = true;
    thread_.join();
  }

  // Every request received so far, in order.
  std::vector<Bytes> Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

  // Waits until `count` requests came in, up to a limit that only catches hangs: a request the
  // station has written may still be on its way to this thread when the station gives up.
  bool WaitForRequests(std::size_t count) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::seconds(60),
                             [&] { return requests_.size() >= count; });
  }

 private:
  void Run() {
    Bytes pending;
    while (!stop_) {
      pollfd pfd{master_, POLLIN, 0};
      if (::poll(&pfd, 1, 20) <= 0) continue;
      if (!(pfd.revents & POLLIN)) {
        // No slave open (POLLHUP): wait for the station to open it.
        ::usleep(2000);
        continue;
      }
      std::uint8_t buffer[4096];
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) continue;
      for (ssize_t i = 0; i < n; ++i) {
        pending.push_back(buffer[i]);
        // A flag that opens a frame is not its end.
        if (buffer[i] == delimiter_ && !(delimiter_ == 0x7E && pending.size() == 1)) {
          Answer(pending);
          pending.clear();
        }
      }
    }
  }

  void Answer(const Bytes& request) {
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
    }
    arrived_.notify_all();
    const Bytes reply = responder_(request);
    std::size_t done = 0;
    while (done < reply.size()) {
      const ssize_t n = ::write(master_, reply.data() + done, reply.size() - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }

  int master_;
  std::uint8_t delimiter_;
  Responder responder_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Bytes> requests_;
  std::thread thread_;
};

}  // namespace vornex::testing
