// The About box.
#include "console/qt/about_dlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/qt/app_icon.h"
#include "console/window_texts.h"

namespace vornex {
namespace {
constexpr int kIconPx = 32;
}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8(window::kAboutCaption));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowIcon(AppIcon());

  auto* icon = new QLabel(this);  // children are owned by the dialog
  icon->setPixmap(AppIcon().pixmap(kIconPx, kIconPx));
  auto* text = new QLabel(QString::fromUtf8(window::kProductText), this);
  text->setObjectName(QStringLiteral("aboutText"));
  auto* ok = new QPushButton(QString::fromUtf8(window::kOk), this);
  ok->setObjectName(QStringLiteral("ok"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* top = new QHBoxLayout;
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addSpacing(12);
  top->addWidget(text, 1);
  top->addWidget(ok, 0, Qt::AlignTop);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->setContentsMargins(14, 14, 14, 14);
  setFixedSize(sizeHint());
}

}  // namespace vornex
