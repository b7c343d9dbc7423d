// Device-change notifications for the station window: port arrivals and removals of real USB
// devices (udev) or of simulated ones (any change in the bench registry folder). A burst of
// changes, such as a hub full of devices plugged at once, is gathered into one notification a
// short settling time after its first change, so that the window stays responsive and the
// coordinator sees one device check instead of dozens.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

class QFileSystemWatcher;
class QSocketNotifier;

namespace vornex {

class TUdevTtyMonitor;

class CDeviceWatch : public QObject {
  Q_OBJECT

 public:
  // `onChange` runs on the window's thread, at most once per settling time.
  explicit CDeviceWatch(std::function<void()> onChange, QObject* parent = nullptr);
  ~CDeviceWatch() override;

  // Watches the bench registry folder (created when missing); true when it is watched.
  bool WatchBench(const QString& folder);
  // Watches udev for USB serial ports; true when the monitor is connected.
  bool WatchUdev();

  // Notes one change: starts the settling time unless it is already running.
  void NoteChange();

 private:
  std::function<void()> onChange_;
  QTimer settle_;
  QFileSystemWatcher* benchWatcher_ = nullptr;
  std::unique_ptr<TUdevTtyMonitor> udev_;
  QSocketNotifier* udevNotifier_ = nullptr;
};

}  // namespace vornex
