// The slot panel: control creation, the pixel layout and the view operations.
#include "console/qt/slot_panel.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPalette>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>

#include "console/presenter.h"
#include "console/window_texts.h"

namespace vornex {
namespace {

constexpr int kProgressMax = 1000;

QColor ToColor(TRgb rgb) {
  return QColor::fromRgb(static_cast<QRgb>(0xFF000000u | rgb));
}

void SetTextColor(QWidget* widget, QPalette::ColorRole role, TRgb rgb) {
  QPalette palette = widget->palette();
  palette.setColor(role, ToColor(rgb));
  widget->setPalette(palette);
}

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, const QFont& font) {
  auto* label = new QLabel(text, parent);  // owned by its parent window
  label->setObjectName(name);
  label->setFont(font);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

QPushButton* MakeButton(QWidget* parent, const QString& name, const char* text, const QFont& font) {
  auto* button = new QPushButton(QString::fromUtf8(text), parent);  // owned by its parent
  button->setObjectName(name);
  button->setFont(font);
  button->setAutoDefault(false);
  return button;
}

// The pane shows line ends as the operators' log has them ("\r\n"); a lone CR is dropped.
QString PaneText(const std::string& text) {
  QString pane = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  pane.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  pane.remove(QLatin1Char('\r'));
  return pane;
}

bool ValidSlot(int slot) {
  return slot >= 0 && slot < kSlotCount;
}

}  // namespace

int LastSlotInUse(const TStationSettings& settings) {
  int last = 0;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    if (settings.enabled[static_cast<std::size_t>(slot)] >= 1) last = slot + 1;
  }
  return last;
}

QSize InitialWindowSize(const TStationSettings& settings) {
  if (settings.debugMode) return {window::kWindowWidthPx, window::kDebugWindowHeightPx};
  return {window::kWindowWidthPx,
          window::kBaseHeightPx + window::kRowPitchPx * LastSlotInUse(settings)};
}

QFont CellFont(int cellPx, int weight) {
  constexpr int kReferencePx = 100;
  QFont font(QString::fromUtf8(window::kFontFamily));
  font.setStyleHint(QFont::SansSerif);
  font.setWeight(static_cast<QFont::Weight>(weight));
  font.setPixelSize(kReferencePx);
  const QFontMetricsF metrics(font);
  const qreal line = metrics.ascent() + metrics.descent();
  const int px = line > 0 ? qRound(cellPx * kReferencePx / line) : cellPx;
  font.setPixelSize(std::max(1, px));
  return font;
}

QFont LargeFont() {
  return CellFont(window::kLargeFontCellPx, window::kLargeFontWeight);
}

QFont SmallFont() {
  return CellFont(window::kSmallFontCellPx, window::kSmallFontWeight);
}

QString PathDisplayText(const TStationSettings& settings) {
  if (settings.autoPath) return QString::fromUtf8(window::kUseAutoPath);
  return QString::fromUtf8(window::kImagePathPrefix) + QString::fromStdString(settings.imagePath);
}

CSlotPanel::CSlotPanel(QWidget* window, const TStationSettings& settings)
    : window_(window), lastSlotInUse_(LastSlotInUse(settings)) {
  const QFont large = LargeFont();
  const QFont small = SmallFont();

  pathDisplay_ = new QLineEdit(PathDisplayText(settings), window);  // owned by the window
  pathDisplay_->setObjectName(QStringLiteral("pathDisplay"));
  pathDisplay_->setReadOnly(true);
  pathDisplay_->setFrame(false);
  pathDisplay_->setFocusPolicy(Qt::NoFocus);
  pathDisplay_->setFont(small);
  {
    // A read-only field on the window's own background, its text in grey.
    QPalette palette = pathDisplay_->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    palette.setColor(QPalette::Text, ToColor(slot_color::kPathDisplay));
    pathDisplay_->setPalette(palette);
  }

  browse_ = MakeButton(window, QStringLiteral("browse"), window::kBrowse, small);
  browse_->setVisible(settings.browseButton);

  for (int slot = 0; slot < kSlotCount; ++slot) {
    TSlotRow& row = rows_[static_cast<std::size_t>(slot)];
    const QChar letter(QLatin1Char(static_cast<char>('A' + slot)));
    const QString index = QString::number(slot);
    row.label = MakeLabel(window, QStringLiteral("label") + index,
                          QStringLiteral("Device ") + letter, large);
    row.port = MakeLabel(window, QStringLiteral("port") + index,
                         QStringLiteral("(COM ") + letter + QLatin1Char(')'), small);
    row.progress = new QProgressBar(window);  // owned by the window
    row.progress->setObjectName(QStringLiteral("progress") + index);
    row.progress->setRange(0, kProgressMax);
    row.progress->setTextVisible(false);
    row.status = MakeLabel(window, QStringLiteral("status") + index,
                           QStringLiteral("Status ") + letter, large);
    row.result = MakeLabel(window, QStringLiteral("result") + index,
                           QStringLiteral("Info ") + letter, large);
    const bool inUse = settings.enabled[static_cast<std::size_t>(slot)] >= 1;
    for (QWidget* widget : {static_cast<QWidget*>(row.label), static_cast<QWidget*>(row.port),
                            static_cast<QWidget*>(row.progress), static_cast<QWidget*>(row.status),
                            static_cast<QWidget*>(row.result)}) {
      widget->setVisible(inUse);
    }
  }

  start_ = MakeButton(window, QStringLiteral("start"), window::kStart, large);
  start_->setEnabled(false);
  clear_ = MakeButton(window, QStringLiteral("clear"), window::kClear, large);
  clear_->setVisible(settings.debugMode);

  logPane_ = new QPlainTextEdit(window);  // owned by the window
  logPane_->setObjectName(QStringLiteral("logPane"));
  logPane_->setReadOnly(true);
  logPane_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  logPane_->setVisible(settings.debugMode);
}

