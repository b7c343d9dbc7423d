// The device worker: request handling, the sequence of one download job, its progress scale
// and its reports.
#include "download/worker.h"

#include <cstdarg>
#include <filesystem>
#include <system_error>

#include "download/download_limits.h"
#include "foundation/pacing.h"
#include "foundation/text.h"

namespace vornex {

std::atomic<std::uint8_t> g_nDownLoadCount{0};

namespace {

constexpr int kPhaseProgrammerSlot = 0;
constexpr int kPhaseAfterProgrammerSlot = 1;  // phase 2
constexpr int kPhaseImageSlot = 7;            // phase 30
constexpr std::uint32_t kScaleBase = 100;
constexpr std::uint32_t kScaleBand = 800;

// Size of a file in bytes; 0 when it cannot be measured.
std::uint64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(std::filesystem::path(path), ec);
  return ec ? 0 : size;
}

}  // namespace

TSdlThread::TSdlThread() = default;

TSdlThread::~TSdlThread() {
  Stop();
  device_.reset();
  DiscardBackup();
}

void TSdlThread::OnRequest(std::uint32_t type, TRequestRecord record) {
  if (type != REQ_SINGLE_DOWNLOAD) return;
  auto* job = std::get_if<std::unique_ptr<TWorkerJob>>(&record);
  busy_.store(1, std::memory_order_relaxed);
  RunDownloadJob(job != nullptr ? std::move(*job) : nullptr);
  busy_.store(0, std::memory_order_relaxed);
}

void TSdlThread::SetProgressScale(std::uint64_t programmerBytes, std::uint64_t imageBytes) {
  const auto wh = static_cast<std::uint32_t>(programmerBytes / 1000);
  const auto wi = static_cast<std::uint32_t>(imageBytes / 1000);
  weightTotal_ = wh + wi + 1;
  phaseWeights_.fill(0);
  phaseBases_.fill(0);
  const std::uint32_t imageBase = kScaleBase + (wh * kScaleBand) / weightTotal_;
  phaseWeights_[kPhaseProgrammerSlot] = wh;
  phaseBases_[kPhaseProgrammerSlot] = kScaleBase;
  phaseBases_[kPhaseAfterProgrammerSlot] = imageBase;
  phaseWeights_[kPhaseImageSlot] = wi;
  phaseBases_[kPhaseImageSlot] = imageBase;
}

std::optional<std::uint32_t> TSdlThread::ProgressPosition(std::uint8_t phase,
                                                          std::uint8_t percent) const {
  for (std::size_t slot = 0; slot < kProgressPhases.size(); ++slot) {
    if (kProgressPhases[slot] != phase) continue;
    // Phases without a band of their own (never reported by the device layer) show nothing
    // rather than throwing the slot back to 0.
    if (phaseBases_[slot] == 0 && phaseWeights_[slot] == 0) return std::nullopt;
    const std::uint32_t scaled = percent * phaseWeights_[slot] * kScaleBand;
    return (scaled / weightTotal_) / 100 + phaseBases_[slot];
  }
  return std::nullopt;
}

void TSdlThread::OnLibProgress(void* user, std::int32_t status, const void* data) {
  auto* worker = static_cast<TSdlThread*>(user);
  if (worker == nullptr) return;
  if (status == CB_MESSAGE) {
    const char* text = data != nullptr ? static_cast<const char*>(data) : "";
    const std::string shown(CutToUnits(text, kLibTextUnits));
    worker->Report(-2, "LIB, %s", shown.c_str());
  } else if (status == CB_PROGRESS && data != nullptr) {
    const auto* info = static_cast<const TProgressInfo*>(data);
    std::string text;
    if (info->text != nullptr) {
      text.assign(info->text, static_cast<std::size_t>(std::max(info->textLength, 0)));
      text = std::string(CutToUnits(text, kLibTextUnits));
    }
    const auto position = worker->ProgressPosition(info->phase, info->percent);
    if (!position || static_cast<std::int32_t>(*position) < 0) return;
    worker->Report(static_cast<std::int32_t>(*position), "LIB, (%2d,%4d%%) %s", info->phase,
                   info->percent, text.c_str());
  }
}

