// The station window's application: display check, single-instance lock, run setup, window run.
#include "console/qt/vornex_app.h"

#include <xcb/xcb.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QStandardPaths>
#include <algorithm>
#include <cstdlib>

#include "console/exit_status.h"
#include "console/qt/app_icon.h"
#include "console/qt/vornex_dlg.h"
#include "console/run_driver.h"
#include "console/window_texts.h"
#include "foundation/stop_signal.h"

namespace vornex {
namespace {

std::string EnvValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// True when the X display answers (Qt would end the process with an abort when it does not).
bool XDisplayAnswers() {
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const bool answers = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return answers;
}

}  // namespace

std::string DisplayProblem() {
  if (!EnvValue("QT_QPA_PLATFORM").empty() || !EnvValue("WAYLAND_DISPLAY").empty()) return {};
  const std::string display = EnvValue("DISPLAY");
  if (display.empty()) {
    return "no display for the station window (DISPLAY and WAYLAND_DISPLAY are not set).\n"
           "Run it on a desktop, under xvfb-run, or in the terminal with --headless.";
  }
  if (!XDisplayAnswers()) {
    return "the display DISPLAY=" + display +
           " does not answer.\nRun it on a desktop, under xvfb-run, or in the terminal with "
           "--headless.";
  }
  return {};
}

QString InstanceLockPath() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) folder = QDir::tempPath();
  return folder + QLatin1Char('/') + QString::fromUtf8(window::kInstanceLockName) +
         QStringLiteral(".lock");
}

QString ClosingMarkPath() {
  return InstanceLockPath() + QStringLiteral(".closing");
}

std::unique_ptr<QLockFile> TakeInstanceLock(const QString& path, bool* otherInstance) {
  *otherInstance = false;
  auto lock = std::make_unique<QLockFile>(path);
  lock->setStaleLockTime(0);  // stale only when its holder has ended, never by age
  if (lock->tryLock(0)) return lock;
  *otherInstance = lock->error() == QLockFile::LockFailedError;
  return nullptr;
}

int CVornexApp::Main(const char* programName, const TRunOptions& options, std::ostream& err) {
  if (const std::string problem = DisplayProblem(); !problem.empty()) {
    err << "vornex: " << problem << '\n';
    return exit_status::kUnavailable;
  }
  return Run(programName, options, err);
}

int CVornexApp::Run(const char* programName, const TRunOptions& options, std::ostream& err) {
  bool otherInstance = false;
  std::unique_ptr<QLockFile> lock = TakeInstanceLock(InstanceLockPath(), &otherInstance);
  if (otherInstance) {
    // Silently, unless the running instance is on its way out: then a word on why nothing opens.
    if (!QFile::exists(ClosingMarkPath())) return 0;
    err << "vornex: the running station is finishing its jobs and closing; start it again when "
           "it has closed.\n";
    return exit_status::kUnavailable;
  }

  TWindowSetup setup;
  setup.station = {PrepareRun(options), options.dataFolder, true, RestoreOptionsOf(options),
                   options.closeWhenDone};
  setup.closingMark = ClosingMarkPath().toStdString();
  if (!options.screenshotFile.empty()) {
    setup.screenshotFile = options.screenshotFile;
    setup.station.screenshotPercent = options.screenshotPercent;
  }
  CatchStopSignals();

  int argc = 1;
  char* argv[] = {const_cast<char*>(programName), nullptr};
  QApplication app(argc, argv);
  QApplication::setWindowIcon(AppIcon());

  int status = 0;
  {
    CVornexDlg window(std::move(setup));
    window.show();
    QApplication::exec();
    if (options.closeWhenDone) status = window.Driver().ExitStatus();
  }
  // The window has gone and every thread with it, each after its job had ended: only now may a
  // new start take over the devices.
  lock.reset();
  return status;
}

}  // namespace vornex
