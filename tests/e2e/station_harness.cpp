// The end-to-end harness: files of a run, the station driven on the test thread, and the
// expectations on reports and on the simulated devices.
#include "station_harness.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <variant>

#include "discovery/port_enumeration.h"
#include "foundation/pacing.h"
#include "foundation/text.h"
#include "sim/sha256.h"

namespace vornex::e2e {
namespace {

constexpr const char* kJobEndPrefix = "Download Finished.  Use time : ";

// The profile lines of one section ("key=value"), in file order.
std::vector<std::pair<std::string, std::string>> SectionLines(const std::string& text,
                                                              const std::string& section) {
  std::vector<std::pair<std::string, std::string>> lines;
  bool inside = false;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    start = end + 1;
    if (line.starts_with("[")) {
      inside = line == "[" + section + "]";
      continue;
    }
    const auto equals = line.find('=');
    if (inside && equals != std::string::npos) {
      lines.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
  }
  return lines;
}

std::string Describe(const SlotReport& report) {
  return FormatBounded(600, "[%d][%d]<%s>", report.code, report.progress, report.text.c_str());
}

}  // namespace

sim::TProgrammerImage TestProgrammer() {
  return sim::TProgrammerImage{PatternBytes(kProgrammerBytes, 11), kProgrammerAddress};
}

ImageFolder WriteImageFolder(const std::string& folder, bool itemAt, bool itemNv,
                             std::size_t imageBytes) {
  std::filesystem::create_directories(folder);
  const sim::TProgrammerImage programmer = TestProgrammer();
  testing::WriteFile(folder + "/prog_9004.hex",
                     IntelHexText(programmer.data, programmer.startAddress));

  ImageFolder result;
  result.folder = folder;
  result.image = PatternBytes(imageBytes, 23);
  const std::string tag = kImageTag;
  std::fill(result.image.end() - 32, result.image.end(), std::uint8_t{0xFF});
  std::copy(tag.begin(), tag.end(), result.image.end() - 32);
  testing::WriteFile(folder + "/nor.mbn", std::string(result.image.begin(), result.image.end()));
  result.sha256 = sim::Sha256Hex(result.image.data(), result.image.size());

  testing::WriteFile(folder + "/Vornex_730.ini",
                     std::string("[UpdateItem]\r\nItemAT=") + (itemAt ? "ON" : "OFF") +
                         "\r\nItemNV=" + (itemNv ? "ON" : "OFF") + "\r\n");
  return result;
}

// --- Station ---

Station::Station(const std::string& imageFolder, const std::string& dataFolder,
                 bool verifyIdentity) {
  TStationSettings settings;
  settings.debugMode = true;
  settings.autoPath = false;
  settings.imagePath = imageFolder;
  settings.verifyIdentity = verifyIdentity;
  TStationSetup setup;
  setup.run.settings = settings;
  setup.dataFolder = dataFolder;
  setup.withRecords = !dataFolder.empty();
  core_ = std::make_unique<TStationCore>(std::move(setup), view_, target_,
                                         [](const std::string& /*line*/) {});
  EXPECT_TRUE(dataFolder.empty() || core_->Store() != nullptr) << core_->StartNotice();
}

Station::~Station() {
  core_.reset();
}

void Station::Handle(TConfirmation confirmation) {
  if (confirmation.code == CNF_SINGLE) {
    if (const auto* cnf = std::get_if<std::unique_ptr<TSingleCnf>>(&confirmation.record);
        cnf && *cnf && (*cnf)->slot >= 0 && (*cnf)->slot < kSlotCount) {
      reports_[static_cast<std::size_t>((*cnf)->slot)].push_back(
          SlotReport{(*cnf)->code, (*cnf)->progress, (*cnf)->text.str()});
    } else {
      ADD_FAILURE() << "a single report without a valid slot";
    }
  } else if (confirmation.code == CNF_JOB_SUMMARY) {
    if (const auto* summary = std::get_if<std::unique_ptr<TJobSummary>>(&confirmation.record);
        summary && *summary && (*summary)->slot >= 0 && (*summary)->slot < kSlotCount) {
      summaries_[static_cast<std::size_t>((*summary)->slot)] = **summary;
    }
  } else if (confirmation.code == CNF_CHECK_DEVICE) {
    if (const auto* table = std::get_if<std::unique_ptr<TDeviceTable>>(&confirmation.record);
        table && *table) {
      lastCheck_ = **table;
    }
  } else if (confirmation.code == CNF_DOWNLOAD_DEVICE) {
    if (const auto* answer = std::get_if<std::unique_ptr<TDownloadCnf>>(&confirmation.record);
        answer && *answer) {
      lastDownload_ = **answer;
    }
  }
  core_->Confirm(confirmation.code, std::move(confirmation.record));
}

bool Station::PumpUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto giveUp = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() > giveUp) return false;
    auto next = target_.TakeUntil(pacing::TClock::now() + std::chrono::milliseconds(20));
    if (next) Handle(std::move(*next));
  }
}

