// Who holds a port, with real processes on real pseudo-terminals: a child that keeps the tty
// open without any lock makes the port busy and is named, the device side of the pair is not;
// and the system check's report on fixture folders.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "console/exit_status.h"
#include "console/system_check.h"
#include "discovery/bench_registry.h"
#include "discovery/port_enumeration.h"
#include "support/pty_peer.h"
#include "support/run_scope.h"
#include "sysfs_tree.h"

extern char** environ;

namespace vornex {
namespace {

// The report holds the text; on failure the whole report is shown.
::testing::AssertionResult Has(const std::string& report, const std::string& text) {
  if (report.find(text) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no \"" << text << "\" in:\n" << report;
}

// A "sleep" child that inherits the given descriptors; killed and reaped when it goes.
class HoldingChild {
 public:
  explicit HoldingChild(const std::vector<int>& fds) {
    std::vector<int> inherited;
    for (const int fd : fds) inherited.push_back(::dup(fd));  // a duplicate survives the exec
    char name[] = "sleep";
    char seconds[] = "600";
    char* argv[] = {name, seconds, nullptr};
    if (::posix_spawnp(&pid_, "sleep", nullptr, nullptr, argv, environ) != 0) pid_ = -1;
    for (const int fd : inherited) ::close(fd);
  }
  ~HoldingChild() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  HoldingChild(const HoldingChild&) = delete;
  HoldingChild& operator=(const HoldingChild&) = delete;

  std::string Text() const { return "sleep (pid " + std::to_string(pid_) + ")"; }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

class PortHoldersTest : public ::testing::Test {
 protected:
  testing::RunScope run_;
  testing::TempDir dir_;
};

TEST_F(PortHoldersTest, AnotherProcessOnTheTtyMakesThePortBusyButTheDeviceSideDoesNot) {
  testing::PtyPair pty;
  bench::BenchPort record;
  record.info.com = 12;
  record.info.portClass = kPortClassSerial;
  record.info.path = "\\\\?\\USB#VID_05C6&PID_9004&MI_00#6&5A3F0C21&0&0000#{x}";
  record.ttyPath = pty.slavePath();
  ASSERT_TRUE(bench::WritePort(dir_.path(), record));
  run_.BenchDiscovery(dir_.path());
  const int slave = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(slave, 0);

  const struct {
    const char* what;
    std::vector<int> fds;
    bool held;
  } cases[] = {
      {"nobody but this process", {}, false},
      {"a program on the tty", {slave}, true},
      {"the device side of the pair", {pty.master(), slave}, false},
  };
  auto table = std::make_unique<TPortTable>();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<HoldingChild> child;
    if (!c.fds.empty()) {
      child = std::make_unique<HoldingChild>(c.fds);
      ASSERT_GT(child->pid(), 0);
    }
    TDiscoveryNotes notes;
    ASSERT_EQ(EnumeratePorts(*table, &notes), 1);
    const TPortInfo& port = (*table)[0];
    EXPECT_EQ(port.openable, c.held ? 0 : 1);  // no lock: only the process table tells
    EXPECT_EQ(port.denied, 0);
    EXPECT_EQ(port.heldBy.str(), c.held ? child->Text() : "");
    if (c.held) {
      const TDiscoveryNote held{TNoteKind::kHeld, 12, "COM12 held by " + child->Text()};
      EXPECT_NE(std::find(notes.begin(), notes.end(), held), notes.end());
    }
  }
  ::close(slave);
}

TEST_F(PortHoldersTest, SystemCheckReportsWhatBlocksARun) {
  testing::SysfsTree tree;
  TSystemRoots roots;
  roots.proc = dir_.File("proc");
  roots.sys = tree.sys();
  roots.dev = tree.dev();
  roots.ruleFolders = {dir_.File("etc-rules"), dir_.File("lib-rules")};
  roots.settingsPath = dir_.File("none.ini");
  for (const std::string& folder :
       {roots.proc + "/812", roots.ruleFolders[0], roots.ruleFolders[1]}) {
    std::filesystem::create_directories(folder);
  }

  const struct {
    const char* what;
    bool modemManager;
    bool rule;
    int status;
    const char* lastLine;
  } cases[] = {
      {"quiet system", false, false, 0, "Nothing blocks a run."},
      {"ModemManager, no rule", true, false, 1,
       "Blocked: ModemManager is running and the station's udev rule is not installed."},
      {"ModemManager and the rule", true, true, 0, "Nothing blocks a run."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::WriteFile(roots.proc + "/812/comm", c.modemManager ? "ModemManager\n" : "bash\n");
    std::filesystem::remove(roots.ruleFolders[1] + "/" + kUdevRuleName);
    if (c.rule) testing::WriteFile(roots.ruleFolders[1] + "/" + kUdevRuleName, "");
    std::ostringstream report;
    EXPECT_EQ(RunSystemCheck(roots, report), c.status);
    EXPECT_TRUE(Has(report.str(), "USB serial ports: none\n"));
    EXPECT_TRUE(
        Has(report.str(), "\nNo station device is attached: plug one in and run this again.\n" +
                              std::string(c.lastLine) + "\n"));
    EXPECT_EQ(StartupWarnings(roots).empty(), c.status == 0);
  }

  // A station device whose port a program holds: named on its line and in the last one.
  testing::PtyPair pty;
  tree.AddDevice("1-1.2", "05c6", "9004", "Vornex Handset");
  tree.AddTty("1-1.2", "00", "ttyUSB0");
  tree.AddNode("ttyUSB0", pty.slavePath());
  const int slave = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  HoldingChild child({slave});
  ::close(slave);
  roots.proc = "/proc";
  std::ostringstream report;
  EXPECT_EQ(RunSystemCheck(roots, report), 1);
  EXPECT_TRUE(Has(report.str(), "  COM3  " + tree.dev() + "/ttyUSB0  diagnostics  device "));
  EXPECT_TRUE(Has(report.str(), "; held by " + child.Text() + "; this user can open it\n"));
  EXPECT_TRUE(Has(report.str(), "\nBlocked: COM3 is held by " + child.Text()));
  EXPECT_FALSE(Has(report.str(), "note: COM3 held by"));  // its port line tells it
  EXPECT_FALSE(Has(report.str(), "No station device"));
}

// With a bench registry the check lists its ports, and every record it refuses as a note that
// names the file and why.
TEST_F(PortHoldersTest, SystemCheckOfABenchNamesTheRefusedRecords) {
  bench::BenchPort record;
  record.info.com = 12;
  record.info.portClass = kPortClassSerial;
  record.info.path = "\\\\?\\USB#VID_05C6&PID_9004&MI_00#6&5A3F0C21&0&0000#{x}";
  record.ttyPath = "/nonexistent";
  ASSERT_TRUE(bench::WritePort(dir_.path(), record));
  std::filesystem::copy_file(dir_.File("COM12.port"), dir_.File("COM7.port"));
  ASSERT_EQ(::mkfifo(dir_.File("COM51.port").c_str(), 0600), 0);

  std::ostringstream report;
  std::ostringstream err;
  EXPECT_NE(RunSystemCheckCommand({"--bench", dir_.path()}, report, err), exit_status::kUsage)
      << err.str();
  EXPECT_TRUE(Has(report.str(), "Bench registry: " + dir_.path() + "\n"));
  EXPECT_TRUE(Has(report.str(), "  note: bench record COM51.port refused: not a regular file\n"));
  EXPECT_TRUE(Has(report.str(), "  note: bench records COM12.port and COM7.port both claim COM12"));
  EXPECT_EQ(RunSystemCheckCommand({"--bench"}, report, err), exit_status::kUsage);
  EXPECT_EQ(RunSystemCheckCommand({"--bench", dir_.File("none")}, report, err),
            exit_status::kUsage);
}

}  // namespace
}  // namespace vornex
