// One pseudo-terminal pair for one simulated port. The simulator reads and writes the master
// side; the station opens the slave side like a serial device. The pair also keeps a slave
// descriptor of its own open for as long as it lives, never read: the master then never sees a
// hang-up when the station closes its side (which would make poll() spin on an idle port), and
// the line settings stay raw between two openers. Closing the pair hangs up any slave
// descriptor the station still holds, as an unplugged device does.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace vornex::sim {

class TPty {
 public:
  // A fresh pair with both sides raw and the master non-blocking; null with a reason on failure.
  static std::unique_ptr<TPty> Open(std::string* error);
  // Only Open can make the key, so only Open constructs.
  struct TPasskey {
   private:
    friend class TPty;
    TPasskey() = default;
  };
  explicit TPty(TPasskey) {}
  ~TPty();
  TPty(const TPty&) = delete;
  TPty& operator=(const TPty&) = delete;

  int Master() const { return master_; }
  const std::string& SlavePath() const { return slavePath_; }
  // Bytes written by the simulator that the station has not read yet (0 when unknown).
  std::size_t UnreadBytes() const;
  // Takes an exclusive flock on the kept slave descriptor, so that every opener that locks (the
  // station does) finds the port busy. True when the lock is held.
  bool HoldBusy();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

}  // namespace vornex::sim
