// What the window tests share: one QApplication on the offscreen platform, acting on the modal
// dialog that a call is about to open, waits that keep the event loop running, and a fixture
// that opens the station window on a settings file of the test's own, with no devices present.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <functional>
#include <memory>
#include <string>

#include "console/qt/vornex_dlg.h"
#include "support/confirmation_sink.h"
#include "support/run_scope.h"
#include "support/temp_dir.h"

namespace vornex::guitest {

constexpr double kTimeScale = 0.05;

// The process's QApplication (offscreen platform), made on first use.
QApplication& GuiApp();
// Runs `action` on the next modal dialog that opens (from inside its event loop).
void OnNextModal(std::function<void(QWidget* modal)> action);
// Keeps the event loop running until the condition holds; false after a generous hang limit.
bool WaitFor(const std::function<bool()>& condition);
// The text colour of a label as 0xRRGGBB, and the texts of a dialog's labels.
TRgb TextColor(const QLabel* label);
QString DialogText(QWidget* dialog);

// A check result listing these devices, and one worker report.
using testing::CheckTable;
using testing::SingleReport;

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Writes the [Config] lines and opens the window; returns once the first check was answered.
  CVornexDlg& Open(const std::string& configLines = {}, const std::string& benchFolder = {});
  // Posts a confirmation from another thread, as the coordinator does, and lets it arrive.
  void Confirm(std::uint32_t code, TConfirmRecord record);
  std::string Log() const;

  testing::RunScope run_;
  testing::TempDir folder_;
  std::string settingsPath_;
  std::unique_ptr<CVornexDlg> window_;
};

}  // namespace vornex::guitest
