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

CVornexDlg::CVornexDlg(TWindowSetup setup)
    : closingMark_(std::move(setup.closingMark)),
      screenshotFile_(QString::fromStdString(setup.screenshotFile)) {
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(AppIcon());
  setWindowTitle(WindowTitle());

  relay_ = std::make_unique<CConfirmRelay>(this, [this](std::uint32_t code, TConfirmRecord record) {
    HandleConfirm(code, std::move(record));
  });

  // Panel initialisation: size, position, layout, controls.
  const TStationSettings& settings = setup.station.run.settings;
  panel_ = std::make_unique<CSlotPanel>(this, settings);
  resize(InitialWindowSize(settings));
  move(0, 0);
  panel_->LayoutControls(width(), height());
  // From here on confirmations arrive as queued calls on this thread.
  core_ = std::make_unique<TStationCore>(
      std::move(setup.station), *panel_, *relay_,
      [this](const std::string& line) { Presenter().AppendLog("%s\r\n", line.c_str()); });
  core_->OnNotice([this](const std::string& text, bool showBox) { ShowNotice(text, showBox); });
  connect(panel_->StartButton(), &QPushButton::clicked, this, [this] { core_->Start(); });
  connect(panel_->ClearButton(), &QPushButton::clicked, this, [this] { core_->Clear(); });
  connect(panel_->BrowseButton(), &QPushButton::clicked, this, [this] { Browse(); });
  for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);

  auto* about = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_A), this);  // owned by the window
  about->setContext(Qt::WindowShortcut);
  connect(about, &QShortcut::activated, this, [this] { ShowAbout(); });

  tick_.setInterval(std::max<int>(
      1, static_cast<int>(
             std::chrono::duration_cast<std::chrono::milliseconds>(pacing::Scaled(kDriverTickMs))
                 .count())));
  connect(&tick_, &QTimer::timeout, this, [this] { Follow(core_->Tick()); });
  core_->Begin();
  tick_.start();
}

CVornexDlg::~CVornexDlg() {
  tick_.stop();
  relay_->Close();
  // Every thread stops after its running job (if any) has returned. One overdue is named once a
  // minute in the log pane and, as the window has closed, on standard error (the session's log
  // when started from the desktop); so is the run's last word.
  const std::string left = core_->Shutdown([this](const std::string& line) {
    Presenter().AppendLog("%s\r\n", line.c_str());
    std::cerr << "vornex: " << line << std::endl;
  });
  if (!left.empty()) std::cerr << "vornex: " << left << std::endl;
  if (!closingMark_.empty()) QFile::remove(QString::fromStdString(closingMark_));
}

void CVornexDlg::HandleConfirm(std::uint32_t code, TConfirmRecord record) {
  if (!core_->Confirm(code, std::move(record)) || screenshotFile_.isEmpty()) return;
  if (!grab().save(screenshotFile_, "PNG")) {
    const std::string error =
        "cannot save the picture of the window to " + screenshotFile_.toStdString();
    Presenter().AppendLog("%s\r\n", error.c_str());
    std::cerr << "vornex: " << error << std::endl;
  }
}

void CVornexDlg::ShowAbout() {
  CAboutDlg about(this);
  about.exec();
}

void CVornexDlg::Browse() {
  bool wrongPassword = false;
  const std::string shown = core_->Browse(
      [this] {
        CPasswordDlg prompt(this);
        return prompt.Ask();
      },
      [this] {
        const QString chosen = folderChooser_ ? folderChooser_(this) : SystemFolderChooser(this);
        return QDir::toNativeSeparators(chosen).toStdString();
      },
      &wrongPassword);
  if (wrongPassword) {
    QMessageBox::warning(this, QString::fromUtf8(window::kAttention),
                         QString::fromUtf8(window::kWrongPassword));
  }
  if (!shown.empty()) panel_->SetPathText(QString::fromStdString(shown));
}

void CVornexDlg::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->accept();
    return;
  }
  const TCloseStep step = core_->RequestClose([this] {
    return QMessageBox::question(this, QString::fromUtf8(window::kAttention),
                                 QString::fromUtf8(window::kQuitWhileRunning),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  });
  if (step == TCloseStep::kClose) {
    closing_ = true;
    event->accept();
    return;
  }
  event->ignore();
  Follow(step);
}

void CVornexDlg::Follow(TCloseStep step) {
  switch (step) {
    case TCloseStep::kStay:
      ShowTitle();
      return;
    case TCloseStep::kClose:
      if (closing_) return;
      closing_ = true;
      close();
      return;
    case TCloseStep::kWait:
      break;
  }
  if (!closingMark_.empty() && !markMade_) {
    markMade_ = true;
    QFile mark(QString::fromStdString(closingMark_));
    mark.open(QIODevice::WriteOnly);  // its existence is the message
  }
  ShowTitle();
}

void CVornexDlg::ShowTitle() {
  const std::string text = core_->TitleText();
  if (text == shownTitle_) return;
  shownTitle_ = text;
  setWindowTitle(text.empty()
                     ? WindowTitle()
                     : WindowTitle() + QStringLiteral(" - ") + QString::fromStdString(text));
}

void CVornexDlg::ShowNotice(const std::string& text, bool showBox) {
  if (core_->Settings().debugMode) panel_->AppendLogText(text + "\r\n");
  if (!showBox) return;           // said as the window goes, or nobody is there to answer
  if (endBox_) endBox_->close();  // the newer notice replaces it
  endBox_ = new QMessageBox(QMessageBox::Warning, QString::fromUtf8(window::kAttention),
                            QString::fromStdString(text), QMessageBox::Ok, this);
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
