// What one device search costs: TUsbDevice::SearchAllUSB over a bench of eight simulated devices
// (sixteen ports) in this process, at the documented timing (time scale 1), as the coordinator
// runs it for every check and every Start. Prints the time per call (mean, median, best) and,
// measured alone, its two parts that touch the file system: reading the bench registry and the
// exclusive test open of every port's tty, with their share of a whole search. Then the same
// search with 3000 malformed records beside the devices' own, and what each of them adds.
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "coordination/coordinator.h"
#include "discovery/bench_registry.h"
#include "discovery/port_enumeration.h"
#include "foundation/pacing.h"
#include "protocols/usb_device.h"
#include "sim/sim_bench.h"

namespace {

using TClock = std::chrono::steady_clock;

constexpr int kDevices = 8;
constexpr int kWarmUpCalls = 10;
constexpr int kCalls = 200;
constexpr double kTargetMs = 20.0;
constexpr int kMalformedRecords = 3000;

struct Figures {
  double meanMs = 0;
  double medianMs = 0;
  double bestMs = 0;
};

// Runs the operation kWarmUpCalls times unmeasured, then kCalls times measured one by one.
Figures Measure(const std::function<void()>& operation) {
  for (int i = 0; i < kWarmUpCalls; ++i) operation();
  std::vector<double> ms;
  ms.reserve(kCalls);
  for (int i = 0; i < kCalls; ++i) {
    const auto start = TClock::now();
    operation();
    ms.push_back(std::chrono::duration<double, std::milli>(TClock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  Figures figures;
  for (double m : ms) figures.meanMs += m;
  figures.meanMs /= kCalls;
  figures.medianMs = ms[ms.size() / 2];
  figures.bestMs = ms.front();
  return figures;
}

// One line of figures; with searchMedianMs > 0 also the share of a whole search (by the
// medians, which a busy machine disturbs less than the means).
void PrintLine(const char* what, const Figures& figures, double searchMedianMs) {
  std::printf("%-32s mean %7.3f ms  median %7.3f ms  best %7.3f ms", what, figures.meanMs,
              figures.medianMs, figures.bestMs);
  if (searchMedianMs > 0) {
    std::printf("  (%4.1f%% of a search)", 100.0 * figures.medianMs / searchMedianMs);
  }
  std::printf("\n");
}

int Run(const std::string& folder) {
  vornex::pacing::SetTimeScale(1.0);
  vornex::sim::TBenchConfig config;
  config.folder = folder;
  config.devices.resize(kDevices);
  std::string error;
  auto bench = vornex::sim::TSimBench::Create(std::move(config), &error);
  if (!bench) {
    std::fprintf(stderr, "cannot start the simulated bench: %s\n", error.c_str());
    return 1;
  }
  vornex::UseBenchDiscovery(folder);
  vornex::TUsbDevice device(vornex::kSearchDeviceNumber);

  std::array<vornex::TUsbGroup, vornex::kMaxGroups> groups{};
  std::uint8_t count = vornex::kMaxGroups;
  device.SearchAllUSB(groups, count);
  const std::vector<vornex::bench::TBenchPort> ports = vornex::bench::ReadPorts(folder);
  if (count != kDevices || ports.size() != 2u * kDevices) {
    std::fprintf(stderr, "expected %d devices with %d ports, found %d groups and %zu ports\n",
                 kDevices, 2 * kDevices, count, ports.size());
    return 1;
  }

  const Figures search = Measure([&] {
    groups = {};
    count = vornex::kMaxGroups;
    device.SearchAllUSB(groups, count);
  });
  vornex::TPortTable table{};
  const Figures enumerate = Measure([&] { vornex::EnumeratePorts(table); });
  const Figures registry = Measure([&] { (void)vornex::bench::ReadPorts(folder); });
  const Figures opens = Measure([&] {
    for (const auto& port : ports) (void)vornex::TestOpenTty(port.ttyPath);
  });

  std::printf("SearchAllUSB, %d simulated devices (%zu ports), %d calls, time scale 1\n", kDevices,
              ports.size(), kCalls);
  PrintLine("SearchAllUSB", search, 0);
  PrintLine("  EnumeratePorts alone", enumerate, search.medianMs);
  PrintLine("  bench::ReadPorts alone", registry, search.medianMs);
  PrintLine("  TestOpenTty, every port, alone", opens, search.medianMs);
  std::printf("target: under %.0f ms per call: %s\n", kTargetMs,
              search.meanMs < kTargetMs ? "met" : "NOT met");

  // A folder that something else litters with records the station refuses: each listing reads
  // them all again, so their cost is paid by every search of a run.
  for (int i = 0; i < kMalformedRecords; ++i) {
    std::ofstream(folder + "/litter" + std::to_string(i) + vornex::bench::kPortFileSuffix)
        << "com=none\nclass=7\n";
  }
  const Figures littered = Measure([&] {
    groups = {};
    count = vornex::kMaxGroups;
    device.SearchAllUSB(groups, count);
  });
  const Figures litteredRegistry = Measure([&] { (void)vornex::bench::ReadPorts(folder); });
  std::printf("with %d malformed records beside them:\n", kMalformedRecords);
  PrintLine("SearchAllUSB", littered, 0);
  PrintLine("  bench::ReadPorts alone", litteredRegistry, littered.medianMs);
  std::printf("  per malformed record: %.2f us a search\n",
              1000.0 * (littered.medianMs - search.medianMs) / kMalformedRecords);
  return 0;
}

}  // namespace

int main() {
  std::string folder =
      (std::filesystem::temp_directory_path() / "vornex-search-bench-XXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr) return 1;
  const int status = Run(folder);
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  return status;
}
