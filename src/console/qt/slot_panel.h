// The slot panel of the station window: eight rows (label, port text, progress bar, status word,
// result text), the image path display, Browse, Start, Clear and the log pane, all placed at
// fixed pixel positions computed from the window's client size. It is the window's
// TConsoleView: the console presenter changes texts, colours and bars only through it. Why a
// slot FAILED is the tooltip of its result text and of its progress bar.
#pragma once

#include <QFont>
#include <QSize>
#include <QString>
#include <array>
#include <string>

#include "console/console_view.h"
#include "foundation/settings.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QWidget;

namespace vornex {

// The widgets of one slot row.
struct TSlotRow {
  QLabel* label = nullptr;
  QLabel* port = nullptr;
  QProgressBar* progress = nullptr;
  QLabel* status = nullptr;
  QLabel* result = nullptr;
};

// The number (1..8, A = 1) of the last slot in use; 0 when none is.
int LastSlotInUse(const TStationSettings& settings);

// The window's initial client size: 600 x 700 in debug mode, else 600 x (156 + 42 n).
QSize InitialWindowSize(const TStationSettings& settings);

// The large and small fonts of the window: Arial bold with lines 18 px high, and Arial thin
// with lines 15 px high (pixel sizes of about 16 and 13).
QFont LargeFont();
QFont SmallFont();

// The image path display's text: "[ Use Auto Path ]" or "Image Path : <path>".
QString PathDisplayText(const TStationSettings& settings);

class CSlotPanel final : public TConsoleView {
 public:
  // Creates every control as a child of the window, with its font, range and visibility.
  CSlotPanel(QWidget* window, const TStationSettings& settings);

  // Places every control from the client size (width, height); called after every resize.
  void LayoutControls(int width, int height);

  void SetPathText(const QString& text);

  // TConsoleView.
  void SetPortText(int slot, const std::string& text) override;
  void SetStatusText(int slot, SlotState state, const std::string& text, TRgb color) override;
  void SetResultText(int slot, const std::string& text, TRgb color) override;
  void SetResultReason(int slot, const std::string& reason) override;
  void SetProgress(int slot, int value) override;
  void SetSlotEnabled(int slot, bool enabled) override;
  void SetStartEnabled(bool enabled) override;
  void AppendLogText(const std::string& text) override;
  void ClearLogText() override;
  void ShowNotice(const std::string& text, const std::string& caption) override;

  const TSlotRow& Row(int slot) const { return rows_.at(static_cast<std::size_t>(slot)); }
  QPushButton* StartButton() const { return start_; }
  QPushButton* ClearButton() const { return clear_; }
  QPushButton* BrowseButton() const { return browse_; }
  QLineEdit* PathDisplay() const { return pathDisplay_; }
  QPlainTextEdit* LogPane() const { return logPane_; }

 private:
  QWidget* window_;
  int lastSlotInUse_;
  std::array<TSlotRow, kSlotCount> rows_{};
  QPushButton* start_ = nullptr;
  QPushButton* clear_ = nullptr;
  QPushButton* browse_ = nullptr;
  QLineEdit* pathDisplay_ = nullptr;
  QPlainTextEdit* logPane_ = nullptr;
};

}  // namespace vornex
