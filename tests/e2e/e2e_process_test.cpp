// The station program stopped from outside in the middle of a batch: killed outright, every
// identity comes back from the station records with "vornex restore"; interrupted, hung up or
// left without a reader of its output, it ends every job at a safe point and records every job
// before it exits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <future>
#include <sstream>

#include "console/exit_status.h"
#include "console/records_commands.h"
#include "station_harness.h"
#include "store/station_store.h"

extern char** environ;

namespace vornex::e2e {
namespace {

// Long enough that all eight streams run at the same time.
constexpr std::size_t kLongImageBytes = 3 * 1024 * 1024;
constexpr const char* kScaleText = "0.05";

// Starts a program with these arguments (the first is the program) and environment, both of
// its output streams in the file, or its standard output into `outputPipe` when one is given;
// its process id, -1 when it could not start.
pid_t Spawn(const std::vector<std::string>& args, char* const* envp, const std::string& output,
            int outputPipe = -1) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, output.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (outputPipe >= 0) {
    posix_spawn_file_actions_adddup2(&actions, outputPipe, STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  }
  // A hang-up reaches the program even when this one was started to ignore it (nohup).
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t hangUp;
  sigemptyset(&hangUp);
  sigaddset(&hangUp, SIGHUP);
  posix_spawnattr_setsigdefault(&attributes, &hangUp);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int error = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(error, 0) << argv[0];
  return error == 0 ? pid : -1;
}

class StationProcessTest : public StationTest {
 protected:
  void SetUp() override {
    StationTest::SetUp();
    images_ = WriteImageFolder(root_.File("long-images"), true, true, kLongImageBytes);
    records_ = root_.File("records");
  }

  // Starts "vornex --headless" on the bench with these settings, its output in a file.
  pid_t StartHeadless(int expect, const std::string& settings = "",
                      const std::vector<std::string>& more = {}, int outputPipe = -1) {
    testing::WriteFile(root_.File("station.ini"), "[Config]\r\n" + settings);
    std::vector<std::string> args = {VORNEX_PROGRAM, "--headless",
                                     "--bench",      bench_->Folder(),
                                     "--image",      images_.folder,
                                     "--expect",     std::to_string(expect),
                                     "--time-scale", kScaleText,
                                     "--data",       records_,
                                     "--settings",   root_.File("station.ini"),
                                     "--json",       root_.File("jobs.jsonl")};
    args.insert(args.end(), more.begin(), more.end());
    return Spawn(args, environ, root_.File("station.out"), outputPipe);
  }

  // Waits until every device is inside its image stream or past it.
  bool WaitAllStreaming() {
    for (int i = 0; i < bench_->DeviceCount(); ++i) {
      if (!bench_->WaitUntil(
              i,
              [](const sim::TDeviceReport& r) { return r.streamedBytes > 0 || r.flashCount > 0; },
              kPresenceLimitMs)) {
        return false;
      }
    }
    return true;
  }

  // Runs the station on all eight devices and sends it the signal once every device is inside
  // its image stream (or past it); its process id, -1 when that did not happen.
  pid_t SignalMidStream(int signal) {
    const pid_t station = StartHeadless(8);
    if (station <= 0) return -1;
    if (!WaitAllStreaming()) {
      ::kill(station, SIGKILL);
      ExitStatus(station);
      ADD_FAILURE() << "the devices never reached their image streams";
      return -1;
    }
    ::kill(station, signal);
    return station;
  }

  static int ExitStatus(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // The process ended by itself after a stop mid-batch, every job recorded (in the station
  // records and the --json file): a PASS only for a device rewritten with its identity kept,
  // every other job "Interrupted" before its device was flashed, with its backup open.
  void ExpectSafeStop(pid_t station, const std::vector<sim::TDeviceReport>& before) {
    const int failed = ExitStatus(station);
    ASSERT_GE(failed, 0);
    ASSERT_LE(failed, 8) << testing::ReadFile(root_.File("station.out"));

    std::string error;
    const auto jobs = OpenRecords()->History({}, &error);
    ASSERT_TRUE(jobs.has_value()) << error;
    ASSERT_EQ(jobs->size(), 8u);
    int interrupted = 0;
    for (const TJobSummary& job : *jobs) {
      const auto it = std::find_if(before.begin(), before.end(), [&](const sim::TDeviceReport& r) {
        return r.key == job.deviceKey;
      });
      ASSERT_NE(it, before.end()) << job.deviceKey;
      const sim::TDeviceReport now = bench_->Report(it->index);
      if (job.pass) {
        ExpectRewrittenKeepingIdentity(*it, now, images_);
      } else {
        // Stopped inside the stream: never flashed, its backup kept open.
        EXPECT_EQ(job.failure, "Interrupted");
        EXPECT_EQ(now.flashCount, it->flashCount);
        EXPECT_TRUE(OpenRecords()->LoadBackup(job.backupId, &error)->open);
        ++interrupted;
      }
    }
    EXPECT_EQ(interrupted, failed);
    const std::string lines = testing::ReadFile(root_.File("jobs.jsonl"));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 8);
  }

