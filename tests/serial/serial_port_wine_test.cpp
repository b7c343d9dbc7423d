// The serial port on Windows, run under Wine against the device simulator of the build machine:
// the test script starts two simulated devices (the second with a silent modem port), points the
// prefix's COM ports at their ports and names the bench folder in VORNEX_TEST_BENCH. Without
// that folder every case is skipped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "discovery/bench_registry.h"
#include "serial/serial_port.h"

namespace vornex {
namespace {

constexpr std::uint32_t kLongMs = 60000;  // an answer is expected well within this
constexpr std::uint32_t kShortMs = 500;   // the test waits for this limit to pass

// The modem ports of the two devices, in COM order (the simulator numbers devices in order).
std::optional<std::vector<int>> ModemPorts() {
  const char* folder = std::getenv("VORNEX_TEST_BENCH");
  if (folder == nullptr || *folder == '\0') return std::nullopt;
  std::vector<int> modems;
  std::vector<std::string> notes;
  for (const bench::TBenchPort& port : bench::ReadPorts(folder, &notes)) {
    if (port.info.portClass == kPortClassModem) modems.push_back(port.info.com);
  }
  // A bench that is named but unusable is a failure of the set-up, not a reason to skip.
  EXPECT_GE(modems.size(), 2u) << "bench " << folder << ": " << ::testing::PrintToString(notes);
  if (modems.size() < 2) return std::nullopt;
  return modems;
}

#define REQUIRE_SIMULATOR(ports)                                                     \
  const auto ports = ModemPorts();                                                   \
  if (!ports) GTEST_SKIP() << "no simulated devices (VORNEX_TEST_BENCH names none)"; \
  static_cast<void>(0)

struct Received {
  std::string bytes;
  static void Note(void* user, std::int32_t, const std::uint8_t* data, std::int32_t count) {
    static_cast<Received*>(user)->bytes.append(reinterpret_cast<const char*>(data),
                                               static_cast<std::size_t>(count));
  }
};

TEST(SerialPortWineTest, AtExchangesEndAtTheirEndTexts) {
  REQUIRE_SIMULATOR(ports);
  TSerialPort port((*ports)[0]);
  port.SetTimeLimits(kLongMs, kLongMs);
  Received received;
  port.SetReceiveNotify(&Received::Note, &received, 7);
  ASSERT_TRUE(port.Open()) << port.LastError();

  const struct {
    std::string request;
    std::string expected;
  } cases[] = {{"ATE0\r", "OK"}, {"AT+MDVER\r", "+MDVER:"}, {"AT+BOGUS\r", "ERROR"}};
  for (const auto& c : cases) {
    received.bytes.clear();
    port.SetEndTexts({"OK", "ERROR"}, 1);
    std::uint8_t reply[512];
    std::size_t got = 0;
    ASSERT_TRUE(port.WriteThenRead(reinterpret_cast<const std::uint8_t*>(c.request.data()),
                                   c.request.size(), 0, reply, sizeof reply, &got))
        << c.request << port.LastError();
    const std::string text(reinterpret_cast<const char*>(reply), got);
    EXPECT_NE(text.find(c.expected), std::string::npos) << c.request << " -> " << text;
    EXPECT_EQ(received.bytes, text) << "every read is handed to the notification";
  }
}

TEST(SerialPortWineTest, ASilentPortTimesOutAndStaysUsable) {
  REQUIRE_SIMULATOR(ports);
  TSerialPort port((*ports)[1]);
  port.SetTimeLimits(kLongMs, kShortMs);
  ASSERT_TRUE(port.Open()) << port.LastError();
  port.SetEndTexts({"OK", "ERROR"}, 1);
  const std::string request = "AT\r";
  std::uint8_t reply[64];
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::size_t got = 1;
    EXPECT_FALSE(port.WriteThenRead(reinterpret_cast<const std::uint8_t*>(request.data()),
                                    request.size(), 0, reply, sizeof reply, &got));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(port.LastError(), "read operation is timeout.,System Code:258");
  }
  EXPECT_TRUE(port.IsOpen());
}

TEST(SerialPortWineTest, OpenFailuresSayWhy) {
  const struct {
    int com;
    const char* error;
  } cases[] = {{1, "port number is invalid.,System Code:87"},
               {2, "port number is invalid.,System Code:87"},
               {250, "fail to open the port.,System Code:"}};
  for (const auto& c : cases) {
    TSerialPort port(c.com);
    EXPECT_FALSE(port.Open());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(port.LastError().starts_with(c.error)) << c.com << ": " << port.LastError();
    std::size_t got = 0;
    std::uint8_t byte = 0;
    EXPECT_FALSE(port.Read(&byte, 1, &got)) << "a port that did not open reads nothing";
  }
}

}  // namespace
}  // namespace vornex
