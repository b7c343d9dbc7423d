// Throughput of the streaming image download, against simulated devices on real
// pseudo-terminals, at time scale 1 (the 3 ms pause between write and read in force).
//
// An 8 MiB image is streamed with TUsbDevice::DownloadAllImage to one device, then to eight at
// once, each device driven by its own thread and its own device object, already talking to the
// programmer (connected, switched into download mode and loaded with DownloadHex beforehand, at
// a short time scale). The same run measures the raw round trip of one block: the same stuffed
// bytes written and a short reply read with plain write()/read() on a pseudo-terminal whose
// peer answers at once. The protocol allows one 1024-byte block per (3 ms + one raw round
// trip); the figures are each device's bytes per second against that limit.
//
// CPU: the simulator runs in this process on its own I/O thread. Each worker reads its own
// thread's CPU clock (pthread_getcpuclockid) around its download, so the station's share counts
// its worker thread only (user and system time, the pseudo-terminal writes and reads included)
// and never the simulator's.
//
// Targets: one device >= 90 % of the limit, each of eight >= 85 %, station CPU <= 10 % of the
// wall time per device. Figures, not pass/fail; the exit status is non-zero only when a
// download failed or a device does not hold the image afterwards.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/immediate_peer.h"
#include "discovery/port_enumeration.h"
#include "foundation/pacing.h"
#include "foundation/text.h"
#include "protocols/hex_file.h"
#include "protocols/protocol_limits.h"
#include "protocols/usb_device.h"
#include "sim/sha256.h"
#include "sim/sim_bench.h"
#include "tests/support/image_files.h"

