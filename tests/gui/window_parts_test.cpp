// The parts around the station window: its command line, the single-instance lock, the hand-over
// of confirmations to the window's thread, and which udev events count as port changes.
#include <QLockFile>
#include <QThread>
#include <cstdlib>
#include <thread>

#include "console/qt/confirm_relay.h"
#include "console/qt/udev_monitor.h"
#include "console/qt/vornex_app.h"
#include "gui/gui_support.h"

namespace vornex::guitest {
namespace {

TEST(WindowOptions, ParsesTheOptionsAndRefusesMistakes) {
  std::string error;
  const auto options =
      ParseWindowOptions({"--bench", "/b", "--time-scale", "0.1", "--autostart", "8",
                          "--screenshot", "w.png", "--screenshot-at", "40", "--close-when-done"},
                         &error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->bench, "/b");
  EXPECT_DOUBLE_EQ(options->timeScale, 0.1);
  EXPECT_EQ(options->autostart, 8);
  EXPECT_EQ(options->screenshotPercent, 40);
  EXPECT_TRUE(options->closeWhenDone);
  for (const std::vector<std::string>& wrong : {std::vector<std::string>{"--autostart", "9"},
                                                {"--autostart", "2.5"},
                                                {"--time-scale", "0"},
                                                {"--screenshot-at", "101"},
                                                {"--bench"},
                                                {"--expect", "3"}}) {
    EXPECT_FALSE(ParseWindowOptions(wrong, &error)) << wrong[0];
  }
}

TEST(InstanceLock, ASecondStartFindsTheLockTakenAndEndsWithoutAWindow) {
  GuiApp();
  testing::TempDir runtime;
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string savedValue = saved != nullptr ? saved : "";
  ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  const QString path = InstanceLockPath();
  EXPECT_EQ(path, QString::fromStdString(runtime.File("Fa Factory Multi Path Trelvan App.lock")));
  bool other = false;
  std::unique_ptr<QLockFile> first = TakeInstanceLock(path, &other);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(TakeInstanceLock(path, &other), nullptr);
  EXPECT_TRUE(other);
  // The window mode ends at once with status 0 (a window would need a second application).
  EXPECT_EQ(CVornexApp::Run("vornex", TWindowOptions{}), 0);
  first.reset();
  EXPECT_NE(TakeInstanceLock(path, &other), nullptr);
  saved != nullptr ? ::setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1)
                   : ::unsetenv("XDG_RUNTIME_DIR");
}

TEST(ConfirmRelay, RecordsReachTheWindowThreadInOrderAndNothingAfterClose) {
  GuiApp();
  auto receiver = std::make_unique<QObject>();
  std::vector<std::int32_t> seen;
  bool wrongThread = false;
  CConfirmRelay relay(receiver.get(), [&](std::uint32_t, TConfirmRecord record) {
    wrongThread |= QThread::currentThread() != receiver->thread();
    seen.push_back(std::get<std::unique_ptr<TSingleCnf>>(record)->progress);
  });
  std::thread poster([&] {
    for (int i = 0; i < 50; ++i) {
      EXPECT_TRUE(relay.PostConfirmation(WM_DOWNLOAD_CNF, CNF_SINGLE, SingleReport(0, 0, i)));
    }
  });
  poster.join();
  EXPECT_TRUE(seen.empty());  // nothing runs on the posting thread
  ASSERT_TRUE(WaitFor([&] { return seen.size() == 50; }));
  for (int i = 0; i < 50; ++i) EXPECT_EQ(seen[static_cast<std::size_t>(i)], i);
  EXPECT_FALSE(wrongThread);

  // A call still queued when the receiver goes is dropped with its record; a closed relay
  // refuses posts.
  EXPECT_TRUE(relay.PostConfirmation(WM_DOWNLOAD_CNF, CNF_SINGLE, SingleReport(0, 0, 50)));
  relay.Close();
  EXPECT_FALSE(relay.PostConfirmation(WM_DOWNLOAD_CNF, CNF_SINGLE, SingleReport(0, 0, 51)));
  receiver.reset();
  QCoreApplication::processEvents();
  EXPECT_EQ(seen.size(), 50u);
}

TEST(UdevEvents, OnlyUsbTtyArrivalsAndRemovalsArePortChanges) {
  const char* usbTty = "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0";
  const char* acmTty = "/devices/pci0000:00/0000:00:14.0/usb3/3-1/3-1:1.1/tty/ttyACM0";
  const char* serialTty = "/devices/pnp0/00:04/tty/ttyS0";
  EXPECT_TRUE(IsUsbPortChange("add", usbTty, false));
  EXPECT_TRUE(IsUsbPortChange("remove", acmTty, false));
  EXPECT_TRUE(IsUsbPortChange("add", serialTty, true));  // the parent chain decides first
  EXPECT_FALSE(IsUsbPortChange("change", usbTty, true));
  EXPECT_FALSE(IsUsbPortChange("add", serialTty, false));
  EXPECT_FALSE(IsUsbPortChange("add", "/devices/virtual/tty/ttyusb0", false));
}

}  // namespace
}  // namespace vornex::guitest
