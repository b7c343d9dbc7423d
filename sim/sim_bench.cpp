// The bench: folders, COM numbers, port records and links, and the I/O thread.
#include "sim/sim_bench.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "discovery/bench_registry.h"

namespace vornex::sim {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kReadChunkBytes = 4096;
constexpr std::uint32_t kPollRetryPauseMs = 100;
constexpr const char* kDevFolderName = "dev";

// "COM<digits><suffix>", optionally with a leading '.' (a temporary of an earlier bench).
bool IsOurEntry(const std::string& name, std::string_view suffix, std::string_view tmpSuffix) {
  std::string_view rest = name;
  std::string_view end = suffix;
  if (rest.starts_with('.')) {
    rest.remove_prefix(1);
    end = tmpSuffix;
  }
  if (!rest.starts_with("COM") || !rest.ends_with(end)) return false;
  rest.remove_prefix(3);
  rest.remove_suffix(end.size());
  return !rest.empty() &&
         std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void RemoveStale(const fs::path& folder, std::string_view suffix, std::string_view tmpSuffix) {
  std::error_code ec;
  std::vector<fs::path> stale;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (IsOurEntry(it->path().filename().string(), suffix, tmpSuffix)) stale.push_back(it->path());
  }
  for (const fs::path& path : stale) fs::remove(path, ec);
}

bool Contains(const std::vector<int>& values, int value) {
  return std::find(values.begin(), values.end(), value) != values.end();
}

// Why a device's settings are unusable; empty when they are fine.
std::string ConfigProblem(const TDeviceConfig& device) {
  if (device.extraPorts < 0 || device.extraPorts > kMaxExtraPorts) {
    return "a device has 0 to " + std::to_string(kMaxExtraPorts) + " extra ports";
  }
  if (device.flashMiB < 1 || device.flashMiB > kMaxFlashMiB) {
    return "a device has 1 to " + std::to_string(kMaxFlashMiB) + " MiB of flash";
  }
  return {};
}

}  // namespace

std::unique_ptr<TSimBench> TSimBench::Create(TBenchConfig config, std::string* error) {
  auto fail = [error](std::string reason) {
    if (error != nullptr) *error = std::move(reason);
    return nullptr;
  };
  if (config.folder.empty()) return fail("no bench folder given");
  if (config.devices.empty() || static_cast<int>(config.devices.size()) > kMaxDevices) {
    return fail("a bench holds 1 to " + std::to_string(kMaxDevices) + " devices");
  }
  for (const TDeviceConfig& device : config.devices) {
    if (std::string problem = ConfigProblem(device); !problem.empty()) return fail(problem);
  }
  auto bench = std::make_unique<TSimBench>(TPasskey{}, std::move(config));
  if (!bench->Start(error)) return nullptr;
  return bench;
}

TSimBench::TSimBench(TPasskey, TBenchConfig config) : config_(std::move(config)) {
  std::error_code ec;
  const fs::path folder = fs::absolute(config_.folder, ec);
  folder_ = (ec ? fs::path(config_.folder) : folder).lexically_normal().string();
  if (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
  devFolder_ = (fs::path(folder_) / kDevFolderName).string();
  const TProgrammerImage* programmer = config_.programmer ? &*config_.programmer : nullptr;
  for (std::size_t i = 0; i < config_.devices.size(); ++i) {
    devices_.push_back(std::make_unique<TSimDevice>(static_cast<int>(i), 0,
                                                    TNewcomer{config_.devices[i]}, programmer));
  }
  aside_.resize(devices_.size());
  generations_.assign(devices_.size(), 0);
}

bool TSimBench::Start(std::string* error) {
  std::error_code ec;
  fs::create_directories(devFolder_, ec);
  if (ec) {
    if (error != nullptr) *error = "cannot create " + devFolder_ + ": " + ec.message();
    return false;
  }
  RemoveStale(folder_, bench::kPortFileSuffix, std::string(bench::kPortFileSuffix) + ".tmp");
  RemoveStale(devFolder_, "", ".tmp");

  int pipeFds[2];
  if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0) {
    if (error != nullptr) *error = "cannot create the wake-up pipe";
    return false;
  }
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];

  {
    std::lock_guard lock(mutex_);
    for (auto& device : devices_) Attach(*device, TEnumeration{true, false, false});
    if (!problems_.empty()) {
      if (error != nullptr) *error = problems_.front();
      return false;
    }
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

TSimBench::~TSimBench() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  Wake();
  if (thread_.joinable()) thread_.join();
  {
    std::lock_guard lock(mutex_);
    for (auto& device : devices_) {
      if (device->Present()) Detach(*device);
    }
  }
  if (wakeRead_ >= 0) ::close(wakeRead_);
  if (wakeWrite_ >= 0) ::close(wakeWrite_);
  std::error_code ec;
  fs::remove(devFolder_, ec);  // only when empty
}

