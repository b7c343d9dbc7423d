// The station window's application: single-instance lock, device source, settings, window run.
#include "console/qt/vornex_app.h"

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>
#include <algorithm>
#include <cstdlib>

#include "console/qt/app_icon.h"
#include "console/qt/unattended_run.h"
#include "console/qt/vornex_dlg.h"
#include "console/qt/window_texts.h"
#include "discovery/port_enumeration.h"
#include "foundation/pacing.h"

namespace vornex {
namespace {

bool EnvSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

bool HasDisplay() {
  return EnvSet("DISPLAY") || EnvSet("WAYLAND_DISPLAY") || EnvSet("QT_QPA_PLATFORM");
}

QString InstanceLockPath() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) folder = QDir::tempPath();
  return folder + QLatin1Char('/') + QString::fromUtf8(window::kInstanceLockName) +
         QStringLiteral(".lock");
}

std::unique_ptr<QLockFile> TakeInstanceLock(const QString& path, bool* otherInstance) {
  *otherInstance = false;
  auto lock = std::make_unique<QLockFile>(path);
  lock->setStaleLockTime(0);  // stale only when its holder has ended, never by age
  if (lock->tryLock(0)) return lock;
  *otherInstance = lock->error() == QLockFile::LockFailedError;
  return nullptr;
}

int CVornexApp::Main(const char* programName, const std::vector<std::string>& args,
                     std::ostream& err) {
  std::string error;
  const auto options = ParseWindowOptions(args, &error);
  if (!options) {
    err << "vornex: " << error << '\n' << WindowUsage();
    return 2;
  }
  if (!HasDisplay()) {
    err << "vornex: no display for the station window (DISPLAY and WAYLAND_DISPLAY are not set).\n"
           "Run it on a desktop, under xvfb-run, or in the terminal with --headless.\n";
    return 2;
  }
  return Run(programName, *options);
}

int CVornexApp::Run(const char* programName, const TWindowOptions& options) {
  bool otherInstance = false;
  const std::unique_ptr<QLockFile> lock = TakeInstanceLock(InstanceLockPath(), &otherInstance);
  if (otherInstance) return 0;  // silently: the running instance stays as it is

  pacing::SetTimeScale(options.timeScale);
  if (!options.bench.empty()) {
    UseBenchDiscovery(options.bench);
  } else {
    UseSysfsDiscovery();
  }
  TWindowSetup setup;
  setup.settingsPath = options.settingsPath.empty() ? SettingsPath() : options.settingsPath;
  setup.settings = LoadSettings(setup.settingsPath);
  if (!options.imageFolder.empty()) {
    setup.settings.autoPath = false;
    setup.settings.imagePath = options.imageFolder;
  }
  setup.benchFolder = options.bench;
  setup.dataFolder = options.dataFolder;

  int argc = 1;
  char* argv[] = {const_cast<char*>(programName), nullptr};
  QApplication app(argc, argv);
  QApplication::setWindowIcon(AppIcon());

  int status = 0;
  {
    CVornexDlg window(std::move(setup));
    TUnattendedOptions unattended;
    unattended.autostart = options.autostart;
    unattended.screenshotFile = QString::fromStdString(options.screenshotFile);
    unattended.screenshotPercent = options.screenshotPercent;
    unattended.closeWhenDone = options.closeWhenDone;
    TUnattendedRun run(window, unattended);
    window.show();
    QApplication::exec();
    if (options.closeWhenDone) status = std::min(run.FailedSlots(), 255);
  }
  return status;
}

}  // namespace vornex
