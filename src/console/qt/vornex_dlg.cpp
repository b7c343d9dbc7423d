// The station window: construction, confirmations, commands and window-level behaviour.
#include "console/qt/vornex_dlg.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QShortcut>
#include <QStandardPaths>
#include <QWindow>
#include <chrono>
#include <iostream>

#include "console/qt/about_dlg.h"
#include "console/qt/app_icon.h"
#include "console/qt/password_dlg.h"
#include "console/station_records.h"
#include "console/window_texts.h"
#include "foundation/pacing.h"
#include "foundation/text.h"

namespace vornex {
namespace {

QString SystemFolderChooser(QWidget* parent) {
  return QFileDialog::getExistingDirectory(
      parent, QString::fromUtf8(window::kSelectImageFolder),
      QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
}

// Escape, Space and F1 do nothing anywhere in the main window.
bool IsWindowSwallowedKey(int key) {
  return key == Qt::Key_F1 || IsSwallowedKey(key, false);
}

}  // namespace

QString WindowTitle() {
  return QString::fromUtf8(window::kProductText) + QString::fromUtf8(window::kTitleSuffix);
}

QString ImageFolderPath(const QString& chosen) {
  QString path = QDir::toNativeSeparators(chosen);
  const QChar separator = QDir::separator();
  if (path.size() > 1 && path.endsWith(separator)) path.chop(1);
  return path;
}

CVornexDlg::CVornexDlg(TWindowSetup setup)
    : settingsPath_(std::move(setup.settingsPath)),
      restoreOptions_(std::move(setup.restore)),
      closingMark_(std::move(setup.closingMark)) {
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(AppIcon());
  setWindowTitle(WindowTitle());

  relay_ = std::make_unique<CConfirmRelay>(this, [this](std::uint32_t code, TConfirmRecord record) {
    HandleConfirm(code, std::move(record));
  });
  coordinator_ = std::make_unique<TMdlThread>();
  store_ = OpenStationRecords(setup.dataFolder, setup.settings, &recordsNotice_);
  if (store_) recordsNotice_ = OpenBackupsNotice(*store_, restoreOptions_);
  coordinator_->SetRecordStore(store_.get(), setup.settings.verifyIdentity,
                               setup.settings.flashBlankDevices);
  for (const std::string& warning : setup.warnings) {
    recordsNotice_ = recordsNotice_.empty() ? warning : recordsNotice_ + "\n" + warning;
  }

  // Panel initialisation: size, position, layout, controls.
  panel_ = std::make_unique<CSlotPanel>(this, setup.settings);
  resize(InitialWindowSize(setup.settings));
  move(0, 0);
  panel_->LayoutControls(width(), height());
  presenter_ = std::make_unique<TConsolePresenter>(*panel_, *coordinator_, setup.settings);
  presenter_->OnBatchEnded([this] { TellWhatIsLeft(); });
  connect(panel_->StartButton(), &QPushButton::clicked, this, [this] { presenter_->Start(); });
  connect(panel_->ClearButton(), &QPushButton::clicked, this, [this] { presenter_->Clear(); });
  connect(panel_->BrowseButton(), &QPushButton::clicked, this, [this] { Browse(); });
  for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);

  auto* about = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_A), this);  // owned by the window
  about->setContext(Qt::WindowShortcut);
  connect(about, &QShortcut::activated, this, [this] { ShowAbout(); });

  // From here on confirmations arrive as queued calls on this thread.
  coordinator_->SetNotifyAll(relay_.get(), WM_DOWNLOAD_CNF);
  presenter_->InitPanel();

  driver_ = std::make_unique<TRunDriver>(
      *presenter_, *coordinator_, setup.plan, std::move(setup.watch),
      [this](const std::string& line) { presenter_->AppendLog("%s\r\n", line.c_str()); });
  tick_.setInterval(std::max<int>(
      1, static_cast<int>(
             std::chrono::duration_cast<std::chrono::milliseconds>(pacing::Scaled(kDriverTickMs))
                 .count())));
  connect(&tick_, &QTimer::timeout, this, [this] {
    driver_->Tick();
    // A stop from outside (an interrupt or termination request) closes the window safely.
    if (driver_->Stopping() && !finishing_ && !stopClosing_) {
      stopClosing_ = true;
      if (!BeginFinishing()) close();
    }
  });
  driver_->Begin();
  tick_.start();

  finishTimer_.setInterval(window::kFinishingPollMs);
  connect(&finishTimer_, &QTimer::timeout, this, [this] { UpdateFinishing(); });

  if (!recordsNotice_.empty()) {
    presenter_->AppendLog("%s\r\n", recordsNotice_.c_str());
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromUtf8(window::kAttention),
                                QString::fromStdString(recordsNotice_), QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();  // not modal to the run: the station goes on checking devices meanwhile
  }
}

CVornexDlg::~CVornexDlg() {
  tick_.stop();
  relay_->Close();
  // The coordinator's thread and the workers' from H back to A stop, each after its running job
  // (if any) has returned; then the coordinator releases its search device. One overdue is named
  // once a minute in the log pane and, as the window has closed, on standard error (the
  // session's log when started from the desktop).
  driver_->StopThreads([this](const std::string& line) {
    presenter_->AppendLog("%s\r\n", line.c_str());
    std::cerr << "vornex: " << line << std::endl;
  });
  coordinator_.reset();
  // The run's last word, on standard error as the window has gone.
  if (const std::string left = store_ ? OpenBackupsNotice(*store_, restoreOptions_) : "";
      !left.empty()) {
    std::cerr << "vornex: " << left << std::endl;
  }
  if (!closingMark_.empty()) QFile::remove(QString::fromStdString(closingMark_));
}

