// The station window's panel: sizes, rows in use, controls per setting, the pixel layout, what
// confirmations posted from other threads do to the slot rows, and how a FAILED result shows.
#include <QFontMetrics>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

#include "console/window_texts.h"
#include "gui/gui_support.h"

namespace vornex::guitest {
namespace {

using SlotPanelTest = WindowTest;

TEST_F(SlotPanelTest, ThreeSlotsWithoutDebugMode) {
  CVornexDlg& window = Open("PathNumber=3\r\n");
  CSlotPanel& panel = window.Panel();
  EXPECT_EQ(window.size(), QSize(600, 282));
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Vornex 7300/7310 (v1.1.5.9)(D)"));
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const TSlotRow& row = panel.Row(slot);
    for (QWidget* part : std::initializer_list<QWidget*>{row.label, row.port, row.progress,
                                                         row.status, row.result}) {
      EXPECT_EQ(part->isVisible(), slot < 3) << "slot " << slot;
    }
  }
  EXPECT_FALSE(panel.LogPane()->isVisible());
  EXPECT_FALSE(panel.ClearButton()->isVisible());
  EXPECT_FALSE(panel.BrowseButton()->isVisible());
  EXPECT_EQ(panel.PathDisplay()->text(), QStringLiteral("[ Use Auto Path ]"));
  const TSlotRow& a = panel.Row(0);
  EXPECT_EQ(a.port->text(), QStringLiteral("( null )"));
  EXPECT_EQ(a.status->text(), QStringLiteral("EMPTY"));
  EXPECT_EQ(TextColor(a.status), 0x6F6F6Fu);
  EXPECT_FALSE(a.label->isEnabled());
  EXPECT_FALSE(panel.StartButton()->isEnabled());
  EXPECT_EQ(Log(), "");  // nothing is written to the pane without debug mode
  window_.reset();
  EXPECT_EQ(Open("PathNumber=1\r\n").size(), QSize(600, 198));
}

TEST_F(SlotPanelTest, DebugModeLayoutAndResize) {
  CVornexDlg& window = Open(
      "Debug=On\r\nPathNumber=3\r\nBrowseButton=on\r\nAutoPath=off\r\n"
      "ImagePath=/srv/images\r\n");
  CSlotPanel& panel = window.Panel();
  EXPECT_EQ(window.size(), QSize(600, 700));
  EXPECT_TRUE(panel.LogPane()->isVisible());
  EXPECT_TRUE(panel.ClearButton()->isVisible());
  EXPECT_TRUE(panel.BrowseButton()->isVisible());
  EXPECT_EQ(panel.PathDisplay()->text(), QStringLiteral("Image Path : /srv/images"));
  EXPECT_EQ(panel.PathDisplay()->palette().color(QPalette::Text).rgb() & 0xFFFFFFu, 0x7F7F7Fu);
  EXPECT_EQ(panel.StartButton()->geometry(), QRect(482, 632, 100, 50));
  EXPECT_EQ(panel.ClearButton()->geometry(), QRect(482, 564, 100, 50));
  EXPECT_EQ(panel.LogPane()->geometry(), QRect(10, 176, 445, 514));  // below slot C
  const TSlotRow& b = panel.Row(1);
  EXPECT_EQ(b.port->geometry(), QRect(88, 99, 70, 14));
  EXPECT_EQ(b.progress->geometry(), QRect(160, 92, 270, 28));
  EXPECT_EQ(b.status->geometry(), QRect(440, 97, 60, 18));
  window.resize(800, 500);
  EXPECT_EQ(panel.StartButton()->geometry(), QRect(682, 432, 100, 50));
  EXPECT_EQ(b.result->geometry(), QRect(710, 97, 72, 18));
  EXPECT_EQ(Log().rfind(">> Check Device REQ\nFind : 0 usb device(s)\n", 0), 0u) << Log();
}

TEST_F(SlotPanelTest, ConfirmationsFromWorkerThreadsChangeTheRows) {
  CSlotPanel& panel = Open("Debug=ON\r\n").Panel();
  Confirm(CNF_CHECK_DEVICE, CheckTable({{5, 0, 1}, {7, 1, 1}, {0, 0, 0}}));
  const TSlotRow& a = panel.Row(0);
  const TSlotRow& b = panel.Row(1);
  EXPECT_EQ(a.port->text(), QStringLiteral("( COM 5 )"));
  EXPECT_EQ(a.status->text(), QStringLiteral("READY"));
  EXPECT_EQ(TextColor(a.status), 0x00BFFFu);
  EXPECT_TRUE(a.label->isEnabled());
  EXPECT_EQ(b.status->text(), QStringLiteral("BUSY"));
  EXPECT_EQ(TextColor(b.status), 0xF7941Du);
  EXPECT_EQ(panel.Row(2).port->text(), QStringLiteral("( null )"));
  EXPECT_TRUE(panel.StartButton()->isEnabled());

  Confirm(CNF_SINGLE, SingleReport(0, CNF_PROGRESS, 537));
  EXPECT_EQ(a.status->text(), QStringLiteral("53.7%"));
  EXPECT_EQ(TextColor(a.status), 0x0000FFu);
  EXPECT_EQ(a.progress->value(), 537);
  Confirm(CNF_SINGLE, SingleReport(0, CNF_PASS, 0, "", 45678));
  EXPECT_EQ(a.status->text() + a.result->text(), QStringLiteral("45.7sPASS"));
  EXPECT_EQ(TextColor(a.status), 0x00A651u);
  EXPECT_EQ(TextColor(a.result), 0x00A651u);
  EXPECT_EQ(a.progress->value(), 1000);
  Confirm(CNF_SINGLE, SingleReport(1, CNF_PROGRESS, 425));
  Confirm(CNF_SINGLE, SingleReport(1, CNF_FAIL, 0, "", 900));
  EXPECT_EQ(b.status->text() + b.result->text(), QStringLiteral("42.5%FAILED"));
  EXPECT_EQ(TextColor(b.status), 0xFF0000u);
  EXPECT_EQ(TextColor(b.result), 0xFF0000u);
  Confirm(CNF_SINGLE, SingleReport(0, 6, 0));  // unknown code: logged, nothing shown
  EXPECT_EQ(a.status->text(), QStringLiteral("45.7s"));
  EXPECT_NE(Log().find("Unknow Cnf\n<< Single CNF [A][6]\n"), std::string::npos) << Log();

  Confirm(CNF_CHECK_DEVICE, CheckTable({{9, 0, 1}}));  // one device left: B onwards cleared
  EXPECT_EQ(a.port->text() + a.result->text(), QStringLiteral("( COM 9 )PASS"));
  EXPECT_EQ(b.status->text() + b.result->text(), QStringLiteral("EMPTY"));
  EXPECT_FALSE(b.label->isEnabled());
}

TEST_F(SlotPanelTest, MixedDeviceKindsAskForAttention) {
  CVornexDlg& window = Open("Debug=ON\r\n");
  QString notice;
  OnNextModal([&](QWidget* modal) {
    notice = modal->windowTitle() + ": " + DialogText(modal);
    static_cast<QMessageBox*>(modal)->accept();
  });
  Confirm(CNF_CHECK_DEVICE, CheckTable({{5, 0, 1}, {0, 0, 0}, {7, 0, 2}}));
  EXPECT_EQ(notice, QStringLiteral("Attention: NOT Same Device !"));
  EXPECT_NE(Log().find("NOT Same Device !<< Check Device CNF"), std::string::npos) << Log();
  EXPECT_TRUE(window.Panel().StartButton()->isEnabled());  // not blocked by the notice
}

// Why a slot FAILED is the tooltip of its result and progress bar, from the job's account; the
// word "FAILED" fits its column with room to spare, and the column ends as far from the window's
// edge as the buttons.
TEST_F(SlotPanelTest, AFailedResultTellsWhyAndFitsAwayFromTheEdge) {
  CVornexDlg& window = Open("PathNumber=1\r\n");
  const TSlotRow& a = window.Panel().Row(0);
  Confirm(CNF_CHECK_DEVICE, CheckTable({{5, 0, 1}}));
  Confirm(CNF_SINGLE, SingleReport(0, CNF_FAIL, 0));
  EXPECT_EQ(a.result->toolTip(), QString());  // until the account comes
  auto summary = std::make_unique<TJobSummary>();
  summary->slot = 0;
  summary->failure = "Can Not Find Device Again !";
  summary->cause = "no ports of device 5A3F after its reset";
  Confirm(CNF_JOB_SUMMARY, std::move(summary));
  const QString why =
      QStringLiteral("Can Not Find Device Again ! (no ports of device 5A3F after its reset)");
  EXPECT_EQ(a.result->text(), QStringLiteral("FAILED"));
  EXPECT_EQ(a.result->toolTip(), why);
  EXPECT_EQ(a.progress->toolTip(), why);

  constexpr int kSpareInColumnPx = 4;
  const int wordPx = QFontMetrics(a.result->font()).horizontalAdvance(a.result->text());
  EXPECT_LE(wordPx + kSpareInColumnPx, a.result->contentsRect().width());
  EXPECT_LE(a.result->geometry().right() + 1 + window::kRightMarginPx, window.width());
}

}  // namespace
}  // namespace vornex::guitest
