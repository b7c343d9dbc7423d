// The whole station against a simulated bench, for the end-to-end tests: the real coordinator
// with its eight workers and the console logic, driven on the test thread the way the headless
// front-end drives them (confirmations queued by a notification target, handled one at a time),
// an in-process bench of simulated devices on pseudo-terminals, and real files in a temporary
// folder: an Intel HEX programmer, a tagged flash image and the image folder's item switches.
//
// Every test runs at a small time scale; the limits below are real-time guards against hangs,
// never expectations about speed.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/confirmation_queue.h"
#include "console/fake_view.h"
#include "console/station_core.h"
#include "sim/sim_bench.h"
#include "store/station_store.h"
#include "support/image_files.h"
#include "support/run_scope.h"
#include "support/temp_dir.h"

namespace vornex::e2e {

// A 13000 ms reboot wait takes 650 ms; a 5000 ms read limit 250 ms.
constexpr double kTimeScale = 0.05;
// Hang guards (real time): a check, and a whole batch with every fault at once.
constexpr std::chrono::seconds kCheckLimit{60};
constexpr std::chrono::seconds kBatchLimit{240};
// Bound on waits for a simulated device to leave or come back (pacing clock).
constexpr std::uint32_t kPresenceLimitMs = 200000;

constexpr std::uint32_t kProgrammerAddress = 0x00200000;
constexpr std::size_t kProgrammerBytes = 3 * 1017 + 211;  // three full blocks and a partial one
constexpr std::size_t kImageBytes = 40 * 1024 + 300;      // the last stream block is partial
constexpr const char* kImageTag = "VX730-R1.2.0";
// Newer than the image: a device running it refuses the downgrade.
constexpr const char* kNewerFirmware = "VX730-R9.0.0";

using testing::IntelHexText;
using testing::PatternBytes;
// The programmer of every test (the simulated devices expect exactly this one).
sim::TProgrammerImage TestProgrammer();

// The image folder of a run, as written to disk.
struct ImageFolder {
  std::string folder;
  TByteVector image;   // nor.mbn
  std::string sha256;  // of the image, lower-case hex
};
// Writes the programmer (.hex), nor.mbn of imageBytes ending with kImageTag, and Vornex_730.ini
// with the item switches into the folder.
ImageFolder WriteImageFolder(const std::string& folder, bool itemAt, bool itemNv,
                             std::size_t imageBytes = kImageBytes);

// One worker report as the console received it.
struct SlotReport {
  std::int32_t code = 0;
  std::int32_t progress = 0;
  std::string text;
};
using SlotReports = std::vector<SlotReport>;

// The station: coordinator, workers and console logic on a recording view.
class Station {
 public:
  // Debug mode on (the log pane is kept), image folder as given, all eight slots in use, the
  // station records in dataFolder (none: jobs cannot commit their backups).
  Station(const std::string& imageFolder, const std::string& dataFolder,
          bool verifyIdentity = true);
  // Stops every thread, then releases the station.
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Asks for a device check as soon as no thread is busy and handles confirmations until its
  // answer arrives; the answer (an empty table, with a test failure, when none came).
  TDeviceTable Check();
  // Presses Start and handles confirmations until every job that started has ended and every
  // thread is idle again; the download answer (an empty one, with a failure, when none came).
  TDownloadCnf RunBatch();
  // The two halves of RunBatch: Start alone, then handling confirmations until it has ended.
  void PressStart();
  TDownloadCnf FinishBatch();

  // The account of the last batch's job of a slot; none when no job ended there.
  const std::optional<TJobSummary>& Summary(int slot) const {
    return summaries_.at(static_cast<std::size_t>(slot));
  }
  TStationStore* Store() { return core_->Store(); }
  TMdlThread& Coordinator() { return core_->Coordinator(); }

  // The reports of the last batch for one slot, in arrival order.
  const SlotReports& Reports(int slot) const { return reports_.at(static_cast<std::size_t>(slot)); }
  // The slot that shows this COM number now; -1 when none does.
  int SlotShowing(int com) const;

  TConsolePresenter& Console() { return core_->Presenter(); }
  const testing::FakeView& View() const { return view_; }

 private:
  void Handle(TConfirmation confirmation);
  // Handles confirmations until done() holds or the limit has passed; true when it holds.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::seconds limit);
  bool TJobEnded(int slot) const;
  bool AllIdle();

  testing::FakeView view_;
  TConfirmationQueue target_;
  std::unique_ptr<TStationCore> core_;
  std::array<SlotReports, kSlotCount> reports_{};
  std::array<std::optional<TJobSummary>, kSlotCount> summaries_{};
  std::optional<TDeviceTable> lastCheck_;
  std::optional<TDownloadCnf> lastDownload_;
};

// --- What the reports of one job say ---

// The verdict of a job: the code of its last pass or failure report, 0 when it had none.
std::int32_t Verdict(const SlotReports& reports);
// The text of its last failure report; empty when it had none.
std::string LastFailure(const SlotReports& reports);
// True when a report of this code (and, for progress, this value) carries exactly this text.
bool Has(const SlotReports& reports, std::int32_t code, const std::string& text,
         std::int32_t progress = -1);
// True when some report's text starts with the prefix.
bool HasPrefix(const SlotReports& reports, const std::string& prefix);
// Expects the reports to contain these, in this order (others may come in between). A progress
// report is given as {CNF_PROGRESS, value, text}.
void ExpectInOrder(const SlotReports& reports, const std::vector<SlotReport>& expected);
// Expects a whole successful job: its milestones in order, progress never going back, no
// failure report, and the end-of-job line last.
void ExpectPassedJob(const SlotReports& reports);

// --- What the simulator says about a device ---

// Rewritten with the image and holding the identity and NV items it had before.
void ExpectRewrittenKeepingIdentity(const sim::TDeviceReport& before,
                                    const sim::TDeviceReport& after, const ImageFolder& images);
// Firmware, identity and NV items as before.
void ExpectUntouched(const sim::TDeviceReport& before, const sim::TDeviceReport& after);

// The DataInfo files in a folder: name and whole text.
std::vector<std::pair<std::string, std::string>> DataInfoFiles(const std::string& folder);
// The value of a key of a section in profile text; none when absent.
std::optional<std::string> ProfileValue(const std::string& text, const std::string& section,
                                        const std::string& key);
// The keys of a section in profile text, in file order.
std::vector<std::string> ProfileKeys(const std::string& text, const std::string& section);
// How a saved NV record appears as a DataInfo value: item number (low byte first) and data up
// to the last non-zero byte, each as "%02X ".
std::string DataInfoNvValue(std::uint16_t item, const sim::TNvData& data);

// A bench and a station in a fresh temporary folder, with the folder's work/ subfolder as the
// current directory (the workers write their DataInfo files there).
class StationTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Creates the bench with these devices and the test programmer and points discovery at it.
  sim::TSimBench& StartBench(std::vector<sim::TDeviceConfig> devices);
  // The station with its records in the test folder's records/ (dataFolder empty: none).
  Station& StartStation(bool verifyIdentity = true);
  Station& StartStation(const std::string& dataFolder, bool verifyIdentity);
  // Waits until the device is present (or absent); true when it is.
  bool WaitPresent(int index, bool present);

  testing::RunScope run_;  // first: the run's settings are put back after everything else went
  testing::TempDir root_;
  std::string workFolder_;
  ImageFolder images_;
  std::unique_ptr<sim::TSimBench> bench_;
  std::unique_ptr<Station> station_;

 private:
  std::string previousFolder_;
};

}  // namespace vornex::e2e