void CVornexDlg::HandleConfirm(std::uint32_t code, TConfirmRecord record) {
  if (observer_ != nullptr) observer_->BeforeConfirm(code, record);
  driver_->Confirm(code, std::move(record));
  if (observer_ != nullptr) observer_->AfterConfirm(code);
}

void CVornexDlg::ShowAbout() {
  CAboutDlg about(this);
  about.exec();
}

void CVornexDlg::Browse() {
  {
    CPasswordDlg prompt(this);
    switch (prompt.Ask()) {
      case PasswordOutcome::kWrongPassword:
        QMessageBox::warning(this, QString::fromUtf8(window::kAttention),
                             QString::fromUtf8(window::kWrongPassword));
        return;
      case PasswordOutcome::kCancelled:
        return;
      case PasswordOutcome::kAccepted:
        break;
    }
  }
  const QString chosen = folderChooser_ ? folderChooser_(this) : SystemFolderChooser(this);
  if (chosen.isEmpty()) return;
  const QString path = ImageFolderPath(chosen);
  panel_->SetPathText(QString::fromUtf8(window::kImagePathPrefix) + path);
  presenter_->SetImagePath(path.toStdString());
  // A failed write is not reported: the path still applies to this run.
  WriteImagePath(settingsPath_.empty() ? SettingsPath() : settingsPath_, path.toStdString());
}

void CVornexDlg::closeEvent(QCloseEvent* event) {
  if (finishing_ || driver_->Stopping()) {
    // Closed by UpdateFinishing once no job runs; until then a close only waits.
    if (coordinator_->BusyWorkers() == 0 && coordinator_->IdleFlag() == 1) {
      event->accept();
    } else {
      event->ignore();
      if (!finishing_) BeginFinishing();
    }
    return;
  }
  if (presenter_->AnySlotRunning()) {
    const auto answer = QMessageBox::question(this, QString::fromUtf8(window::kAttention),
                                              QString::fromUtf8(window::kQuitWhileRunning),
                                              QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes) {
      event->ignore();
      return;
    }
    if (BeginFinishing()) {
      event->ignore();
      return;
    }
  }
  // No job runs (one that just ended may still be releasing its device: the coordinator waits
  // for it when the window goes).
  event->accept();
}

bool CVornexDlg::BeginFinishing() {
  driver_->Stop();
  if (coordinator_->BusyWorkers() == 0 && coordinator_->IdleFlag() == 1) return false;
  // The window stays until every job has reached a safe point and ended.
  finishing_ = true;
  if (!closingMark_.empty()) {
    QFile mark(QString::fromStdString(closingMark_));
    mark.open(QIODevice::WriteOnly);  // its existence is the message
  }
  UpdateFinishing();
  finishTimer_.start();
  return true;
}

void CVornexDlg::UpdateFinishing() {
  const int busy = coordinator_->BusyWorkers();
  if (busy == 0 && coordinator_->IdleFlag() == 1) {
    if (finishTimer_.isActive()) {
      finishTimer_.stop();
      close();
    }
    return;
  }
  QString title = WindowTitle() + QStringLiteral(" - ") +
                  QString::fromStdString(FormatBounded(64, window::kFinishingJobs, busy));
  if (!driver_->OverdueNotice().empty()) {
    title += QStringLiteral(" - ") + QString::fromStdString(driver_->OverdueNotice());
  }
  setWindowTitle(title);
}

void CVornexDlg::TellWhatIsLeft() {
  endNotice_ = store_ ? OpenBackupsNotice(*store_, restoreOptions_) : std::string();
  if (endNotice_.empty()) return;
  if (presenter_->Settings().debugMode) panel_->AppendLogText(endNotice_ + "\r\n");
  if (finishing_ || stopClosing_ || driver_->Stopping()) return;  // said as the window goes
  if (endBox_) endBox_->close();                                  // the newer notice replaces it
  endBox_ = new QMessageBox(QMessageBox::Warning, QString::fromUtf8(window::kAttention),
                            QString::fromStdString(endNotice_), QMessageBox::Ok, this);
  endBox_->setAttribute(Qt::WA_DeleteOnClose);
  endBox_->setWindowModality(Qt::NonModal);
  endBox_->show();  // the station goes on while it is open
}

void CVornexDlg::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  panel_->LayoutControls(width(), height());
}

void CVornexDlg::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction(QString::fromUtf8(window::kAboutItem), this, [this] { ShowAbout(); });
  menu.exec(event->globalPos());
}

void CVornexDlg::keyPressEvent(QKeyEvent* event) {
  if (IsWindowSwallowedKey(event->key())) return;
  QWidget::keyPressEvent(event);
}

void CVornexDlg::keyReleaseEvent(QKeyEvent* event) {
  if (IsWindowSwallowedKey(event->key())) return;
  QWidget::keyReleaseEvent(event);
}

void CVornexDlg::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  // The window system moves the window where it can; elsewhere the window follows the mouse.
  if (windowHandle() != nullptr && windowHandle()->startSystemMove()) return;
  dragging_ = true;
  dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void CVornexDlg::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_ && (event->buttons() & Qt::LeftButton)) {
    move(event->globalPosition().toPoint() - dragOffset_);
    return;
  }
  QWidget::mouseMoveEvent(event);
}

void CVornexDlg::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) dragging_ = false;
  QWidget::mouseReleaseEvent(event);
}

bool CVornexDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
    if (IsWindowSwallowedKey(static_cast<QKeyEvent*>(event)->key())) return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace vornex
