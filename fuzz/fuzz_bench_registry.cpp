// Reading bench registry records (bench::ReadPorts).
//
// Input: the text of one record file. The record parser is reached through the folder reader,
// so the input goes to "COM1.port" in a scratch folder of its own. Reading must not throw, and a
// record that is taken has the fields the registry requires, within their limits: COM 1..255,
// class 1 (serial) or 2 (modem), a path and a tty, text fields within their record widths.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "discovery/bench_registry.h"
#include "foundation/text.h"
#include "fuzz_support.h"

using namespace vornex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string folder = fuzz::ScratchFolder();
  static const std::string file = folder + "/" + bench::PortFileName(1);
  fuzz::WriteFile(file, data, size);

  const std::vector<bench::TBenchPort> ports =
      fuzz::NoThrow("ReadPorts", [] { return bench::ReadPorts(folder); });
  FUZZ_CHECK(ports.size() <= 1);
  for (const bench::TBenchPort& port : ports) {
    const TPortInfo& info = port.info;
    FUZZ_CHECK(info.com >= 1);
    FUZZ_CHECK(info.portClass == kPortClassSerial || info.portClass == kPortClassModem);
    FUZZ_CHECK(!info.path.empty() && !port.ttyPath.empty());
    FUZZ_CHECK(info.usb == 1 && info.openable == 1);
    FUZZ_CHECK(Utf16Length(info.path) <= decltype(info.path)::kCapacity);
    FUZZ_CHECK(Utf16Length(info.description) <= decltype(info.description)::kCapacity);
    FUZZ_CHECK(Utf16Length(info.hardwareId) <= decltype(info.hardwareId)::kCapacity);
  }
  return 0;
}
