// Discovery on Windows against the real system: the registry method on keys that the test writes
// into the registry (and removes again), the Setup API method on whatever the system has, the
// exclusive test open, the SERIALCOMM watch and the bench registry's COM names.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "discovery/bench_registry.h"
#include "discovery/com_records.h"
#include "discovery/group_key.h"
#include "discovery/port_watch.h"
#include "discovery/win32/windows_backend.h"
#include "enumeration_fixture.h"
#include "foundation/pacing.h"
#include "foundation/paths.h"
#include "foundation/win32/wide_text.h"

namespace vornex {
namespace {

namespace fs = std::filesystem;
using win32::Wide;

const std::string kSerialComm = win32::kSerialCommKey;
const std::string kUsb = std::string(win32::kUsbEnumKey) + "\\";
const std::string kLinks = std::string(win32::kDeviceClassesKey) + "\\";

// A folder of its own for one test, removed with everything in it.
struct TestFolder {
  TestFolder() { fs::create_directories(path); }
  ~TestFolder() { fs::remove_all(path); }
  std::string File(const std::string& name) const { return paths::Utf8Path(path / name); }
  const fs::path path =
      fs::temp_directory_path() / ("vornex-discovery-" + std::to_string(::GetCurrentProcessId()));
};

// Writes registry values for one test and removes them, and the keys it made, afterwards.
class WindowsDiscovery : public EnumerationTest {
 protected:
  void SetUp() override {
    HKEY key = nullptr;
    // HARDWARE is volatile: a SERIALCOMM made here must be one too.
    const LONG result =
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(kSerialComm).c_str(), 0, nullptr,
                          REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (result == ERROR_ACCESS_DENIED) GTEST_SKIP() << "writing HKLM needs an administrator";
    ASSERT_EQ(result, ERROR_SUCCESS);
    ::RegCloseKey(key);
  }
  void TearDown() override {
    for (const auto& [path, name] : values_) {
      ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, Wide(path).c_str(), Wide(name).c_str());
    }
    for (const std::string& path : keys_) ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, Wide(path).c_str());
    EnumerationTest::TearDown();
  }

  // Sets a text value (REG_MULTI_SZ when `texts` holds more than one), making its key.
  static void Set(const std::string& full, const std::string& name,
                  const std::vector<std::string>& texts) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(full).c_str(), 0, nullptr, 0,
                                KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << full;
    std::wstring data;
    for (const std::string& text : texts) data += Wide(text) + L'\0';
    if (texts.size() > 1) data += L'\0';
    ::RegSetValueExW(key, Wide(name).c_str(), 0, texts.size() > 1 ? REG_MULTI_SZ : REG_SZ,
                     reinterpret_cast<const BYTE*>(data.c_str()),
                     static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    ::RegCloseKey(key);
  }
  void SetSerialComm(const std::string& name, const std::string& com) {
    Set(kSerialComm, name, {com});
    values_.emplace_back(kSerialComm, name);
  }

  // One USB interface of the test's devices, with its interface link unless `linked` is false.
  void AddInterface(const std::string& deviceId, const std::string& instance, int com,
                    const std::string& className, bool linked = true) {
    const std::string key = kUsb + deviceId + "\\" + instance;
    keys_.push_back(kUsb + deviceId);
    Set(key, "Class", {className});
    Set(key, "DeviceDesc", {"@oem9.inf,%port%;Vornex " + className});
    Set(key, "HardwareID", {"USB\\" + deviceId, "USB\\" + deviceId + "&REV_0000"});
    Set(key + "\\Device Parameters", "PortName", {"COM" + std::to_string(com)});
    if (!linked) return;
    const std::string guid(com_records::InterfaceClassOf(com_records::ClassOfName(className)));
    const std::string name = "USB#" + deviceId + "#" + instance + "#" + guid;
    keys_.push_back(kLinks + guid + "\\##?#" + name);
    Set(keys_.back() + "\\#", "SymbolicLink", {"\\\\?\\" + name});
  }

  std::vector<std::pair<std::string, std::string>> values_;
  std::vector<std::string> keys_;
};

