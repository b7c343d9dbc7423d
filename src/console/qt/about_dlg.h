// CAboutDlg: the About box of the station window, with the application icon, the product text
// and an OK button.
#pragma once

#include <QDialog>

namespace vornex {

class CAboutDlg : public QDialog {
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace vornex
