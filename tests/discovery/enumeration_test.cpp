// EnumeratePorts: the common rules on any backend (USB only, serial before modem, 120 at most,
// the resolver's table). The backends of each system have tests of their own.
#include <gtest/gtest.h>

#include "enumeration_fixture.h"

namespace vornex {
namespace {

TEST_F(EnumerationTest, ListsUsbSerialPortsBeforeModemsUpTo120AndFeedsTheResolver) {
  auto backend = std::make_unique<FakeBackend>();
  const auto add = [&](int com, std::int32_t portClass, std::int32_t usb, std::string tty) {
    backend->ports.emplace_back();
    backend->ports.back().com = static_cast<std::uint8_t>(com);
    backend->ports.back().portClass = portClass;
    backend->ports.back().usb = usb;
    backend->ports.back().ttyPath = tty;
  };
  add(250, kPortClassSerial, 0, "not usb");
  for (int com = 1; com <= 130; ++com) {
    add(com, com % 2 == 1 ? kPortClassSerial : kPortClassModem, 1, "tty" + std::to_string(com));
  }
  add(3, kPortClassSerial, 1, "second");  // a number claimed twice is listed for neither
  run_.Discovery(std::move(backend)).ComTty(240, "stale");

  ASSERT_EQ(Enumerate(), kMaxPortCount);
  EXPECT_EQ(At(0).com, 1);
  EXPECT_EQ(At(1).com, 5);
  EXPECT_EQ(At(63).com, 129);  // the 64 serial ports in backend order,
  EXPECT_EQ(At(64).com, 2);    // then modems until the table is full
  EXPECT_EQ(At(119).com, 112);
  EXPECT_EQ(At(119).ttyPath.str(), "tty112");
  EXPECT_EQ(com_resolver::Resolve(5), "tty5");
  EXPECT_EQ(com_resolver::Resolve(112), "tty112");
  for (int absent : {3, 114, 250}) EXPECT_FALSE(com_resolver::Resolve(absent)) << absent;

  // A listing adds numbers and never takes any away: a device off the bus for a moment keeps
  // its number's tty for whoever opens it by number.
  run_.NoDiscovery();
  EXPECT_EQ(Enumerate(), 0);
  EXPECT_EQ(com_resolver::Resolve(1), "tty1");
  EXPECT_EQ(com_resolver::Resolve(240), "stale");
}

}  // namespace
}  // namespace vornex