// One test for both readers of SERIALCOMM, so that no other test changes it meanwhile.
TEST_F(WindowsDiscovery, RegistryMethodAndPortWatchFollowSerialComm) {
  std::string note;
  const std::unique_ptr<TPortWatch> watch = MakeSystemPortWatch(&note);
  ASSERT_TRUE(note.empty()) << note;
  const auto changed = [&] {
    for (pacing::TDeadline limit(10000); !limit.Expired(); std::this_thread::yield()) {
      if (watch->Poll()) return true;
    }
    return false;
  };
  EXPECT_FALSE(watch->Poll());

  const std::string device = "VID_05C6&PID_9004&MI_0";
  AddInterface(device + "0", "7&2b3c4d5e&0&0000", 201, "Ports");
  AddInterface(device + "2", "7&2b3c4d5e&0&0002", 202, "Modem");
  AddInterface(device + "1", "7&2b3c4d5e&0&0001", 204, "Ports", /*linked=*/false);
  AddInterface("VID_1234&PID_0001", "5&1&0", 203, "Ports");
  AddInterface("VID_4321&PID_0001", "5&2&0", 205, "Ports");
  int n = 0;
  for (const char* name : {"COM202", "LPT9", "COM205", "COM201", "COM203", "COM204"}) {
    SetSerialComm("\\Device\\VornexTest" + std::to_string(n++), name);
  }
  EXPECT_TRUE(changed());
  EXPECT_FALSE(watch->Poll());

  TestFolder folder;
  std::ofstream(folder.path / "Vornex_730.ini") << "[UsbPorts]\n1234:0001=00=Serial\n";
  TDiscoveryNotes notes;
  const std::vector<TPortInfo> ports =
      win32::MakeWindowsBackend(win32::TWindowsMethod::kRegistry, folder.File("Vornex_730.ini"))
          ->ListPorts(notes);
  ASSERT_EQ(ports.size(), 3u) << ::testing::PrintToString(notes);
  const int order[] = {202, 201, 203};  // SERIALCOMM's
  for (std::size_t i = 0; i < ports.size(); ++i) {
    SCOPED_TRACE(order[i]);
    EXPECT_EQ(ports[i].com, order[i]);
    EXPECT_EQ(ports[i].ttyPath.str(), com_records::ComDevicePath(order[i]));
    EXPECT_EQ(ports[i].openable, 0);  // there is no such port to open
  }
  EXPECT_EQ(ports[0].portClass, kPortClassModem);
  EXPECT_EQ(ports[0].description.str(), "Vornex Modem");
  EXPECT_EQ(ports[1].hardwareId.str(), "USB\\" + device + "0&REV_0000");
  // The links of one device share its grouping key.
  EXPECT_EQ(GroupKeyOfPath(ports[0].path), "2b3c4d5e");
  EXPECT_EQ(GroupKeyOfPath(ports[1].path), "2b3c4d5e");

  // The watch was asked again: a port that goes is seen too.
  ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, Wide(kSerialComm).c_str(), L"\\Device\\VornexTest3");
  EXPECT_TRUE(changed());
}

TEST_F(EnumerationTest, SetupApiListsTheSystemsUsbPortsWithoutFailing) {
  EXPECT_EQ(win32::SystemMethod(), win32::TWindowsMethod::kSetupApi);  // Windows 7 or later
  TDiscoveryNotes notes;
  for (const TPortInfo& port : win32::ListBySetupApi(notes)) {
    EXPECT_EQ(port.usb, 1);
    EXPECT_TRUE(port.portClass == kPortClassSerial || port.portClass == kPortClassModem);
    EXPECT_EQ(port.ttyPath.str(), com_records::ComDevicePath(port.com));
  }
  run_.SystemDiscovery();
  EXPECT_LE(Enumerate(), kMaxPortCount);
}

TEST_F(EnumerationTest, BenchPortsOpenByTheirComNumber) {
  TestFolder folder;
  bench::TBenchPort port;
  port.info.com = 12;
  port.info.portClass = kPortClassSerial;
  port.info.path = "\\\\?\\USB#VID_05C6&PID_9004&MI_00#6&AAAA&0&0000#{x}";
  port.ttyPath = "simulator's own";
  const std::string bench = paths::Utf8Path(folder.path);
  ASSERT_TRUE(bench::WritePort(bench, port));
  ASSERT_TRUE(bench::WritePort(bench, port));  // replaces the record
  run_.BenchDiscovery(bench);
  ASSERT_EQ(Enumerate(), 1);
  EXPECT_EQ(At(0).ttyPath.str(), "\\\\.\\COM12");
  EXPECT_EQ(At(0).openable, 0);
}

TEST(WindowsTestOpen, TellsBusyFromMissing) {
  TestFolder folder;
  const std::string held = folder.File("held");
  std::ofstream(folder.path / "free") << "x";
  const HANDLE holder = ::CreateFileW(Wide(held).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      CREATE_NEW, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  const std::pair<std::string, TTtyOpen> cases[] = {
      {folder.File("free"), TTtyOpen::kOpened},  {held, TTtyOpen::kBusy},
      {folder.File("none"), TTtyOpen::kMissing}, {folder.File("none\\port"), TTtyOpen::kMissing},
      {"\\\\.\\COM249", TTtyOpen::kMissing},
  };
  for (const auto& [path, expected] : cases) {
    EXPECT_EQ(TestOpenTty(path).result, expected) << path << ": " << TestOpenTty(path).systemCode;
  }
  ::CloseHandle(holder);
}

TEST(WindowsTestOpen, AComPortHeldByAnotherProgramReadsBusy) {
  if (::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr) {
    GTEST_SKIP() << "Wine lets a second exclusive open of a COM port through";
  }
  const HANDLE holder = ::CreateFileW(L"\\\\.\\COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
  if (holder == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no free COM1 to hold";
  EXPECT_EQ(TestOpenTty("\\\\.\\COM1").result, TTtyOpen::kBusy);
  ::CloseHandle(holder);
}

}  // namespace
}  // namespace vornex
