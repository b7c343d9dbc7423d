// Who holds a port, with real processes on real pseudo-terminals: a child that keeps the tty
// open without any lock makes the port busy and is named, the device side of the pair is not.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "discovery/bench_registry.h"
#include "discovery/port_enumeration.h"
#include "support/holding_child.h"
#include "support/pty_peer.h"
#include "support/run_scope.h"
#include "support/temp_dir.h"

namespace vornex {
namespace {

using testing::HoldingChild;

class PortHoldersTest : public ::testing::Test {
 protected:
  testing::RunScope run_;
  testing::TempDir dir_;
};

TEST_F(PortHoldersTest, AnotherProcessOnTheTtyMakesThePortBusyButTheDeviceSideDoesNot) {
  testing::PtyPair pty;
  bench::TBenchPort record;
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

}  // namespace
}  // namespace vornex