  std::unique_ptr<TStationStore> OpenRecords() {
    std::string error;
    auto store = TStationStore::Open(records_, &error);
    EXPECT_TRUE(store) << error;
    return store;
  }

  std::string records_;
};

TEST_F(StationProcessTest, KilledMidStreamEveryIdentityComesBackFromTheRecords) {
  sim::TSimBench& bench = StartBench(std::vector<sim::TDeviceConfig>(8));
  const std::vector<sim::TDeviceReport> before = bench.Reports();
  const pid_t station = SignalMidStream(SIGKILL);
  ASSERT_GT(station, 0);
  EXPECT_EQ(ExitStatus(station), 128 + SIGKILL);

  // Devices that were resetting come back first.
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(WaitPresent(i, true)) << i;
  std::string error;
  const auto open = OpenRecords()->OpenBackups(&error);
  ASSERT_TRUE(open.has_value()) << error;
  EXPECT_GE(open->size(), 1u);

  std::vector<std::future<std::pair<int, std::string>>> restores;
  for (const TIdentityBackup& backup : *open) {
    restores.push_back(std::async(std::launch::async, [&, id = backup.id] {
      std::ostringstream out;
      const int status = RunRestoreCommand({std::to_string(id), "--bench", bench.Folder(),
                                            "--time-scale", kScaleText, "--data", records_},
                                           out, out);
      return std::make_pair(status, out.str());
    }));
  }
  for (auto& restore : restores) {
    const auto [status, text] = restore.get();
    EXPECT_EQ(status, 0) << text;
  }

  for (const sim::TDeviceReport& was : before) {
    const sim::TDeviceReport now = bench.Report(was.index);
    SCOPED_TRACE("device " + std::to_string(was.index));
    EXPECT_EQ(now.identity.serialNumber, was.identity.serialNumber);
    EXPECT_EQ(now.identity.meid, was.identity.meid);
    EXPECT_EQ(now.identity.testFlag, was.identity.testFlag);
    EXPECT_EQ(now.nvDigest, was.nvDigest);
    EXPECT_EQ(now.layer, "firmware");
  }
  EXPECT_EQ(OpenRecords()->OpenBackupCount(&error), 0) << error;
}

TEST_F(StationProcessTest, InterruptedMidBatchEveryJobEndsAtASafePointAndIsRecorded) {
  StartBench(std::vector<sim::TDeviceConfig>(8));
  const std::vector<sim::TDeviceReport> before = bench_->Reports();
  const pid_t station = SignalMidStream(SIGINT);
  ASSERT_GT(station, 0);
  ExpectSafeStop(station, before);
}

TEST_F(StationProcessTest, HungUpMidBatchEveryJobEndsAtASafePointAndIsRecorded) {
  StartBench(std::vector<sim::TDeviceConfig>(8));
  const std::vector<sim::TDeviceReport> before = bench_->Reports();
  const pid_t station = SignalMidStream(SIGHUP);
  ASSERT_GT(station, 0);
  ExpectSafeStop(station, before);
}

// The output piped into a reader that quits mid-batch, as "| head -1" does.
TEST_F(StationProcessTest, AReaderOfTheOutputQuittingMidBatchStopsItSafely) {
  StartBench(std::vector<sim::TDeviceConfig>(8));
  const std::vector<sim::TDeviceReport> before = bench_->Reports();
  int ends[2] = {-1, -1};
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  const pid_t station = StartHeadless(8, "", {}, ends[1]);
  ::close(ends[1]);
  ASSERT_GT(station, 0);
  char first[512];
  EXPECT_GT(::read(ends[0], first, sizeof first), 0);
  EXPECT_TRUE(WaitAllStreaming());
  ::close(ends[0]);
  ExpectSafeStop(station, before);
}

// Two devices expected but one slot in use: the one that was never flashed is not a pass.
TEST_F(StationProcessTest, AnExpectedDeviceThatWasNeverStartedIsNotAPass) {
  images_ = WriteImageFolder(root_.File("images"), true, true);
  StartBench(std::vector<sim::TDeviceConfig>(2));
  const pid_t station = StartHeadless(2, "PathNumber=1\r\n");
  ASSERT_GT(station, 0);
  EXPECT_EQ(ExitStatus(station), 1);
  const std::string output = testing::ReadFile(root_.File("station.out"));
  EXPECT_NE(output.find("Devices: 2 expected, 2 listed, 1 started, 1 passed, 0 failed, "
                        "1 never started."),
            std::string::npos)
      << output;
}

// Three devices expected, two there: the station says what it waits for, gives up after the
// wait with its own exit status, and touches no device.
TEST_F(StationProcessTest, TooFewDevicesEndAfterTheWaitWithItsOwnStatus) {
  images_ = WriteImageFolder(root_.File("images"), true, true);
  sim::TSimBench& bench = StartBench(std::vector<sim::TDeviceConfig>(2));
  const std::vector<sim::TDeviceReport> before = bench.Reports();
  const pid_t station = StartHeadless(3, "", {"--wait", "5"});
  ASSERT_GT(station, 0);
  EXPECT_EQ(ExitStatus(station), 124);
  const std::string output = testing::ReadFile(root_.File("station.out"));
  EXPECT_NE(output.find("Waiting for 1 more device(s) (2 found)..."), std::string::npos) << output;
  EXPECT_NE(output.find("Gave up waiting after 5 s: 2 of 3 device(s) found. No device was "
                        "touched."),
            std::string::npos)
      << output;
  for (int i = 0; i < 2; ++i) ExpectUntouched(before[static_cast<std::size_t>(i)], bench.Report(i));
}

// The program's front door: a mistake on the command line or a display that does not answer ends
// it with its own status and a sentence on standard error, never with an abort.
TEST(StationProgram, RefusesWhatItCannotUseWithItsStatusAndAReason) {
  testing::TempDir dir;
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> env;
    int status;
    std::string says;
  } cases[] = {
      {{"--bogus"}, {}, exit_status::kUsage, "vornex: unknown option: --bogus"},
      {{"--headless", "--expect", "9"},
       {},
       exit_status::kUsage,
       "--expect takes a whole number of devices from 1 to 8"},
      {{},
       {"DISPLAY=:97"},
       exit_status::kUnavailable,
       "vornex: the display DISPLAY=:97 does not answer."},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {VORNEX_PROGRAM};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::vector<std::string> env = c.env;
    env.push_back("XDG_RUNTIME_DIR=" + dir.path());
    std::vector<char*> envp;
    for (const std::string& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    const std::string output = dir.File("err.txt");
    const pid_t pid = Spawn(args, envp.data(), output);
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.status) << c.says << ": " << status;
    EXPECT_NE(testing::ReadFile(output).find(c.says), std::string::npos)
        << testing::ReadFile(output);
  }
}

// Stopped past the reset (killed while the station waits for the reboot, writes the NV items
// back or reads the identity back, or hung up there), then started again on the same records:
// every device ends with its own identity and the new image, never with what the stop left.
TEST_F(StationProcessTest, StoppedPastTheResetTheNextStartFinishesEveryDeviceFromItsBackup) {
  images_ = WriteImageFolder(root_.File("images"), true, true);
  const auto count = [](const sim::TDeviceReport& r, const char* name) {
    const auto it = r.commandCounts.find(name);
    return it != r.commandCounts.end() ? it->second : 0;
  };
  using Reached = std::function<bool(const sim::TDeviceReport& was, const sim::TDeviceReport& now)>;
  const Reached rebooted = [](const auto& was, const auto& now) {
    return now.bootCount > was.bootCount;
  };
  const struct {
    const char* name;
    int signal;
    Reached reached;
  } cases[] = {
      {"killed waiting for the reboot", SIGKILL, rebooted},
      {"killed writing the NV items back", SIGKILL,
       [&](const auto& was, const auto& now) {
         return count(now, "firmware:27") >= count(was, "firmware:27") + 100;
       }},
      {"killed reading the identity back", SIGKILL,
       [&](const auto& was, const auto& now) {
         return count(now, "AT+MDTFLAG=") > count(was, "AT+MDTFLAG=");
       }},
      {"hung up waiting for the reboot", SIGHUP, rebooted},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    records_ = root_.File(std::string("records ") + c.name);
    bench_.reset();  // its records go with it, before the next bench writes its own
    sim::TSimBench& bench = StartBench(std::vector<sim::TDeviceConfig>(4));
    const std::vector<sim::TDeviceReport> before = bench.Reports();
    const pid_t first = StartHeadless(4);
    ASSERT_GT(first, 0);
    // The first device to get there decides when; the others are wherever their jobs are.
    const bool reached = bench.WaitUntilAny(
        [&](const sim::TDeviceReport& now) {
          return c.reached(before[static_cast<std::size_t>(now.index)], now);
        },
        kPresenceLimitMs);
    ::kill(first, c.signal);
    ExitStatus(first);
    ASSERT_TRUE(reached) << testing::ReadFile(root_.File("station.out"));
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(WaitPresent(i, true)) << i;

    const pid_t second = StartHeadless(4);
    ASSERT_GT(second, 0);
    EXPECT_EQ(ExitStatus(second), 0) << testing::ReadFile(root_.File("station.out"));
    for (const sim::TDeviceReport& was : before) {
      const sim::TDeviceReport now = bench.Report(was.index);
      SCOPED_TRACE("device " + std::to_string(was.index));
      EXPECT_EQ(now.flashSha256, images_.sha256);
      EXPECT_EQ(now.identity.serialNumber, was.identity.serialNumber);
      EXPECT_EQ(now.identity.meid, was.identity.meid);
      EXPECT_EQ(now.identity.testFlag, was.identity.testFlag);
      EXPECT_EQ(now.nvDigest, was.nvDigest);
    }
    std::string error;
    EXPECT_EQ(OpenRecords()->OpenBackupCount(&error), 0) << error;
  }
}

}  // namespace
}  // namespace vornex::e2e
