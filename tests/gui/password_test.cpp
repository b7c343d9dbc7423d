// The password prompt and Browse: the exact password, the keys that cannot end the prompt, the
// "Wrong Password !" notice, and what a chosen folder changes (display, next Start, settings).
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "console/qt/password_dlg.h"
#include "foundation/profile.h"
#include "gui/gui_support.h"

namespace vornex::guitest {
namespace {

// Runs the prompt with `drive` acting on it; the outcome.
TPasswordOutcome RunPrompt(const std::function<void(CPasswordDlg&)>& drive) {
  GuiApp();
  CPasswordDlg prompt;
  OnNextModal([&](QWidget*) { drive(prompt); });
  return prompt.Ask();
}

// Types the text and clicks OK.
std::function<void(CPasswordDlg&)> Answer(const char* text) {
  return [text](CPasswordDlg& p) {
    p.Field()->setText(QString::fromUtf8(text));
    QTest::mouseClick(p.OkButton(), Qt::LeftButton);
  };
}

TEST(PasswordPrompt, OutcomesOfOkCancelAndClose) {
  EXPECT_EQ(RunPrompt(Answer("5927")), TPasswordOutcome::kAccepted);
  for (const char* wrong : {"", "5927 ", " 5927", "59270"}) {
    EXPECT_EQ(RunPrompt(Answer(wrong)), TPasswordOutcome::kWrongPassword) << wrong;
  }
  EXPECT_EQ(RunPrompt([](CPasswordDlg& p) {
              p.Field()->setText(QStringLiteral("5927"));
              QTest::mouseClick(p.CancelButton(), Qt::LeftButton);
            }),
            TPasswordOutcome::kCancelled);
  EXPECT_EQ(RunPrompt([](CPasswordDlg& p) { p.close(); }), TPasswordOutcome::kCancelled);
}

TEST(PasswordPrompt, EnterEscapeAndSpaceCannotEndIt) {
  bool stillOpen = false;
  QString typed;
  const TPasswordOutcome outcome = RunPrompt([&](CPasswordDlg& p) {
    EXPECT_EQ(p.windowTitle(), QStringLiteral("Attention"));
    EXPECT_EQ(p.Field()->echoMode(), QLineEdit::Password);
    QTest::keyClicks(p.Field(), "59 27");  // the space is swallowed
    for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
      QTest::keyClick(p.Field(), static_cast<Qt::Key>(key));
    }
    p.OkButton()->setFocus();
    QTest::keyClick(p.OkButton(), Qt::Key_Space);
    QCoreApplication::processEvents();
    stillOpen = p.isVisible();
    typed = p.Field()->text();
    QTest::mouseClick(p.OkButton(), Qt::LeftButton);
  });
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(typed, QStringLiteral("5927"));
  EXPECT_EQ(outcome, TPasswordOutcome::kAccepted);
}

TEST(ImageFolder, OneTrailingSeparatorIsRemovedButARootStays) {
  EXPECT_EQ(ImageFolderPath("/srv/images/"), "/srv/images");
  EXPECT_EQ(ImageFolderPath("/srv/images//"), "/srv/images/");
  EXPECT_EQ(ImageFolderPath("/"), "/");
}

class BrowseTest : public WindowTest {
 protected:
  // Clicks Browse, answers the prompt with `password`, then runs `afterPrompt` on the next dialog.
  void BrowseWith(const char* password, std::function<void(QWidget*)> afterPrompt = {}) {
    OnNextModal([password, afterPrompt](QWidget* modal) {
      if (afterPrompt) OnNextModal(afterPrompt);
      Answer(password)(*static_cast<CPasswordDlg*>(modal));
    });
    QTest::mouseClick(window_->Panel().BrowseButton(), Qt::LeftButton);
  }
  std::string StoredPath() const {
    return profile::ReadString(settingsPath_, "Config", "ImagePath");
  }
};

TEST_F(BrowseTest, RightPasswordChoosesTheFolderForDisplayStartAndSettings) {
  CVornexDlg& window = Open("BrowseButton=ON\r\n");
  window.SetFolderChooser([](QWidget*) { return QStringLiteral("/srv/images/batch7/"); });
  BrowseWith("5927");
  EXPECT_EQ(window.Panel().PathDisplay()->text(),
            QStringLiteral("Image Path : /srv/images/batch7"));
  EXPECT_EQ(window.Presenter().Settings().imagePath, "/srv/images/batch7");
  EXPECT_TRUE(window.Presenter().Settings().autoPath);  // unchanged
  EXPECT_EQ(StoredPath(), "/srv/images/batch7");

  window.SetFolderChooser([](QWidget*) { return QString(); });  // cancelled: no change
  BrowseWith("5927");
  EXPECT_EQ(window.Panel().PathDisplay()->text(),
            QStringLiteral("Image Path : /srv/images/batch7"));
}

TEST_F(BrowseTest, WrongPasswordSaysSoAndChoosesNothing) {
  CVornexDlg& window = Open("BrowseButton=ON\r\n");
  int asked = 0;
  window.SetFolderChooser([&](QWidget*) { return ++asked, QStringLiteral("/srv/other"); });
  QString notice;
  BrowseWith("1234", [&](QWidget* box) {
    notice = box->windowTitle() + ": " + DialogText(box);
    static_cast<QMessageBox*>(box)->accept();
  });
  EXPECT_EQ(notice, QStringLiteral("Attention: Wrong Password !"));
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(window.Panel().PathDisplay()->text(), QStringLiteral("[ Use Auto Path ]"));
  EXPECT_EQ(StoredPath(), "");
}

}  // namespace
}  // namespace vornex::guitest
