// The password prompt of Browse.
#include "console/qt/password_dlg.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "console/qt/slot_panel.h"
#include "console/window_texts.h"

namespace vornex {

bool IsSwallowedKey(int key, bool withEnter) {
  if (key == Qt::Key_Escape || key == Qt::Key_Space) return true;
  return withEnter && (key == Qt::Key_Return || key == Qt::Key_Enter);
}

CPasswordDlg::CPasswordDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8(window::kAttention));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(window::kPasswordWidthPx, window::kPasswordHeightPx);

  const QFont font = LargeFont();
  prompt_ = new QLabel(QString::fromUtf8(window::kEnterPassword), this);  // owned by the dialog
  field_ = new QLineEdit(this);
  field_->setObjectName(QStringLiteral("password"));
  field_->setEchoMode(QLineEdit::Password);
  ok_ = new QPushButton(QString::fromUtf8(window::kOk), this);
  ok_->setObjectName(QStringLiteral("ok"));
  cancel_ = new QPushButton(QString::fromUtf8(window::kCancel), this);
  cancel_->setObjectName(QStringLiteral("cancel"));
  for (QWidget* widget : {static_cast<QWidget*>(prompt_), static_cast<QWidget*>(field_),
                          static_cast<QWidget*>(ok_), static_cast<QWidget*>(cancel_)}) {
    widget->setFont(font);
    widget->installEventFilter(this);
  }
  // No button is the default one: Enter presses nothing.
  ok_->setAutoDefault(false);
  cancel_->setAutoDefault(false);

  const int w = window::kPasswordWidthPx;
  const int h = window::kPasswordHeightPx;
  prompt_->setGeometry(40, h / 4 - 12, w - 80, 24);
  field_->setGeometry(40, h / 2 - 18, w - 80, 24);
  ok_->setGeometry(40, 3 * h / 4 - 12, 80, 24);
  cancel_->setGeometry(w - 120, 3 * h / 4 - 12, 80, 24);
  field_->setFocus();

  connect(ok_, &QPushButton::clicked, this, [this] { OnOk(); });
  connect(cancel_, &QPushButton::clicked, this,
          [this] { done(static_cast<int>(TPasswordOutcome::kCancelled)); });
}

TPasswordOutcome CPasswordDlg::Ask() {
  field_->setFocus();
  switch (exec()) {
    case static_cast<int>(TPasswordOutcome::kAccepted):
      return TPasswordOutcome::kAccepted;
    case static_cast<int>(TPasswordOutcome::kWrongPassword):
      return TPasswordOutcome::kWrongPassword;
    default:
      return TPasswordOutcome::kCancelled;  // Cancel or the caption's close button
  }
}

void CPasswordDlg::OnOk() {
  done(static_cast<int>(IsBrowsePassword(field_->text().toStdString())
                            ? TPasswordOutcome::kAccepted
                            : TPasswordOutcome::kWrongPassword));
}

bool CPasswordDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
    if (IsSwallowedKey(static_cast<QKeyEvent*>(event)->key(), true)) return true;
  }
  return QDialog::eventFilter(watched, event);
}

void CPasswordDlg::keyPressEvent(QKeyEvent* event) {
  // QDialog would take Escape as Cancel and Enter as the default button.
  if (IsSwallowedKey(event->key(), true)) return;
  QDialog::keyPressEvent(event);
}

}  // namespace vornex