void TSdlThread::RunDownloadJob(std::unique_ptr<TWorkerJob> job) {
  if (!job) return;
  device_ = std::make_unique<TUsbDevice>(job->slot);
  const std::uint32_t startTick = pacing::TickCount();
  jobStartTick_ = startTick;
  slot_ = job->slot;
  com_ = job->com;

  Report(0, "Begin progress");
  device_->SetCallback(&TSdlThread::OnLibProgress, this);
  SetProgressScale(FileSize(job->imageSet.programmerFile.str()),
                   FileSize(job->imageSet.flashImageFile.str()));
  Report(20, "Begin progress -");
  pacing::Sleep(kBeforeConnectMs);

  [&] {
    const std::uint8_t flags = device_->ConnectUSB(job->group, kConnectOpenMs);
    if (CheckVersion(job->imageSet.imageTag) == 0) {
      Report(-2, "Can not downgrade image");
      return;
    }
    if ((flags & 0x06) == 0) {
      Report(-2, "Can not Open Device");
      return;
    }
    Report(30, "Open Device OK (0x%x)", flags);

    BackupDeviceData(*job);
    Report(90, "Download code start");

    g_nDownLoadCount.fetch_add(1);
    const std::int32_t updated = UpdateDeviceImage(*job);
    g_nDownLoadCount.fetch_sub(1);
    if (updated == 0) {
      // The device may be half written: keep a record of its identity on disk.
      SaveDataInfo();
      SwitchDiagOff(job->group);
      Report(-2, "Download code failed");
      device_->ClosePorts();
      Report(-2, "Download failed");
      return;
    }
    Report(920, "Download code end");
    Report(930, "Reset Device start (g_nDownLoadCount=%d)", g_nDownLoadCount.load());
    for (int i = 0; g_nDownLoadCount.load() > 0 && i < kOthersWaitTries; ++i) {
      pacing::Sleep(kOthersWaitMs);
    }
    pacing::Sleep(kBeforeResetMs);
    ResetAndReopen(*job);
    Report(989, "Reset Device %s", "OK");
    Report(990);
    pacing::Sleep(kBeforeRestoreMs);

    const std::int32_t restored = RestoreDeviceData(*job);
    SaveDataInfo();
    if (restored == 0) {
      device_->ClosePorts();
      SwitchDiagOff(job->group);
      Report(-2, "Download failed");
      return;
    }
    DiscardBackup();
    const std::uint8_t closed = device_->ClosePorts();
    SwitchDiagOff(job->group);
    Report(1000, "Close Device %s (0x%x)", closed > 0 ? "OK" : "ERROR", closed);
    Report(-1, "Download succress");
  }();

  job.reset();
  EndJob(startTick);
}

void TSdlThread::EndJob(std::uint32_t startTick) {
  const double seconds = static_cast<double>(pacing::TickCount() - startTick) / 1000.0;
  Report(-5, "Download Finished.  Use time : %.3fs", seconds);
  jobStartTick_ = 0;
  slot_ = -1;
  com_ = -1;
  // Releasing the device object pauses 200 ms, closes ports still open and ends its log.
  device_.reset();
}

std::int32_t TSdlThread::SwitchDiagOff(const TUsbGroup& group) {
  // A port still held by this object would refuse the new opener: start from closed ports.
  device_->ClosePorts();
  const std::uint8_t flags = device_->ConnectUSB(group, kConnectOpenMs);
  Report(-5, "Reopen MODEM port [%d]", flags);
  std::int32_t result = 0;
  if ((flags & 0x01) != 0) {
    const std::string command = FormatBounded(99, "AT+MDPARA=DIAG,%s", "OFF");
    char reply[kAtReplyBytes] = {};
    pacing::Sleep(kBeforeDiagOffMs);
    result = device_->SendAtCommand(reply, command.c_str(), sizeof reply);
  }
  Report(-5, "%s diag port [%d]", "Close", result);
  device_->ClosePorts();
  return 1;
}

void TSdlThread::Report(std::int32_t value, const char* format, ...) {
  if (slot_ < 0) return;
  auto cnf = std::make_unique<TSingleCnf>();
  if (format != nullptr) {
    std::va_list args;
    va_start(args, format);
    cnf->text = FormatBoundedV(decltype(cnf->text)::kCapacity, format, args);
    va_end(args);
  }
  MapReportValue(value, &cnf->code, &cnf->progress);
  if (cnf->code != CNF_PROGRESS) cnf->elapsed = pacing::TickCount() - jobStartTick_;
  cnf->slot = slot_;
  Notify(CNF_SINGLE, std::move(cnf));
}

}  // namespace vornex