void TSimBench::Wake() {
  if (wakeWrite_ < 0) return;
  const std::uint8_t byte = 1;
  // A full pipe already holds a wake-up; nothing is lost by dropping this one.
  [[maybe_unused]] const ssize_t n = ::write(wakeWrite_, &byte, 1);
}

void TSimBench::Run() {
  std::vector<pollfd> fds;
  std::vector<std::pair<TSimDevice*, TSimPort*>> owners;
  for (;;) {
    int timeoutMs = -1;
    std::uint64_t swapsPolled = 0;
    {
      std::lock_guard lock(mutex_);
      if (stop_) return;
      swapsPolled = swaps_;
      fds.assign(1, pollfd{wakeRead_, POLLIN, 0});
      owners.assign(1, {nullptr, nullptr});
      std::optional<pacing::TClock::time_point> next;
      for (auto& device : devices_) {
        for (TSimPort& port : device->Ports()) {
          if (!port.pty || port.stalled) continue;
          const short events = port.pendingOutput.empty() ? POLLIN : (POLLIN | POLLOUT);
          fds.push_back(pollfd{port.pty->Master(), events, 0});
          owners.emplace_back(device.get(), &port);
        }
        const auto step = device->NextStepAt();
        if (step && (!next || *step < *next)) next = step;
      }
      if (next) {
        const auto left = *next - pacing::TClock::now();
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        timeoutMs = static_cast<int>(std::clamp<long long>(ms, 0, 0x7FFFFFFF));
      }
    }

    const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
    if (ready < 0 && errno != EINTR) {
      const int pollError = errno;
      {
        std::lock_guard lock(mutex_);
        Problem(std::string("poll failed: ") + std::strerror(pollError));
      }
      pacing::Sleep(kPollRetryPauseMs);  // never spin on a failing poll
      continue;
    }

    std::lock_guard lock(mutex_);
    if (stop_) return;
    std::uint64_t revisionsBefore = 0;
    for (const auto& device : devices_) revisionsBefore += device->Revision();
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
      std::uint8_t drain[64];
      while (::read(wakeRead_, drain, sizeof drain) > 0) {
      }
    }
    // After a swap the owners may be gone; the next poll sees their ports again.
    for (std::size_t i = 1; ready > 0 && swapsPolled == swaps_ && i < fds.size(); ++i) {
      if (fds[i].revents != 0) Service(*owners[i].first, *owners[i].second, fds[i].revents);
    }
    RunTimeline();
    std::uint64_t revisionsAfter = 0;
    for (const auto& device : devices_) revisionsAfter += device->Revision();
    if (revisionsAfter != revisionsBefore) changed_.notify_all();
  }
}

