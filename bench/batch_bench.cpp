// How close a full batch comes to its floor: eight simulated devices flashed at once by the real
// station (coordinator, eight workers, console logic) with an 8 MiB image at time scale 1.
//
// The floor is what no implementation of the documented sequence can beat: the fixed pauses of
// one job on the critical path (listed from the station's own constants), the staggered starts
// of the eight jobs, and the transfer limit of the image stream (one 1024-byte block per 3 ms
// pause plus a raw round trip, measured against the simulator with plain write()/read()).
//
// The devices run in a vornex-devsim child process, so that the station's processor time
// (getrusage of this process over the batch) and peak memory (VmHWM of this process) are its
// own; the simulator's time is shown apart. The raw round trip is measured before the batch on
// one in-process simulated device, which is gone before the batch starts.
//
// With --line the station sends its records to a line of stations (the [Line] connection of its
// settings) while it flashes, as a station of a line does.
//
//   batch_bench [--devsim PATH] [--devices N] [--image-mib N] [--time-scale S] [--line CONNINFO]
//               [--keep]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "console/confirmation_queue.h"
#include "console/console_view.h"
#include "console/station_core.h"
#include "discovery/bench_registry.h"
#include "discovery/port_enumeration.h"
#include "download/download_limits.h"
#include "download/nv_items.h"
#include "foundation/pacing.h"
#include "foundation/text.h"
#include "protocols/hex_file.h"
#include "protocols/protocol_limits.h"
#include "protocols/usb_device.h"
#include "serial/com_resolver.h"
#include "sim/nv_catalog.h"
#include "sim/sha256.h"
#include "sim/sim_bench.h"
#include "store/station_store.h"
#include "tests/support/image_files.h"

extern char** environ;

namespace vornex {
namespace {

using WallClock = std::chrono::steady_clock;

constexpr std::uint32_t kProgrammerAddress = 0x00200000;
constexpr std::size_t kProgrammerBytes = std::size_t{24} * 1024;
constexpr const char* kImageTag = "VX730-R1.2.0";
constexpr std::uint8_t kCmdStreamWrite = 0x07;
constexpr int kRoundTripRounds = 500;
constexpr int kRoundTripTrials = 3;
// Guards against a hang (real time): the simulator's start, a check, the batch.
constexpr std::chrono::seconds kStartLimit{30};
constexpr std::chrono::seconds kBatchLimit{900};

struct Options {
  std::string devsim;  // empty: ../sim/vornex-devsim beside this program's folder
  int devices = 8;
  std::size_t imageMiB = 8;
  double timeScale = 1.0;
  std::string line;   // the line's connection string; empty: no line
  bool keep = false;  // keep the work folder
};

struct Files {
  std::string work;
  std::string images;
  std::string programmer;
  std::vector<std::uint8_t> image;
  std::string imageSha256;
};

// --- Files of the run ---

bool WriteWhole(const std::string& path, const void* bytes, std::size_t length) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(length));
  return static_cast<bool>(out);
}

