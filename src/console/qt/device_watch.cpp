// Device-change notifications: bench registry watch, udev monitor, settling timer.
#include "console/qt/device_watch.h"

#include <QDir>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <chrono>

#include "console/qt/udev_monitor.h"
#include "console/qt/window_texts.h"
#include "foundation/pacing.h"

namespace vornex {

CDeviceWatch::CDeviceWatch(std::function<void()> onChange, QObject* parent)
    : QObject(parent), onChange_(std::move(onChange)) {
  settle_.setSingleShot(true);
  settle_.setInterval(std::chrono::duration_cast<std::chrono::milliseconds>(
      pacing::Scaled(window::kHotplugSettleMs)));
  connect(&settle_, &QTimer::timeout, this, [this] {
    if (onChange_) onChange_();
  });
}

CDeviceWatch::~CDeviceWatch() = default;

bool CDeviceWatch::WatchBench(const QString& folder) {
  if (!QDir().mkpath(folder)) return false;
  if (benchWatcher_ == nullptr) {
    benchWatcher_ = new QFileSystemWatcher(this);  // owned by this watch
    connect(benchWatcher_, &QFileSystemWatcher::directoryChanged, this, [this] { NoteChange(); });
  }
  return benchWatcher_->addPath(folder) || benchWatcher_->directories().contains(folder);
}

bool CDeviceWatch::WatchUdev() {
  if (udevNotifier_ != nullptr) return true;
  auto monitor = std::make_unique<TUdevTtyMonitor>();
  if (!monitor->Open()) return false;
  udev_ = std::move(monitor);
  udevNotifier_ = new QSocketNotifier(udev_->Fd(), QSocketNotifier::Read, this);  // owned here
  connect(udevNotifier_, &QSocketNotifier::activated, this, [this] {
    if (udev_->ReadEvent()) NoteChange();
  });
  return true;
}

void CDeviceWatch::NoteChange() {
  if (!settle_.isActive()) settle_.start();
}

}  // namespace vornex
