// CPasswordDlg, the prompt that guards the choice of the image folder: "Enter Password :", a
// masked field, OK and Cancel. Enter, Escape and the Space bar do nothing in it, so it ends only
// through OK, Cancel or the caption's close button. The password is compared exactly.
#pragma once

#include <QDialog>

#include "console/station_core.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace vornex {

class CPasswordDlg : public QDialog {
 public:
  explicit CPasswordDlg(QWidget* parent = nullptr);

  // Runs the prompt modally; the operator's outcome.
  TPasswordOutcome Ask();

  QLineEdit* Field() const { return field_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OnOk();

  QLabel* prompt_ = nullptr;
  QLineEdit* field_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

// True for the keys that the prompt and the main window swallow (Enter only where asked).
bool IsSwallowedKey(int key, bool withEnter);

}  // namespace vornex