std::optional<Files> WriteFiles(const Options& options) {
  std::string pattern = (std::filesystem::temp_directory_path() / "vornex-batch-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return std::nullopt;
  Files files;
  files.work = pattern;
  files.images = files.work + "/images";
  std::filesystem::create_directories(files.images);

  std::mt19937 random(730);
  std::vector<std::uint8_t> programmer(kProgrammerBytes);
  for (auto& byte : programmer) byte = static_cast<std::uint8_t>(random());
  const std::string hex = vornex::testing::IntelHexText(programmer, kProgrammerAddress);
  files.programmer = files.images + "/prog_9004.hex";

  files.image.resize(options.imageMiB * 1024 * 1024);
  for (auto& byte : files.image) byte = static_cast<std::uint8_t>(random());
  std::fill(files.image.end() - 32, files.image.end(), std::uint8_t{0xFF});
  std::copy_n(kImageTag, std::char_traits<char>::length(kImageTag), files.image.end() - 32);
  files.imageSha256 = sim::Sha256Hex(files.image.data(), files.image.size());

  const std::string items = "[UpdateItem]\r\nItemAT=ON\r\nItemNV=ON\r\n";
  if (!WriteWhole(files.programmer, hex.data(), hex.size()) ||
      !WriteWhole(files.images + "/nor.mbn", files.image.data(), files.image.size()) ||
      !WriteWhole(files.images + "/Vornex_730.ini", items.data(), items.size())) {
    return std::nullopt;
  }
  return files;
}

// --- Raw round trip of one stream-write block against the simulator ---

// Takes one simulated device to its running programmer through the station's own operations;
// the tty of its diagnostic port, empty on failure.
std::string ProgrammerTty(const std::string& programmerPath) {
  TUsbDevice device(251);
  std::array<TUsbGroup, kMaxGroups> groups{};
  std::uint8_t count = kMaxGroups;
  device.SearchAllUSB(groups, count);
  if (count < 1 || (device.ConnectUSB(groups[0], kConnectOpenMs) & 0x02) == 0) return {};
  std::uint8_t mode = 0;
  THexImage programmer;
  if (ParseHexFile(programmerPath, programmer) != 1 || device.EnterDownloadMode(mode) == 0 ||
      device.DownloadHex(programmer) == 0) {
    return {};
  }
  const std::optional<std::string> tty = com_resolver::Resolve(device.DiagPort()->ComNumber());
  device.ClosePorts();
  return tty.value_or(std::string());
}

// Best average, in microseconds, of stream-write blocks written and answered with plain
// write()/read() on the tty; 0 on failure.
double RawRoundTripUs(const std::string& tty) {
  const int fd = ::open(tty.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return 0;
  termios tio{};
  ::tcgetattr(fd, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(fd, TCSANOW, &tio);
  double best = 0;
  std::uint32_t offset = 0;
  for (int trial = 0; trial < kRoundTripTrials; ++trial) {
    std::vector<TByteVector> frames;
    for (int r = 0; r < kRoundTripRounds; ++r, offset += kImageBlockBytes) {
      TByteVector payload;
      AppendU32(payload, offset, false);
      for (std::size_t i = 0; i < kImageBlockBytes; ++i) {
        payload.push_back(static_cast<std::uint8_t>(i * 7 + r));
      }
      TPacket packet = TPacket::Build(kCmdStreamWrite, &payload, PROTOCOL_STREAMING);
      packet.Escape();
      frames.push_back(packet.Bytes());
    }
    const auto start = WallClock::now();
    for (const TByteVector& frame : frames) {
      if (::write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) {
        ::close(fd);
        return 0;
      }
      std::uint8_t reply[256];
      std::size_t got = 0;
      while (got < 2 || reply[got - 1] != kFrameFlag) {
        const ssize_t n = ::read(fd, reply + got, sizeof reply - got);
        if (n <= 0) {
          ::close(fd);
          return 0;
        }
        got = std::min(got + static_cast<std::size_t>(n), sizeof reply - 1);
      }
    }
    const double us = std::chrono::duration<double, std::micro>(WallClock::now() - start).count() /
                      kRoundTripRounds;
    best = trial == 0 ? us : std::min(best, us);
  }
  ::close(fd);
  return best;
}

double MeasureRoundTrip(const Files& files) {
  sim::TBenchConfig config;
  config.folder = files.work + "/calibration";
  config.devices.resize(1);
  std::string error;
  std::unique_ptr<sim::TSimBench> bench = sim::TSimBench::Create(std::move(config), &error);
  if (!bench) {
    std::fprintf(stderr, "calibration bench: %s\n", error.c_str());
    return 0;
  }
  UseBenchDiscovery(bench->Folder());
  const std::string tty = ProgrammerTty(files.programmer);
  return tty.empty() ? 0 : RawRoundTripUs(tty);
}

// --- The simulator child process ---

std::string DefaultDevsim() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "vornex-devsim";
  return (self.parent_path().parent_path() / "sim" / "vornex-devsim").string();
}

pid_t StartDevsim(const Options& options, const Files& files, const std::string& benchFolder) {
  const std::string program = options.devsim.empty() ? DefaultDevsim() : options.devsim;
  std::vector<std::string> args = {program,
                                   "--devices",
                                   std::to_string(options.devices),
                                   "--bench",
                                   benchFolder,
                                   "--time-scale",
                                   FormatBounded(32, "%g", options.timeScale),
                                   "--programmer",
                                   files.programmer,
                                   "--state",
                                   files.work + "/state.json"};
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string log = files.work + "/devsim.log";
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) {
    std::fprintf(stderr, "cannot start %s\n", program.c_str());
    return -1;
  }
  return pid;
}

bool WaitForPorts(const std::string& folder, std::size_t ports) {
  const auto giveUp = WallClock::now() + kStartLimit;
  while (WallClock::now() < giveUp) {
    if (bench::ReadPorts(folder).size() >= ports) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// --- The station ---

class NullView : public TConsoleView {
 public:
  void SetPortText(int, const std::string&) override {}
  void SetStatusText(int, SlotState, const std::string&, TRgb) override {}
  void SetResultText(int, const std::string&, TRgb) override {}
  void SetProgress(int, int) override {}
  void SetSlotEnabled(int, bool) override {}
  void SetStartEnabled(bool) override {}
  void AppendLogText(const std::string&) override {}
  void ClearLogText() override {}
  void ShowNotice(const std::string&, const std::string&) override {}
};

struct SlotResult {
  bool started = false;
  bool ended = false;
  std::int32_t verdict = 0;
  double endSeconds = 0;  // since Start
  double verifyStart = 0;
  double verifySeconds = 0;  // reading the identity back after the restore
};

struct BatchResult {
  bool complete = false;
  double wallSeconds = 0;
  double cpuSeconds = 0;
  std::array<SlotResult, kSlotCount> slots{};
  std::string lineText;  // the line's state at the batch's end; empty without a line
};

double ProcessCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

BatchResult RunBatch(const Files& files, int devices, const std::string& line) {
  BatchResult result;
  TStationSettings settings;
  settings.autoPath = false;
  settings.imagePath = files.images;
  settings.lineConnection = line;
  settings.lineName = "batch bench";
  NullView view;
  TConfirmationQueue target;
  TStationSetup setup;
  setup.run.settings = settings;
  setup.dataFolder = files.work + "/records";
  TStationCore core(std::move(setup), view, target, [](const std::string& /*line*/) {});
  if (core.Store() == nullptr) {
    std::fprintf(stderr, "%s\n", core.StartNotice().c_str());
    return result;
  }
  TConsolePresenter& console = core.Presenter();

  // Checks until every device is listed.
  const auto giveUp = WallClock::now() + kStartLimit;
  bool listed = false;
  bool asked = false;
  while (!listed && WallClock::now() < giveUp) {
    if (!asked) asked = console.SendCheckRequest();
    auto next = target.TakeUntil(pacing::TClock::now() + std::chrono::milliseconds(50));
    if (!next) continue;
    const std::uint32_t code = next->code;
    if (code == CNF_CHECK_DEVICE) {
      const auto* table = std::get_if<std::unique_ptr<TDeviceTable>>(&next->record);
      listed = table && *table && (*table)->count >= devices;
      asked = false;
    }
    core.Confirm(code, std::move(next->record));
  }
  if (!listed || !console.StartEnabled()) {
    std::fprintf(stderr, "the station did not list %d devices\n", devices);
    return result;
  }

  const double cpuBefore = ProcessCpuSeconds();
  const auto start = WallClock::now();
  console.Start();
  bool answered = false;
  while (WallClock::now() - start < kBatchLimit) {
    auto next = target.TakeUntil(pacing::TClock::now() + std::chrono::milliseconds(50));
    if (!next) continue;
    if (next->code == CNF_DOWNLOAD_DEVICE) {
      if (const auto* answer = std::get_if<std::unique_ptr<TDownloadCnf>>(&next->record);
          answer && *answer) {
        for (int slot = 0; slot < kSlotCount; ++slot) {
          result.slots[static_cast<std::size_t>(slot)].started =
              (*answer)->started[static_cast<std::size_t>(slot)] != 0;
        }
      }
      answered = true;
    } else if (next->code == CNF_SINGLE) {
      // The read-back of the identity, timed from its first to its last report line.
      if (const auto* cnf = std::get_if<std::unique_ptr<TSingleCnf>>(&next->record);
          cnf && *cnf && (*cnf)->slot >= 0 && (*cnf)->slot < kSlotCount) {
        SlotResult& slot = result.slots[static_cast<std::size_t>((*cnf)->slot)];
        const double now = std::chrono::duration<double>(WallClock::now() - start).count();
        if ((*cnf)->text.str().starts_with("Verify identity begin")) slot.verifyStart = now;
        if ((*cnf)->text.str().starts_with("Verify identity end")) {
          slot.verifySeconds = now - slot.verifyStart;
        }
      }
    } else if (next->code == CNF_JOB_SUMMARY) {
      if (const auto* job = std::get_if<std::unique_ptr<TJobSummary>>(&next->record);
          job && *job && (*job)->slot >= 0 && (*job)->slot < kSlotCount) {
        SlotResult& slot = result.slots[static_cast<std::size_t>((*job)->slot)];
        slot.verdict = (*job)->pass ? CNF_PASS : CNF_FAIL;
        slot.ended = true;
        slot.endSeconds = std::chrono::duration<double>(WallClock::now() - start).count();
      }
    }
    core.Confirm(next->code, std::move(next->record));
    if (answered && std::all_of(result.slots.begin(), result.slots.end(),
                                [](const SlotResult& s) { return !s.started || s.ended; })) {
      result.complete = true;
      break;
    }
  }
  result.wallSeconds = std::chrono::duration<double>(WallClock::now() - start).count();
  result.cpuSeconds = ProcessCpuSeconds() - cpuBefore;
  result.lineText = core.LineText();
  return result;
}

// --- Figures ---

struct Pause {
  const char* what;
  double ms;
};

// The fixed pauses of one successful job, in sequence order, from the station's constants.
// Exchanges count with their pause between write and read; AT commands are two lines each
// ("ATE1" and the command).
std::vector<Pause> JobPauses(std::size_t programmerBlocks, std::size_t nvReads,
                             std::size_t nvWrites, std::size_t nvReadBacks) {
  const double at = 2.0 * kAtPauseMs;
  const double diag = kDiagPauseMs;
  const double block = kDownloadPauseMs;
  return {
      {"before connecting", kBeforeConnectMs},
      {"connect: AT+MDPARA=DIAG,ON, firmware hello", at + diag},
      {"before AT+MDVER, and the command", kBeforeVersionMs + at},
      {"AT backup: 3 x (500 + command) + 500", 3.0 * (kAtItemPauseMs + at) + kAtItemPauseMs},
      {"NV backup: reads x 1 ms", static_cast<double>(nvReads) * diag},
      {"download mode: hello, 0x3A, 1000 + 1000, streaming hello",
       3 * diag + 2.0 * kDownloadModeSwitchMs},
      {"wake-up: one exchange + 500", block + kWakeUpPauseMs},
      {"programmer blocks x 3 ms", static_cast<double>(programmerBlocks) * block},
      {"go command + 1000", block + kProgrammerStartMs},
      {"streaming hello + 500, close", diag + kHexHelloSettleMs + block},
      {"image close", block},
      {"after the image", kAfterImageUpdateMs},
      {"before the reset", kBeforeResetMs},
      {"reset command + 1000 + 13000 reboot wait", diag + kAfterResetCommandMs + kRebootWaitMs},
      {"reconnect: AT+MDPARA=DIAG,ON, firmware hello", at + diag},
      {"evidence: AT+NEWSN, AT+NEWMEID, NV reads x 1 ms",
       2.0 * at + static_cast<double>(nvReadBacks) * diag},
      {"before the restore", kBeforeRestoreMs},
      {"NV restore: 1000 + writes x 1 ms", kRestorePauseMs + static_cast<double>(nvWrites) * diag},
      {"AT restore: 1000 + 3 x (500 + command)", kRestorePauseMs + 3.0 * (kAtItemPauseMs + at)},
      {"read-back: 3 x (500 + AT read), NV reads x 1 ms",
       3.0 * (kAtItemPauseMs + at) + static_cast<double>(nvReadBacks) * diag},
      {"version after the restore: AT+MDVER", at},
      {"diagnostics off: reconnect, 500, AT command", 2 * at + diag + kBeforeDiagOffMs},
  };
}

long PeakMemoryKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmHWM:")) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

std::size_t CountOf(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

int RunBench(const Options& options) {
  pacing::SetTimeScale(options.timeScale);
  const std::optional<Files> files = WriteFiles(options);
  if (!files) {
    std::fprintf(stderr, "cannot write the image folder\n");
    return 1;
  }
  const double roundTripUs = MeasureRoundTrip(*files);
  if (roundTripUs <= 0) {
    std::fprintf(stderr, "the round trip could not be measured\n");
    return 1;
  }
  com_resolver::Clear();

  const std::string benchFolder = files->work + "/bench";
  const pid_t devsim = StartDevsim(options, *files, benchFolder);
  if (devsim < 0) return 1;
  BatchResult batch;
  if (WaitForPorts(benchFolder, static_cast<std::size_t>(options.devices) * 2)) {
    UseBenchDiscovery(benchFolder);
    batch = RunBatch(*files, options.devices, options.line);
  } else {
    std::fprintf(stderr, "the simulator did not announce its ports\n");
  }
  const long peakKiB = PeakMemoryKiB();
  ::kill(devsim, SIGTERM);
  int status = 0;
  ::waitpid(devsim, &status, 0);
  rusage child{};
  ::getrusage(RUSAGE_CHILDREN, &child);
  const double simCpu = static_cast<double>(child.ru_utime.tv_sec + child.ru_stime.tv_sec) +
                        static_cast<double>(child.ru_utime.tv_usec + child.ru_stime.tv_usec) / 1e6;
  std::ifstream stateFile(files->work + "/state.json");
  const std::string state((std::istreambuf_iterator<char>(stateFile)),
                          std::istreambuf_iterator<char>());

  // The floor.
  std::size_t nvReads = 0;
  std::size_t nvWrites = 0;
  std::set<std::int32_t> readBack;  // items listed twice are read back once
  const std::vector<std::uint16_t>& inactive = sim::InactiveNvItems();
  for (const TNvListEntry& entry : SortedNvItems()) {
    ++nvReads;
    if (std::find(inactive.begin(), inactive.end(), entry.item) == inactive.end()) {
      ++nvWrites;
      readBack.insert(entry.item);
    }
  }
  const std::size_t programmerBlocks = (kProgrammerBytes + kHexBlockBytes - 1) / kHexBlockBytes;
  const std::size_t imageBlocks = (files->image.size() + kImageBlockBytes - 1) / kImageBlockBytes;
  const double scale = options.timeScale;
  std::printf("batch of %d simulated devices, %zu MiB image, time scale %g\n\n", options.devices,
              options.imageMiB, scale);
  std::printf("floor: fixed pauses of one job on the critical path (ms, unscaled)\n");
  double pausesMs = 0;
  for (const Pause& pause : JobPauses(programmerBlocks, nvReads, nvWrites, readBack.size())) {
    std::printf("  %-58s %9.0f\n", pause.what, pause.ms);
    pausesMs += pause.ms;
  }
  const double staggerMs = static_cast<double>(options.devices - 1) * kJobStaggerMs;
  const double streamMs =
      static_cast<double>(imageBlocks) * (kDownloadPauseMs * scale + roundTripUs / 1000.0);
  const double floorMs = (pausesMs + staggerMs) * scale + streamMs;
  std::printf("  %-58s %9.0f\n", "sum of the job's pauses", pausesMs);
  std::printf("  %-58s %9.0f\n", "staggered starts: the last job starts (devices - 1) x 2000",
              staggerMs);
  const std::string streamLine = FormatBounded(
      80, "stream: %zu blocks x (3 ms + raw round trip %.1f us)", imageBlocks, roundTripUs);
  std::printf("  %-58s %9.0f\n", streamLine.c_str(), streamMs);
  std::printf("  %-58s %9.0f\n\n", "floor (pauses and starts scaled, stream as measured)", floorMs);

  int passed = 0;
  for (const SlotResult& slot : batch.slots) passed += slot.started && slot.verdict == CNF_PASS;
  std::printf("jobs: %d started, %d PASS; job ends after Start (s):", options.devices, passed);
  for (const SlotResult& slot : batch.slots) {
    if (slot.started) std::printf(" %.1f", slot.endSeconds);
  }
  std::printf("\nidentity read-back per device (s):");
  for (const SlotResult& slot : batch.slots) {
    if (slot.started) std::printf(" %.2f", slot.verifySeconds);
  }
  std::printf("\nsimulator: %zu of %d devices hold the image, %zu with their test flag back\n\n",
              CountOf(state, "\"sha256\": \"" + files->imageSha256 + "\""), options.devices,
              CountOf(state, "\"test_flag\": \"1\""));

  const double wallMs = batch.wallSeconds * 1000.0;
  const double imageMiB = static_cast<double>(files->image.size()) / (1024.0 * 1024.0);
  std::printf("wall time of the batch   %10.1f s%s\n", batch.wallSeconds,
              batch.complete ? "" : "  (INCOMPLETE)");
  std::printf("floor                    %10.1f s\n", floorMs / 1000.0);
  std::printf("ratio                    %10.3f    (target <= 1.10: %s)\n", wallMs / floorMs,
              wallMs <= 1.10 * floorMs ? "within" : "over");
  std::printf("station CPU (process)    %10.2f s   %.1f%% of one core over the batch\n",
              batch.cpuSeconds, 100.0 * batch.cpuSeconds / std::max(batch.wallSeconds, 1e-9));
  std::printf("simulator CPU (child)    %10.2f s   whole life of vornex-devsim\n", simCpu);
  std::printf("line records             %s\n",
              options.line.empty() ? "none" : batch.lineText.c_str());
  std::printf("peak memory (VmHWM)      %10.1f MiB (target < image %.1f + 64 = %.1f MiB: %s)\n",
              static_cast<double>(peakKiB) / 1024.0, imageMiB, imageMiB + 64,
              static_cast<double>(peakKiB) / 1024.0 < imageMiB + 64 ? "within" : "over");

  if (options.keep) {
    std::printf("\nwork folder kept: %s\n", files->work.c_str());
  } else {
    std::error_code ec;
    std::filesystem::remove_all(files->work, ec);
  }
  return batch.complete ? 0 : 1;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--keep") {
      options->keep = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    if (arg == "--devsim") {
      options->devsim = value;
    } else if (arg == "--devices") {
      options->devices = std::atoi(value.c_str());
      if (options->devices < 1 || options->devices > kSlotCount) return false;
    } else if (arg == "--image-mib") {
      options->imageMiB = static_cast<std::size_t>(std::atoi(value.c_str()));
      if (options->imageMiB < 1 || options->imageMiB > 48) return false;
    } else if (arg == "--line") {
      options->line = value;
    } else if (arg == "--time-scale") {
      options->timeScale = std::atof(value.c_str());
      if (!(options->timeScale >= 0.02)) return false;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace
}  // namespace vornex

int main(int argc, char** argv) {
  vornex::Options options;
  if (!vornex::ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: batch_bench [--devsim PATH] [--devices 1..8] [--image-mib 1..48]\n"
                 "                   [--time-scale S>=0.02] [--line CONNINFO] [--keep]\n");
    return 2;
  }
  return vornex::RunBench(options);
}
