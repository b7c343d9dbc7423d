// The window tests' shared parts.
#include "gui/gui_support.h"

#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <thread>

#include "foundation/text.h"

namespace vornex::guitest {
namespace {

// Owns the application object; it goes at the end of the test program's run, while Qt's own
// process-wide objects still exist.
class GuiEnvironment : public ::testing::Environment {
 public:
  QApplication& App() {
    if (!app_) {
      ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
      app_ = std::make_unique<QApplication>(argc_, argv_);
      QApplication::setQuitOnLastWindowClosed(false);
    }
    return *app_;
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[10] = "gui_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

GuiEnvironment* const g_environment = static_cast<GuiEnvironment*>(
    ::testing::AddGlobalTestEnvironment(std::make_unique<GuiEnvironment>().release()));

}  // namespace

QApplication& GuiApp() {
  return g_environment->App();
}

void OnNextModal(std::function<void(QWidget* modal)> action) {
  auto* poll = new QTimer(&GuiApp());  // deletes itself once the action ran
  QWidget* before = QApplication::activeModalWidget();
  QObject::connect(poll, &QTimer::timeout, poll, [poll, before, action = std::move(action)] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == before || !modal->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    action(modal);
  });
  poll->start(5);
}

bool WaitFor(const std::function<bool()>& condition) {
  return QTest::qWaitFor(condition, 60000);
}

TRgb TextColor(const QLabel* label) {
  return label->palette().color(QPalette::WindowText).rgb() & 0xFFFFFFu;
}

QString DialogText(QWidget* dialog) {
  QString text;
  for (const QLabel* label : dialog->findChildren<QLabel*>()) text += label->text();
  return text;
}

void WindowTest::SetUp() {
  GuiApp();
  run_.TimeScale(kTimeScale).NoDiscovery();  // no devices unless a test brings its own
  settingsPath_ = folder_.File("Vornex_730.ini");
}

void WindowTest::TearDown() {
  window_.reset();
}

CVornexDlg& WindowTest::Open(const std::string& configLines, const std::string& benchFolder) {
  testing::WriteFile(settingsPath_, "[Config]\r\n" + configLines);
  TWindowSetup setup;
  setup.station.run.settings = LoadSettings(settingsPath_);
  setup.station.run.settingsPath = settingsPath_;
  setup.station.dataFolder = folder_.File("records");
  if (!benchFolder.empty()) setup.station.run.watch = MakeBenchWatch(benchFolder);
  window_ = std::make_unique<CVornexDlg>(std::move(setup));
  window_->show();
  EXPECT_TRUE(WaitFor([this] { return window_->CheckAnswers() >= 1; }));
  return *window_;
}

void WindowTest::Confirm(std::uint32_t code, TConfirmRecord record) {
  bool posted = false;
  std::thread poster([&] {
    posted = window_->NotifyTarget().PostConfirmation(WM_DOWNLOAD_CNF, code, std::move(record));
  });
  poster.join();
  ASSERT_TRUE(posted);
  QCoreApplication::processEvents();
}

std::string WindowTest::Log() const {
  return window_->Panel().LogPane()->toPlainText().toStdString();
}

}  // namespace vornex::guitest
