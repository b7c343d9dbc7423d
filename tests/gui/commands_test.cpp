// The operator's commands in the station window: Start and Clear, the keys it swallows, the
// close confirmation, About, dragging the window, and device checks on port changes.
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "gui/gui_support.h"

namespace vornex::guitest {
namespace {

using CommandTest = WindowTest;

TEST_F(CommandTest, StartSendsTheSlotsAndClearEmptiesThePane) {
  CVornexDlg& window = Open("Debug=ON\r\n");
  QPushButton* start = window.Panel().StartButton();
  Confirm(CNF_CHECK_DEVICE, CheckTable({{5, 0, 1}}));
  Confirm(CNF_SINGLE, SingleReport(0, CNF_FAIL, 0));  // a result text from an earlier run
  ASSERT_TRUE(start->isEnabled());
  QString notice;
  OnNextModal([&](QWidget* modal) {
    notice = modal->windowTitle() + ": " + DialogText(modal);
    static_cast<QMessageBox*>(modal)->accept();
  });
  QTest::mouseClick(start, Qt::LeftButton);
  EXPECT_FALSE(start->isEnabled());
  EXPECT_EQ(window.Panel().Row(0).result->text(), QString());
  EXPECT_EQ(Log().rfind("@-@ START BUTTON !!>> Download Device REQ\n", 0), 0u) << Log();
  // The program folder holds no programmer: the coordinator refuses the image set, touches no
  // device, and the slot stays READY with Start offered again.
  ASSERT_TRUE(
      WaitFor([this] { return Log().find("<< Download Device CNF") != std::string::npos; }));
  EXPECT_TRUE(notice.startsWith(QStringLiteral("Attention: Image set refused: no programmer")))
      << notice.toStdString();
  EXPECT_EQ(window.Panel().Row(0).status->text(), QStringLiteral("READY"));
  EXPECT_TRUE(start->isEnabled());
  QTest::mouseClick(window.Panel().ClearButton(), Qt::LeftButton);
  EXPECT_EQ(Log(), "");
}

TEST_F(CommandTest, EscapeSpaceAndF1DoNothing) {
  CVornexDlg& window = Open("Debug=ON\r\n");
  QPushButton* start = window.Panel().StartButton();
  Confirm(CNF_CHECK_DEVICE, CheckTable({{5, 0, 1}}));
  window.activateWindow();
  start->setFocus();
  const std::string before = Log();
  for (int key : {Qt::Key_Space, Qt::Key_Escape, Qt::Key_F1}) {
    QTest::keyClick(start, static_cast<Qt::Key>(key));
    QTest::keyClick(&window, static_cast<Qt::Key>(key));
  }
  QCoreApplication::processEvents();
  EXPECT_TRUE(start->isEnabled());
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(Log(), before);
  QTest::mouseClick(start, Qt::LeftButton);  // a click still works
  EXPECT_FALSE(start->isEnabled());
}

TEST_F(CommandTest, ClosingAsksWhileASlotIsRunning) {
  CVornexDlg& window = Open();
  Confirm(CNF_CHECK_DEVICE, CheckTable({{5, 0, 1}, {6, 0, 1}}));
  Confirm(CNF_SINGLE, SingleReport(1, CNF_PROGRESS, 10));
  QString question;
  OnNextModal([&](QWidget* modal) {
    question = modal->windowTitle() + ": " + DialogText(modal);
    static_cast<QMessageBox*>(modal)->button(QMessageBox::No)->click();
  });
  EXPECT_FALSE(window.close());
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(question, QStringLiteral("Attention: Downloading Devivce, Quit Now ?"));
  OnNextModal(
      [](QWidget* modal) { static_cast<QMessageBox*>(modal)->button(QMessageBox::Yes)->click(); });
  EXPECT_TRUE(window.close());

  window.show();
  Confirm(CNF_SINGLE, SingleReport(1, CNF_PASS, 0, "", 5000));
  EXPECT_TRUE(window.close());  // nothing RUNNING: no question
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(CommandTest, AboutOpensWithAltA) {
  CVornexDlg& window = Open();
  window.activateWindow();
  QString about;
  OnNextModal([&](QWidget* modal) {
    about = modal->windowTitle() + ": " + DialogText(modal);
    modal->findChild<QPushButton*>(QStringLiteral("ok"))->click();
  });
  QTest::keyClick(&window, Qt::Key_A, Qt::AltModifier);
  EXPECT_EQ(about, QStringLiteral("About Vornex: Vornex 7300/7310 (v1.1.5.9)"));
}

TEST_F(CommandTest, DraggingTheBackgroundMovesTheWindow) {
  CVornexDlg& window = Open();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QCoreApplication::processEvents();  // the window system's own placement comes first
  const QPoint start = window.pos();
  const QPoint grip(300, 10);  // background above the rows
  const QPoint global = window.mapToGlobal(grip);
  const QPoint delta(40, 25);
  // Each event is made just before it is sent: events share their device's point record.
  const auto send = [&window](QEvent::Type type, QPoint local, QPoint at, Qt::MouseButton button,
                              Qt::MouseButtons buttons) {
    QMouseEvent event(type, QPointF(local), QPointF(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&window, &event);
  };
  send(QEvent::MouseButtonPress, grip, global, Qt::LeftButton, Qt::LeftButton);
  send(QEvent::MouseMove, grip + delta, global + delta, Qt::NoButton, Qt::LeftButton);
  send(QEvent::MouseButtonRelease, grip + delta, global + delta, Qt::LeftButton, Qt::NoButton);
  EXPECT_TRUE(WaitFor([&] { return window.pos() == start + delta; }));
}

TEST_F(CommandTest, BenchChangesAskForChecksAndABurstOfChangesGivesOne) {
  testing::TempDir bench;
  CVornexDlg& window = Open("Debug=ON\r\n", bench.path());
  testing::WriteFile(bench.File("COM3.port"), "com=3\n");
  ASSERT_TRUE(WaitFor([&] { return window.CheckAnswers() >= 2; })) << Log();
  const int answers = window.CheckAnswers();
  for (int i = 0; i < 200; ++i) window.OnPortsChanged();
  ASSERT_TRUE(WaitFor([&] { return window.CheckAnswers() >= answers + 1; })) << Log();
  QTest::qWait(100);
  EXPECT_EQ(window.CheckAnswers(), answers + 1);
}

}  // namespace
}  // namespace vornex::guitest