void TSimBench::Service(TSimDevice& device, TSimPort& port, short events) {
  if (!port.pty) return;
  if ((events & POLLIN) != 0) {
    std::uint8_t buffer[kReadChunkBytes];
    const ssize_t n = ::read(port.pty->Master(), buffer, sizeof buffer);
    if (n > 0) {
      device.OnInput(port, buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      port.stalled = true;
    }
  } else if ((events & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
    port.stalled = true;  // cannot happen while our own slave descriptor is open; never spin
  }
  Flush(port);
}

void TSimBench::Flush(TSimPort& port) {
  TByteVector& pending = port.pendingOutput;
  while (!pending.empty() && port.pty) {
    const ssize_t n = ::write(port.pty->Master(), pending.data(), pending.size());
    if (n > 0) {
      pending.erase(pending.begin(), pending.begin() + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // POLLOUT will tell
    pending.clear();
    port.stalled = true;
    return;
  }
}

void TSimBench::RunTimeline() {
  for (auto& device : devices_) {
    if (device->DueDetach()) Detach(*device);
  }
  for (auto& device : devices_) {
    TEnumeration how;
    if (device->DueAttach(&how)) Attach(*device, how);
  }
}

std::string TSimBench::LinkPath(int com) const {
  return (fs::path(devFolder_) / ("COM" + std::to_string(com))).string();
}

int TSimBench::AllocateCom(const std::vector<int>& avoid) const {
  for (int com = kFirstComNumber; com <= kLastComNumber; ++com) {
    if (Contains(avoid, com)) continue;
    const bool taken = std::any_of(devices_.begin(), devices_.end(), [com](const auto& device) {
      const auto& ports = device->Ports();
      return std::any_of(ports.begin(), ports.end(),
                         [com](const TSimPort& port) { return port.com == com; });
    });
    if (!taken) return com;
  }
  return 0;
}

void TSimBench::Attach(TSimDevice& device, const TEnumeration& how) {
  std::vector<TSimPort*> coming;
  for (TSimPort& port : device.Ports()) {
    if (how.allPorts || port.role == TSimPortRole::kDiag) coming.push_back(&port);
  }
  std::vector<int> previous;
  for (TSimPort* port : coming) {
    previous.push_back(port->com);
    if (how.renumber) port->com = 0;
  }
  for (TSimPort* port : coming) {
    if (port->com == 0) port->com = AllocateCom(previous);
    if (port->com == 0) {
      Problem("device " + std::to_string(device.Index()) + ": no free COM number left");
      continue;
    }
    std::string reason;
    std::unique_ptr<TPty> pty = TPty::Open(&reason);
    if (!pty) {
      Problem("device " + std::to_string(device.Index()) + ": " + reason);
      continue;
    }
    const TDeviceFaults& faults = device.Config().faults;
    const bool held = (port->role == TSimPortRole::kDiag && faults.diagBusy) ||
                      (port->role == TSimPortRole::kModem && faults.modemBusy);
    if (held && !pty->HoldBusy()) {
      Problem("device " + std::to_string(device.Index()) + ": cannot hold the port busy");
    }
    const std::string link = LinkPath(port->com);
    const fs::path temporary = fs::path(devFolder_) / (".COM" + std::to_string(port->com) + ".tmp");
    std::error_code ec;
    fs::remove(temporary, ec);
    fs::create_symlink(pty->SlavePath(), temporary, ec);
    if (!ec) fs::rename(temporary, link, ec);
    if (ec) {
      fs::remove(temporary, ec);
      Problem("cannot link " + link + " to " + pty->SlavePath());
      continue;
    }
    if (!bench::WritePort(folder_, device.PortRecord(*port, link))) {
      fs::remove(link, ec);
      Problem("cannot write the record of COM" + std::to_string(port->com));
      continue;
    }
    port->pty = std::move(pty);
    port->stalled = false;
  }
  device.Attached(how);
}

void TSimBench::Detach(TSimDevice& device) {
  for (TSimPort& port : device.Ports()) {
    if (!port.pty) continue;
    // Record first, link second: a station that reads the record always finds its link.
    bench::RemovePort(folder_, port.com);
    std::error_code ec;
    fs::remove(LinkPath(port.com), ec);
    port.pty.reset();  // hangs up the station's side
  }
  device.Detached();
}

void TSimBench::Problem(std::string text) {
  problems_.push_back(std::move(text));
}

TSimDevice& TSimBench::DeviceAt(int index) const {
  return *devices_.at(static_cast<std::size_t>(index));
}

std::string TSimBench::Key(int index) const {
  std::lock_guard lock(mutex_);
  return DeviceAt(index).Key();
}

TDeviceReport TSimBench::Report(int index) const {
  std::lock_guard lock(mutex_);
  return DeviceAt(index).Report();
}

std::vector<TDeviceReport> TSimBench::Reports() const {
  std::lock_guard lock(mutex_);
  std::vector<TDeviceReport> reports;
  for (const auto& device : devices_) reports.push_back(device->Report());
  return reports;
}

std::string TSimBench::StateJson() const {
  return ReportsToJson(Reports());
}

bool TSimBench::WriteState(const std::string& path, std::string* error) const {
  return WriteFileAtomically(path, StateJson(), error);
}

std::optional<TNvData> TSimBench::NvItem(int index, std::uint16_t item) const {
  std::lock_guard lock(mutex_);
  return DeviceAt(index).NvItem(item);
}

bool TSimBench::WaitUntil(int index, const std::function<bool(const TDeviceReport&)>& condition,
                          std::uint32_t limitMs) const {
  const pacing::TDeadline deadline(limitMs);
  std::unique_lock lock(mutex_);
  // Looked up at every turn: a swap may put another device into the socket meanwhile.
  for (;;) {
    if (condition(DeviceAt(index).Report(false))) return true;
    if (changed_.wait_until(lock, deadline.At()) == std::cv_status::timeout) {
      return condition(DeviceAt(index).Report(false));
    }
  }
}

bool TSimBench::WaitUntilAny(const std::function<bool(const TDeviceReport&)>& condition,
                             std::uint32_t limitMs) const {
  const pacing::TDeadline deadline(limitMs);
  std::unique_lock lock(mutex_);
  const auto any = [&] {
    return std::any_of(devices_.begin(), devices_.end(),
                       [&](const auto& device) { return condition(device->Report(false)); });
  };
  while (!any()) {
    if (changed_.wait_until(lock, deadline.At()) == std::cv_status::timeout) return any();
  }
  return true;
}

void TSimBench::Unplug(int index) {
  {
    std::lock_guard lock(mutex_);
    DeviceAt(index).Unplug();
  }
  Wake();
}

void TSimBench::Replug(int index) {
  {
    std::lock_guard lock(mutex_);
    DeviceAt(index).Replug();
  }
  Wake();
}

bool TSimBench::Swap(int index, std::optional<TNewcomer> newcomer, std::string* error) {
  const auto fail = [error](std::string reason) {
    if (error != nullptr) *error = std::move(reason);
    return false;
  };
  if (newcomer) {
    if (std::string problem = ConfigProblem(newcomer->config); !problem.empty()) {
      return fail(problem);
    }
  }
  {
    std::lock_guard lock(mutex_);
    const auto socket = static_cast<std::size_t>(index);
    std::unique_ptr<TSimDevice>& aside = aside_.at(socket);
    if (!newcomer && !aside) return fail("no device of socket " + std::to_string(index) + " aside");
    std::unique_ptr<TSimDevice> coming;
    if (newcomer) {
      const TProgrammerImage* programmer = config_.programmer ? &*config_.programmer : nullptr;
      coming = std::make_unique<TSimDevice>(index, ++generations_[socket], *newcomer, programmer);
    } else {
      coming = std::move(aside);
    }
    TSimDevice& leaving = *devices_[socket];
    if (leaving.Present()) Detach(leaving);
    leaving.TakenOut();
    if (newcomer) {
      // The same USB path gets the same COM numbers, whichever device is plugged into it.
      for (TSimPort& port : coming->Ports()) {
        for (const TSimPort& was : leaving.Ports()) {
          if (was.interfaceNumber == port.interfaceNumber) port.com = was.com;
        }
      }
    }
    aside = std::move(devices_[socket]);
    devices_[socket] = std::move(coming);
    ++swaps_;
    Attach(*devices_[socket], TEnumeration{devices_[socket]->AllPortsAtPowerOn(), false,
                                           /*reboot=*/!newcomer});
  }
  changed_.notify_all();
  Wake();
  return true;
}

void TSimBench::ClearFaults(int index) {
  std::lock_guard lock(mutex_);
  DeviceAt(index).ClearFaults();
}

std::vector<std::string> TSimBench::Problems() const {
  std::lock_guard lock(mutex_);
  return problems_;
}

}  // namespace vornex::sim
