// The system check's report on fixture folders: what blocks a run (ModemManager without the
// station's rule, a port that a program holds), and the refused records of a bench.
#include "console/system_check.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "console/exit_status.h"
#include "discovery/bench_registry.h"
#include "support/holding_child.h"
#include "support/pty_peer.h"
#include "support/sysfs_tree.h"
#include "support/temp_dir.h"

namespace vornex {
namespace {

using testing::HoldingChild;

// The report holds the text; on failure the whole report is shown.
::testing::AssertionResult Has(const std::string& report, const std::string& text) {
  if (report.find(text) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no \"" << text << "\" in:\n" << report;
}

// The check's reports on who holds the ports and what else stands in the way, each in a folder
// of its own.
class PortHoldersTest : public ::testing::Test {
 protected:
  testing::TempDir dir_;
};

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
  bench::TBenchPort record;
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