bool Station::TJobEnded(int slot) const {
  return Summary(slot).has_value();
}

bool Station::AllIdle() {
  if (core_->Coordinator().IdleFlag() != 1) return false;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    if (core_->Coordinator().Worker(slot).BusyFlag() != 0) return false;
  }
  return true;
}

TDeviceTable Station::Check() {
  lastCheck_.reset();
  const bool asked =
      PumpUntil([this] { return core_->Presenter().SendCheckRequest(); }, kCheckLimit);
  if (!asked || !PumpUntil([this] { return lastCheck_.has_value(); }, kCheckLimit)) {
    ADD_FAILURE() << "no device check answer";
    return TDeviceTable{};
  }
  return *lastCheck_;
}

TDownloadCnf Station::RunBatch() {
  PressStart();
  return FinishBatch();
}

void Station::PressStart() {
  for (SlotReports& reports : reports_) reports.clear();
  for (auto& summary : summaries_) summary.reset();
  lastDownload_.reset();
  core_->Presenter().Start();
}

TDownloadCnf Station::FinishBatch() {
  const bool ended = PumpUntil(
      [this] {
        if (!lastDownload_) return false;
        for (int slot = 0; slot < kSlotCount; ++slot) {
          if (lastDownload_->started[static_cast<std::size_t>(slot)] != 0 && !TJobEnded(slot)) {
            return false;
          }
        }
        return true;
      },
      kBatchLimit);
  // The workers leave their busy state just after their last report.
  if (!ended || !PumpUntil([this] { return AllIdle(); }, kCheckLimit)) {
    ADD_FAILURE() << "the batch did not end";
    return lastDownload_.value_or(TDownloadCnf{});
  }
  return *lastDownload_;
}

int Station::SlotShowing(int com) const {
  for (int slot = 0; slot < kSlotCount; ++slot) {
    if (com > 0 && core_->Presenter().Slot(slot).comPort == com) return slot;
  }
  return -1;
}

// --- Reports ---

std::int32_t Verdict(const SlotReports& reports) {
  for (auto it = reports.rbegin(); it != reports.rend(); ++it) {
    if (it->code == CNF_PASS || it->code == CNF_FAIL) return it->code;
  }
  return 0;
}

std::string LastFailure(const SlotReports& reports) {
  for (auto it = reports.rbegin(); it != reports.rend(); ++it) {
    if (it->code == CNF_FAIL) return it->text;
  }
  return {};
}

bool Has(const SlotReports& reports, std::int32_t code, const std::string& text,
         std::int32_t progress) {
  return std::any_of(reports.begin(), reports.end(), [&](const SlotReport& r) {
    return r.code == code && r.text == text && (progress < 0 || r.progress == progress);
  });
}

bool HasPrefix(const SlotReports& reports, const std::string& prefix) {
  return std::any_of(reports.begin(), reports.end(),
                     [&](const SlotReport& r) { return r.text.starts_with(prefix); });
}

