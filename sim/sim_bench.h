// TSimBench, a bench of simulated devices on real pseudo-terminals, in the station's own process
// (tests) or behind the vornex-devsim program (demo, manual runs).
//
// The bench owns a registry folder: one record file per present port, written and removed with
// the station's bench-registry functions, and a dev/ subfolder with one link per present port,
// dev/COM<n> -> the port's pseudo-terminal. A record's tty is that link, so a COM number keeps
// one path (as a COM name does) while the terminal behind it changes with every enumeration.
// COM numbers are handed out from 3 upward; a device keeps its numbers while it is away unless
// it is configured to be renumbered. One bench per folder: a new bench clears the records and
// links that an earlier one left behind.
//
// A socket holds one device at a time. Swap puts another device into it, as an operator does on
// a production line: the new device has its own identity and the socket's key, and the device
// taken out waits aside, as it was left, until a later Swap puts it back.
//
// One I/O thread serves every port: it blocks in poll() on the masters and a wake-up pipe, with
// the time to the next timeline step (reboot, re-enumeration) as its limit, so an idle bench
// costs no processor time. All device state sits behind one mutex; every public operation may
// be called from any thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_config.h"
#include "sim/sim_device.h"
#include "sim/state_report.h"

namespace vornex::sim {

class TSimBench {
 public:
  // Creates the folders, clears port records and links left there by an earlier bench, brings
  // every device onto the bench and starts serving. Null with a reason when the configuration
  // is unusable or the folder or a pseudo-terminal cannot be made.
  static std::unique_ptr<TSimBench> Create(TBenchConfig config, std::string* error);
  // Stops serving, then removes every port record and link of the bench (open station ports
  // see a hang-up).
  ~TSimBench();
  TSimBench(const TSimBench&) = delete;
  TSimBench& operator=(const TSimBench&) = delete;

  const std::string& Folder() const { return folder_; }
  int DeviceCount() const { return static_cast<int>(devices_.size()); }
  // The grouping key of device `index`.
  std::string Key(int index) const;

  // A snapshot of one device, or of all of them.
  TDeviceReport Report(int index) const;
  std::vector<TDeviceReport> Reports() const;
  // All reports as JSON; written atomically to a file by WriteState (false with a reason).
  std::string StateJson() const;
  bool WriteState(const std::string& path, std::string* error) const;
  // One NV item of a device; none when the item is inactive.
  std::optional<TNvData> NvItem(int index, std::uint16_t item) const;

  // Waits until the condition holds for device `index` (looked at after every change of its
  // presence, layer or firmware) or the limit (pacing clock) has passed; true when it holds. The
  // condition sees the report without its NV digest: hashing every device's NV items at every
  // change, with the devices held meanwhile, would slow them more than any station does.
  bool WaitUntil(int index, const std::function<bool(const TDeviceReport&)>& condition,
                 std::uint32_t limitMs) const;
  // The same for whichever device first meets the condition; true when one does.
  bool WaitUntilAny(const std::function<bool(const TDeviceReport&)>& condition,
                    std::uint32_t limitMs) const;

  // Pulls all ports of a device off the bench now; it stays away until Replug.
  void Unplug(int index);
  // Plugs an absent device in again: its ports come back at once, freshly booted.
  void Replug(int index);

  // Takes the device out of socket `index` (its ports vanish now) and keeps it aside in the
  // state it is in. With a newcomer, that device is plugged into the socket in its place,
  // freshly booted, under the socket's key and COM numbers, with identity values and NV items of
  // its own (the next generation of the socket, see MakeFactoryDevice); a device kept aside
  // earlier is dropped. Without one, the device kept aside goes back into the socket, freshly
  // booted with the memory it was taken out with (the boot downloader when its firmware was
  // erased). Its ports are on the bench when Swap returns. False with a reason when there is
  // nothing aside to put back or the newcomer's settings are unusable; the socket is unchanged.
  bool Swap(int index, std::optional<TNewcomer> newcomer, std::string* error = nullptr);
  // Removes every injected fault of the device in socket `index` (see TSimDevice::ClearFaults).
  void ClearFaults(int index);

  // Problems met while serving (a pseudo-terminal, link or record that could not be made), in
  // order; empty on a healthy bench.
  std::vector<std::string> Problems() const;

  // Only Create can make the key, so only Create constructs.
  struct TPasskey {
   private:
    friend class TSimBench;
    TPasskey() = default;
  };
  TSimBench(TPasskey, TBenchConfig config);

 private:
  bool Start(std::string* error);
  void Run();
  void Wake();
  // Serves one port's poll events (under the lock).
  void Service(TSimDevice& device, TSimPort& port, short events);
  void Flush(TSimPort& port);
  void RunTimeline();
  void Attach(TSimDevice& device, const TEnumeration& how);
  void Detach(TSimDevice& device);
  // The lowest free COM number that is not in `avoid`; 0 when none is left.
  int AllocateCom(const std::vector<int>& avoid) const;
  std::string LinkPath(int com) const;
  void Problem(std::string text);
  TSimDevice& DeviceAt(int index) const;

  TBenchConfig config_;
  std::string folder_;
  std::string devFolder_;
  std::vector<std::unique_ptr<TSimDevice>> devices_;  // one per socket
  std::vector<std::unique_ptr<TSimDevice>> aside_;    // per socket: taken out, or null
  std::vector<int> generations_;                      // per socket: the last newcomer's
  // Bumped by every swap: the I/O thread then drops what its poll saw of the devices.
  std::uint64_t swaps_ = 0;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> problems_;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace vornex::sim
