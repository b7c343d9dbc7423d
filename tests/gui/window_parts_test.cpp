// The parts around the station window: the single-instance lock and the hand-over of
// confirmations to the window's thread.
#include <QLockFile>
#include <QThread>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "console/exit_status.h"
#include "console/qt/confirm_relay.h"
#include "console/qt/vornex_app.h"
#include "gui/gui_support.h"

namespace vornex::guitest {
namespace {

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
  // The window mode ends at once with status 0 (a window would need a second application), and
  // says why only while the running one finishes its jobs to close.
  std::ostringstream err;
  EXPECT_EQ(CVornexApp::Run("vornex", TRunOptions{}, err), 0);
  EXPECT_EQ(err.str(), "");
  testing::WriteFile(ClosingMarkPath().toStdString(), "");
  EXPECT_EQ(CVornexApp::Run("vornex", TRunOptions{}, err), exit_status::kUnavailable);
  EXPECT_NE(err.str().find("finishing its jobs"), std::string::npos) << err.str();
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

}  // namespace
}  // namespace vornex::guitest