void ExpectInOrder(const SlotReports& reports, const std::vector<SlotReport>& expected) {
  auto at = reports.begin();
  for (const SlotReport& want : expected) {
    at = std::find_if(at, reports.end(), [&](const SlotReport& r) {
      return r.code == want.code && r.text == want.text &&
             (want.code != CNF_PROGRESS || r.progress == want.progress);
    });
    if (at == reports.end()) {
      std::string seen;
      for (const SlotReport& r : reports) {
        if (r.code != CNF_INFO) seen += "\n  " + Describe(r);
      }
      ADD_FAILURE() << "missing, or out of order: " << Describe(want) << "\nreports:" << seen;
      return;
    }
    ++at;
  }
}

void ExpectPassedJob(const SlotReports& reports) {
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(Verdict(reports), CNF_PASS);
  EXPECT_EQ(LastFailure(reports), "");
  EXPECT_EQ(reports.back().code, CNF_INFO);
  EXPECT_TRUE(reports.back().text.starts_with(kJobEndPrefix)) << reports.back().text;
  ExpectInOrder(reports, {{CNF_PROGRESS, 0, "Begin progress"},
                          {CNF_PROGRESS, 20, "Begin progress -"},
                          {CNF_PROGRESS, 21, "Checking version..."},
                          {CNF_PROGRESS, 25, "Version check OK"},
                          {CNF_PROGRESS, 30, "Open Device OK (0x3)"},
                          {CNF_INFO, 0, "Backup AT end(1)"},
                          {CNF_INFO, 0, "Backup NV end(1)"},
                          {CNF_PROGRESS, 90, "Download code start"},
                          {CNF_PROGRESS, 91, "Enter Download Mode"},
                          {CNF_PROGRESS, 95, "Enter Download Mode(1)"},
                          {CNF_INFO, 0, "Download Hex File(1)"},
                          {CNF_PROGRESS, 915, "Download All Image (1)"},
                          {CNF_PROGRESS, 918, "Update Device Image end"},
                          {CNF_PROGRESS, 920, "Download code end"},
                          {CNF_PROGRESS, 935, "Reset Device:"},
                          {CNF_PROGRESS, 940, "Waiting for reboot OK"},
                          {CNF_PROGRESS, 950, "find"},
                          {CNF_PROGRESS, 970, "Reopen Device SUCCRESS"},
                          {CNF_PROGRESS, 989, "Reset Device OK"},
                          {CNF_INFO, 0, "Restore NV end(1)"},
                          {CNF_INFO, 0, "Restore AT end(1)"},
                          {CNF_PROGRESS, 1000, "Close Device OK (0x3)"},
                          {CNF_PASS, 0, "Download succress"}});
  // Both downloads ran to their end on the progress scale.
  EXPECT_TRUE(HasPrefix(reports, "LIB, ( 0, 100%) ")) << "programmer download at 100%";
  EXPECT_TRUE(HasPrefix(reports, "LIB, (30, 100%) ")) << "image download at 100%";
  // Progress never goes back. Inside the programmer's band it may: a programmer whose last block
  // is partial reports 100% after that block and then 95% before its start command.
  std::int32_t last = 0;
  for (const SlotReport& r : reports) {
    if (r.code != CNF_PROGRESS || r.text.starts_with("LIB, ( 0,")) continue;
    EXPECT_GE(r.progress, last) << "progress went back at " << Describe(r);
    EXPECT_LE(r.progress, 1000);
    last = r.progress;
  }
}

// --- Devices ---

void ExpectRewrittenKeepingIdentity(const sim::TDeviceReport& before,
                                    const sim::TDeviceReport& after, const ImageFolder& images) {
  SCOPED_TRACE("device " + std::to_string(after.index));
  EXPECT_TRUE(after.present);
  EXPECT_EQ(after.layer, "firmware");
  EXPECT_EQ(after.flashSha256, images.sha256);
  EXPECT_EQ(after.flashLength, images.image.size());
  EXPECT_EQ(after.firmwareVersion, kImageTag);
  EXPECT_EQ(after.flashCount, before.flashCount + 1);
  EXPECT_EQ(after.identity.serialNumber, before.identity.serialNumber);
  EXPECT_EQ(after.identity.meid, before.identity.meid);
  EXPECT_EQ(after.identity.testFlag, before.identity.testFlag);
  EXPECT_EQ(after.nvItemCount, before.nvItemCount);
  EXPECT_EQ(after.nvDigest, before.nvDigest);
  EXPECT_FALSE(after.diagInterfaceOn);
}

