// The far end of a pseudo-terminal for the benchmarks: it answers every frame (ended by a flag
// that is not its first byte) at once with a fixed reply, so that a measured round trip holds
// no device time at all.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace vornex::bench {

class ImmediatePeer {
 public:
  ImmediatePeer(int master, std::vector<std::uint8_t> reply)
      : master_(master), reply_(std::move(reply)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~ImmediatePeer() {
    stop_ = true;
    thread_.join();
  }
  ImmediatePeer(const ImmediatePeer&) = delete;
  ImmediatePeer& operator=(const ImmediatePeer&) = delete;

 private:
  void Run() {
    std::vector<std::uint8_t> buffer(8192);
    std::size_t inFrame = 0;
    while (!stop_) {
      pollfd pfd{master_, POLLIN, 0};
      if (::poll(&pfd, 1, 50) <= 0 || !(pfd.revents & POLLIN)) continue;
      const ssize_t n = ::read(master_, buffer.data(), buffer.size());
      for (ssize_t i = 0; i < n; ++i) {
        ++inFrame;
        if (buffer[static_cast<std::size_t>(i)] == 0x7E && inFrame > 1) {
          inFrame = 0;
          if (::write(master_, reply_.data(), reply_.size()) < 0) return;
        }
      }
    }
  }

  int master_;
  std::vector<std::uint8_t> reply_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace vornex::bench