namespace {

using TClock = std::chrono::steady_clock;
using vornex::TByteVector;
using vornex::TPacket;
using vornex::TUsbDevice;

constexpr std::size_t kImageBytes = 8u << 20;
constexpr int kDevices = 8;
constexpr double kPrepareScale = 0.05;
constexpr std::uint32_t kProgrammerAddress = 0x00100000;
constexpr std::size_t kProgrammerBytes = 6000;
constexpr std::uint32_t kOpenMs = 4500;
constexpr double kPauseSeconds = vornex::kDownloadPauseMs / 1000.0;
constexpr int kRawTrials = 5;
constexpr int kRawRounds = 2000;

// A flash image with its version tag in the last 32 bytes.
TByteVector Image(std::uint32_t salt) {
  TByteVector image = vornex::testing::PatternBytes(kImageBytes, salt);
  const std::string tag = "VX730-B" + std::to_string(salt);
  std::fill(image.end() - 32, image.end(), std::uint8_t{0xFF});
  std::copy(tag.begin(), tag.end(), image.end() - 32);
  return image;
}

double ThreadCpuSeconds() {
  clockid_t clock{};
  timespec ts{};
  if (::pthread_getcpuclockid(::pthread_self(), &clock) != 0 || ::clock_gettime(clock, &ts) != 0) {
    return 0.0;
  }
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double ProcessCpuSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// ---- Raw round trip ----

struct RawFigures {
  double seconds = 0;  // one round trip, best mean of the trials
  std::size_t out = 0;
  std::size_t back = 0;
};

// The bare pseudo-terminal round trip of one stuffed stream-write block and its reply.
bool MeasureRawRoundTrip(RawFigures* figures) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return false;
  termios tio{};
  ::tcgetattr(master, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(master, TCSANOW, &tio);
  const std::string slave = ::ptsname(master);

  const TByteVector image = vornex::testing::PatternBytes(vornex::kImageBlockBytes, 99);
  TByteVector payload;
  vornex::AppendU32(payload, 0x00012000, false);
  vornex::AppendBytes(payload, image.data(), image.size());
  TPacket block = TPacket::Build(0x07, &payload, vornex::PROTOCOL_STREAMING);
  block.Escape();
  // The programmer's reply: code 0x08 and the offset, without an opening flag.
  TByteVector offset;
  vornex::AppendU32(offset, 0x00012000, false);
  TPacket reply = TPacket::Build(0x08, &offset, vornex::PROTOCOL_DIAG);
  reply.Escape();
  figures->out = block.Bytes().size();
  figures->back = reply.Bytes().size();

  bool ok = true;
  {
    vornex::bench::ImmediatePeer peer(master, reply.Bytes());
    const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
      ::close(master);
      return false;
    }
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    const TByteVector& frame = block.Bytes();
    std::uint8_t in[256];
    double best = 1e9;
    for (int trial = 0; trial < kRawTrials && ok; ++trial) {
      const auto start = TClock::now();
      for (int r = 0; r < kRawRounds && ok; ++r) {
        ok = ::write(fd, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());
        for (bool done = false; ok && !done;) {
          const ssize_t n = ::read(fd, in, sizeof in);
          ok = n > 0;
          done = ok && in[n - 1] == vornex::kFrameFlag;
        }
      }
      best =
          std::min(best, std::chrono::duration<double>(TClock::now() - start).count() / kRawRounds);
    }
    figures->seconds = best;
    ::close(fd);
  }
  ::close(master);
  return ok;
}

// ---- Streaming ----

// Lets the workers start together.
class StartLine {
 public:
  explicit StartLine(int count) : waiting_(count) {}
  void ArriveAndWait() {
    std::unique_lock lock(mutex_);
    if (--waiting_ == 0) cv_.notify_all();
    cv_.wait(lock, [this] { return waiting_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int waiting_;
};

struct StreamFigures {
  int result = 0;
  double wallSeconds = 0;
  double cpuSeconds = 0;
};

// Connects a device object to device `index`, switches the device into download mode and
// starts the programmer in it. Null when a step failed.
std::unique_ptr<TUsbDevice> IntoProgrammer(const vornex::sim::TSimBench& bench, int index,
                                           const std::string& hexPath) {
  auto device = std::make_unique<TUsbDevice>(index);
  std::array<vornex::TUsbGroup, vornex::kMaxGroups> groups{};
  std::uint8_t count = vornex::kMaxGroups;
  device->SearchAllUSB(groups, count);
  for (std::uint8_t g = 0; g < count; ++g) {
    if (!vornex::EqualsNoCase(groups[g].key.str(), bench.Key(index))) continue;
    std::uint8_t mode = 0;
    vornex::THexImage programmer;
    if (vornex::ParseHexFile(hexPath, programmer) == 1 &&
        device->ConnectUSB(groups[g], kOpenMs) == 0x03 && device->EnterDownloadMode(mode) == 1 &&
        device->DownloadHex(programmer) == 1) {
      return device;
    }
    break;
  }
  std::fprintf(stderr, "device %d: could not start the programmer\n", index);
  return nullptr;
}

// Streams each device's image from its own thread, all starting together.
std::vector<StreamFigures> Stream(const std::vector<TUsbDevice*>& devices,
                                  const std::vector<TByteVector>& images) {
  std::vector<StreamFigures> figures(devices.size());
  StartLine line(static_cast<int>(devices.size()));
  std::vector<std::thread> workers;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    workers.emplace_back([&, i] {
      line.ArriveAndWait();
      const double cpu = ThreadCpuSeconds();
      const auto start = TClock::now();
      figures[i].result = devices[i]->DownloadAllImage(images[i]);
      figures[i].wallSeconds = std::chrono::duration<double>(TClock::now() - start).count();
      figures[i].cpuSeconds = ThreadCpuSeconds() - cpu;
    });
  }
  for (std::thread& worker : workers) worker.join();
  return figures;
}

// Prints one line per device; false when a download failed or a device lacks its image.
bool Print(const char* title, const std::vector<int>& indexes,
           const std::vector<StreamFigures>& figures, const std::vector<TByteVector>& images,
           const vornex::sim::TSimBench& bench, double limit, double target) {
  std::printf("\n%s\n", title);
  bool ok = true;
  for (std::size_t i = 0; i < figures.size(); ++i) {
    const StreamFigures& f = figures[i];
    const double rate = static_cast<double>(images[i].size()) / f.wallSeconds;
    const bool flashed = bench.Report(indexes[i]).flashSha256 ==
                         vornex::sim::Sha256Hex(images[i].data(), images[i].size());
    std::printf(
        "  device %c  %9.0f bytes/s  %5.1f %% of the limit (target >= %.0f %%)  "
        "station CPU %4.1f %% of %.1f s wall (target <= 10 %%)%s\n",
        'A' + indexes[i], rate, 100.0 * rate / limit, target, 100.0 * f.cpuSeconds / f.wallSeconds,
        f.wallSeconds, f.result == 1 && flashed ? "" : "  FAILED");
    ok = ok && f.result == 1 && flashed;
  }
  return ok;
}

}  // namespace

int main() {
  RawFigures raw;
  if (!MeasureRawRoundTrip(&raw)) {
    std::fprintf(stderr, "raw round trip: pseudo-terminal failed\n");
    return 1;
  }
  const double limit =
      static_cast<double>(vornex::kImageBlockBytes) / (kPauseSeconds + raw.seconds);

  std::string folder =
      (std::filesystem::temp_directory_path() / "vornex-stream-bench-XXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr) return 1;
  const std::string hexPath = folder + "/programmer.hex";
  const TByteVector programmer = vornex::testing::PatternBytes(kProgrammerBytes, 7);
  std::ofstream(hexPath, std::ios::binary)
      << vornex::testing::IntelHexText(programmer, kProgrammerAddress);

  int status = 0;
  {
    vornex::pacing::SetTimeScale(kPrepareScale);
    vornex::sim::TBenchConfig config;
    config.folder = folder + "/bench";
    config.devices.resize(kDevices);
    config.programmer = vornex::sim::TProgrammerImage{programmer, kProgrammerAddress};
    std::string error;
    auto bench = vornex::sim::TSimBench::Create(std::move(config), &error);
    if (!bench) {
      std::fprintf(stderr, "bench: %s\n", error.c_str());
      return 1;
    }
    vornex::UseBenchDiscovery(bench->Folder());

    std::vector<std::unique_ptr<TUsbDevice>> devices(kDevices);
    {
      std::vector<std::thread> preparing;
      for (int i = 0; i < kDevices; ++i) {
        preparing.emplace_back(
            [&, i] { devices[static_cast<std::size_t>(i)] = IntoProgrammer(*bench, i, hexPath); });
      }
      for (std::thread& t : preparing) t.join();
    }
    if (std::any_of(devices.begin(), devices.end(), [](const auto& d) { return d == nullptr; })) {
      return 1;
    }
    vornex::pacing::SetTimeScale(1.0);

    std::vector<TByteVector> images;
    for (int i = 0; i < kDevices; ++i) images.push_back(Image(static_cast<std::uint32_t>(i + 1)));

    std::printf(
        "stream_bench: %zu-byte image (%zu blocks of %zu bytes), time scale 1, "
        "%u ms pause per block\n",
        kImageBytes, kImageBytes / vornex::kImageBlockBytes, vornex::kImageBlockBytes,
        vornex::kDownloadPauseMs);
    std::printf(
        "raw pty round trip of one block (%zu bytes out, %zu back): %.1f us "
        "(best mean of %d x %d)\n",
        raw.out, raw.back, raw.seconds * 1e6, kRawTrials, kRawRounds);
    std::printf("protocol limit: %zu bytes per (%u ms + %.1f us) = %.0f bytes/s\n",
                vornex::kImageBlockBytes, vornex::kDownloadPauseMs, raw.seconds * 1e6, limit);
    std::printf(
        "station CPU: the worker thread's own CPU clock (user + system); the in-process "
        "simulator's I/O thread is not counted\n");

    const double processCpu = ProcessCpuSeconds();
    const auto started = TClock::now();
    const std::vector<StreamFigures> one = Stream({devices[0].get()}, {images[0]});
    bool ok = Print("one device:", {0}, one, {images[0]}, *bench, limit, 90);

    std::vector<TUsbDevice*> all;
    std::vector<int> indexes;
    for (int i = 0; i < kDevices; ++i) {
      all.push_back(devices[static_cast<std::size_t>(i)].get());
      indexes.push_back(i);
    }
    // The second run rewrites device A with the image of the first again.
    const std::vector<StreamFigures> eight = Stream(all, images);
    ok = Print("eight devices at once:", indexes, eight, images, *bench, limit, 85) && ok;

    double stationCpu = one[0].cpuSeconds;
    for (const StreamFigures& f : eight) stationCpu += f.cpuSeconds;
    const double wall = std::chrono::duration<double>(TClock::now() - started).count();
    std::printf(
        "\nwhole process over both runs: %.1f s CPU in %.1f s wall, of which the station "
        "workers %.1f s; the rest is mostly the simulator\n",
        ProcessCpuSeconds() - processCpu, wall, stationCpu);
    status = ok ? 0 : 1;

    vornex::pacing::SetTimeScale(kPrepareScale);  // short release pauses
    for (auto& device : devices) device->ClosePorts();
    devices.clear();
  }
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  return status;
}