void ExpectUntouched(const sim::TDeviceReport& before, const sim::TDeviceReport& after) {
  SCOPED_TRACE("device " + std::to_string(after.index));
  EXPECT_EQ(after.flashSha256, before.flashSha256);
  EXPECT_EQ(after.firmwareVersion, before.firmwareVersion);
  EXPECT_EQ(after.flashCount, before.flashCount);
  EXPECT_EQ(after.identity.serialNumber, before.identity.serialNumber);
  EXPECT_EQ(after.identity.meid, before.identity.meid);
  EXPECT_EQ(after.identity.testFlag, before.identity.testFlag);
  EXPECT_EQ(after.nvDigest, before.nvDigest);
  EXPECT_EQ(after.bootCount, before.bootCount);
}

std::vector<std::pair<std::string, std::string>> DataInfoFiles(const std::string& folder) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("DataInfo_") && name.ends_with(".ini")) {
      files.emplace_back(name, testing::ReadFile(entry.path().string()));
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::optional<std::string> ProfileValue(const std::string& text, const std::string& section,
                                        const std::string& key) {
  for (const auto& [name, value] : SectionLines(text, section)) {
    if (name == key) return value;
  }
  return std::nullopt;
}

std::vector<std::string> ProfileKeys(const std::string& text, const std::string& section) {
  std::vector<std::string> keys;
  for (const auto& line : SectionLines(text, section)) keys.push_back(line.first);
  return keys;
}

std::string DataInfoNvValue(std::uint16_t item, const sim::TNvData& data) {
  std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(item & 0xFF),
                                  static_cast<std::uint8_t>(item >> 8)};
  bytes.insert(bytes.end(), data.begin(), data.end());
  while (bytes.size() > 1 && bytes.back() == 0) bytes.pop_back();
  std::string text;
  for (std::uint8_t byte : bytes) text += FormatBounded(4, "%02X ", byte);
  return text;
}

// --- Fixture ---

void StationTest::SetUp() {
  run_.TimeScale(kTimeScale);
  previousFolder_ = std::filesystem::current_path().string();
  workFolder_ = root_.File("work");
  std::filesystem::create_directories(workFolder_);
  std::filesystem::current_path(workFolder_);
  images_ = WriteImageFolder(root_.File("images"), true, true);
}

void StationTest::TearDown() {
  station_.reset();
  bench_.reset();
  std::filesystem::current_path(previousFolder_);
}

sim::TSimBench& StationTest::StartBench(std::vector<sim::TDeviceConfig> devices) {
  sim::TBenchConfig config;
  config.folder = root_.File("bench");
  config.devices = std::move(devices);
  config.programmer = TestProgrammer();
  std::string error;
  bench_ = sim::TSimBench::Create(std::move(config), &error);
  if (!bench_) throw std::runtime_error("bench: " + error);
  run_.BenchDiscovery(bench_->Folder());
  return *bench_;
}

Station& StationTest::StartStation(bool verifyIdentity) {
  return StartStation(root_.File("records"), verifyIdentity);
}

Station& StationTest::StartStation(const std::string& dataFolder, bool verifyIdentity) {
  station_ = std::make_unique<Station>(images_.folder, dataFolder, verifyIdentity);
  return *station_;
}

bool StationTest::WaitPresent(int index, bool present) {
  return bench_->WaitUntil(
      index, [present](const sim::TDeviceReport& r) { return r.present == present; },
      kPresenceLimitMs);
}

}  // namespace vornex::e2e