void CSlotPanel::LayoutControls(int width, int height) {
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const TSlotRow& row = rows_[static_cast<std::size_t>(slot)];
    const int y = 55 + window::kRowPitchPx * slot;
    row.label->setGeometry(10, y, 70, 18);
    row.port->setGeometry(88, y + 2, 70, 14);
    const int resultLeft = width - window::kRightMarginPx - window::kResultWidthPx;
    const int statusLeft = resultLeft - window::kRowGapPx - window::kStatusWidthPx;
    row.progress->setGeometry(window::kProgressLeftPx, y - 5,
                              statusLeft - window::kRowGapPx - window::kProgressLeftPx, 28);
    row.status->setGeometry(statusLeft, y, window::kStatusWidthPx, 18);
    row.result->setGeometry(resultLeft, y, window::kResultWidthPx, 18);
  }
  start_->setGeometry(width - 118, height - 68, 100, 50);
  clear_->setGeometry(width - 118, height - 136, 100, 50);
  pathDisplay_->setGeometry(10, 18, width - 155, 24);
  browse_->setGeometry(width - 118, 12, 100, 24);
  const int paneTop = window::kRowPitchPx * lastSlotInUse_ + 50;
  logPane_->setGeometry(10, paneTop, width - 155, height - paneTop - 10);
}

void CSlotPanel::SetPathText(const QString& text) {
  pathDisplay_->setText(text);
}

void CSlotPanel::SetPortText(int slot, const std::string& text) {
  if (!ValidSlot(slot)) return;
  Row(slot).port->setText(QString::fromStdString(text));
}

void CSlotPanel::SetStatusText(int slot, SlotState /*state*/, const std::string& text, TRgb color) {
  if (!ValidSlot(slot)) return;
  QLabel* status = Row(slot).status;
  SetTextColor(status, QPalette::WindowText, color);
  status->setText(QString::fromStdString(text));
}

void CSlotPanel::SetResultText(int slot, const std::string& text, TRgb color) {
  if (!ValidSlot(slot)) return;
  QLabel* result = Row(slot).result;
  SetTextColor(result, QPalette::WindowText, color);
  result->setText(QString::fromStdString(text));
}

void CSlotPanel::SetResultReason(int slot, const std::string& reason) {
  if (!ValidSlot(slot)) return;
  const QString tip = QString::fromStdString(reason);
  Row(slot).result->setToolTip(tip);
  Row(slot).progress->setToolTip(tip);
}

void CSlotPanel::SetProgress(int slot, int value) {
  if (!ValidSlot(slot)) return;
  Row(slot).progress->setValue(std::clamp(value, 0, kProgressMax));
}

void CSlotPanel::SetSlotEnabled(int slot, bool enabled) {
  if (!ValidSlot(slot)) return;
  const TSlotRow& row = Row(slot);
  row.label->setEnabled(enabled);
  row.port->setEnabled(enabled);
  row.progress->setEnabled(enabled);
}

void CSlotPanel::SetStartEnabled(bool enabled) {
  start_->setEnabled(enabled);
}

void CSlotPanel::AppendLogText(const std::string& text) {
  logPane_->moveCursor(QTextCursor::End);
  logPane_->insertPlainText(PaneText(text));
  logPane_->moveCursor(QTextCursor::End);
  logPane_->ensureCursorVisible();
}

void CSlotPanel::ClearLogText() {
  logPane_->clear();
}

void CSlotPanel::ShowNotice(const std::string& text, const std::string& caption) {
  QMessageBox::warning(window_, QString::fromStdString(caption), QString::fromStdString(text));
}

}  // namespace vornex
