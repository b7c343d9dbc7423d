// The coordinator: device checks and the hand-out of download jobs.
#include "coordination/coordinator.h"

#include <algorithm>

#include "foundation/os_sleep.h"
#include "foundation/pacing.h"
#include "foundation/text.h"
#include "store/station_store.h"

namespace vornex {
namespace {

// The tag that ends a description line, by device kind.
const char* KindTag(std::int32_t kind) {
  switch (kind) {
    case kKind4B2E3071:
      return " <4B2E-3071>\r\n";
    case kKind4B2E3162:
      return " <4B2E-3162>\r\n";
    default:
      return " <unknow>\r\n";
  }
}

// A group belongs to the station when its first port's hardware id names the product.
bool IsStationDevice(const TUsbGroup& group) {
  return IsStationPort(group.ports[0]);
}

// The port annotation of a description line: "(no permission)" for a port this user may not
// open, "(busy)" for any other port that could not be opened.
const char* AccessTag(const TPortInfo& port) {
  if (port.denied != 0) return "(no permission)";
  return port.openable == 0 ? "(busy)" : "";
}

// Adds what the device's ports tell about access to its entry: holders (the diagnostic port's
// first) make it busy, a port this user may not open makes it denied.
void NoteAccess(const TUsbGroup& group, TDeviceEntry& entry) {
  const int portCount = std::min<int>(group.portCount, kMaxGroupPorts);
  for (const bool diagnostic : {true, false}) {
    for (int p = 0; p < portCount; ++p) {
      const TPortInfo& port = group.ports[static_cast<std::size_t>(p)];
      if ((port.com == entry.com && entry.com != 0) != diagnostic) continue;
      if (port.denied != 0) entry.denied = 1;
      if (!port.heldBy.empty()) {
        entry.busy = 1;
        if (entry.heldBy.empty()) entry.heldBy = port.heldBy;
      }
    }
  }
}

}  // namespace

std::string DescribeGroupPorts(const TUsbGroup& group) {
  std::string text;
  for (int i = 0; i < group.portCount && i < kMaxGroupPorts; ++i) {
    const TPortInfo& port = group.ports[static_cast<std::size_t>(i)];
    text += FormatBounded(64, " com %d%s%s,", static_cast<int>(port.com),
                          port.portClass == kPortClassModem ? "(modem)" : "", AccessTag(port));
  }
  return text;
}

TMdlThread::TMdlThread() {
  for (auto& worker : workers_) worker = std::make_unique<TSdlThread>();
  searchDevice_ = std::make_unique<TUsbDevice>(kSearchDeviceNumber);
}

TMdlThread::~TMdlThread() {
  RequestStop();
  Stop();
  searchDevice_.reset();
  for (auto it = workers_.rbegin(); it != workers_.rend(); ++it) (*it)->Stop();
}

void TMdlThread::RequestStop() {
  stop_.store(true);
  for (auto& worker : workers_) worker->RequestStop();
}

int TMdlThread::BusyWorkers() const {
  int busy = 0;
  for (const auto& worker : workers_) busy += worker->BusyFlag() != 0 ? 1 : 0;
  return busy;
}

bool TMdlThread::PostRequest(std::uint32_t type, TRequestRecord record) {
  const bool download = type == REQ_DOWNLOAD_DEVICE;
  if (download) ++downloadsUnanswered_;  // before the post: the answer may come at once
  const bool posted = TBaseThread::PostRequest(type, std::move(record));
  if (download && !posted) --downloadsUnanswered_;
  return posted;
}

void TMdlThread::SetNotifyAll(TNotifyTarget* target, std::uint32_t message) {
  SetNotify(target, message);
  for (auto& worker : workers_) worker->SetNotify(target, message);
}

void TMdlThread::OnRequest(std::uint32_t type, TRequestRecord record) {
  if (type == REQ_CHECK_DEVICE) {
    idle_.store(0, std::memory_order_relaxed);
    CheckDevices();
    idle_.store(1, std::memory_order_relaxed);
  } else if (type == REQ_DOWNLOAD_DEVICE) {
    auto* selection = std::get_if<std::unique_ptr<TDeviceTable>>(&record);
    idle_.store(0, std::memory_order_relaxed);
    DownloadDevices(selection != nullptr ? std::move(*selection) : nullptr);
    --downloadsUnanswered_;
    idle_.store(1, std::memory_order_relaxed);
  }
}

void TMdlThread::CheckDevices() {
  const std::uint32_t startTick = pacing::TickCount();
  auto result = std::make_unique<TDeviceTable>();
  pacing::Sleep(kCheckSettleMs);

  std::array<TUsbGroup, kMaxGroups> groups{};
  std::uint8_t count = kMaxGroups;
  searchDevice_->SearchAllUSB(groups, count);

  int n = 0;
  for (int g = 0; g < count && n < kSlotCount; ++g) {
    const TUsbGroup& group = groups[static_cast<std::size_t>(g)];
    if (group.portCount == 0 || !IsStationDevice(group)) continue;
    TDeviceEntry& entry = result->entries[static_cast<std::size_t>(n)];
    for (int p = 0; p < group.portCount && p < kMaxGroupPorts; ++p) {
      const TPortInfo& port = group.ports[static_cast<std::size_t>(p)];
      if (!IsDiagnosticPort(port)) continue;
      entry = TDeviceEntry{port.com, port.openable == 0 ? 1 : 0, kKind4B2E3071};
      break;
    }
    NoteAccess(group, entry);
    std::string line = FormatBounded(64, "%c [ COM %d ] ", 'A' + n, entry.com);
    line += DescribeGroupPorts(group);
    line += KindTag(entry.kind);
    result->descriptions[static_cast<std::size_t>(n)] = line;
    ++n;
  }
  result->count = n;
  result->notes = searchDevice_->LastSearchNotes();
  result->elapsed = pacing::TickCount() - startTick;
  Notify(CNF_CHECK_DEVICE, std::move(result));
}

void TMdlThread::DownloadDevices(std::unique_ptr<TDeviceTable> selection) {
  if (!selection) return;
  const std::uint32_t startTick = pacing::TickCount();
  auto answer = std::make_unique<TDownloadCnf>();

  if (!imageSetCache_) {
    TImageSet built = BuildImageSet(*selection);
    if (!built.refusal.empty()) {
      // Refused before any device is looked at; not kept, so that the next Start reads the
      // folder again once the operator has put it right.
      answer->imageFlags = built.itemSwitches;
      answer->identityBackupOff = built.identityBackupOff ? 1 : 0;
      answer->refusal = built.refusal;
      answer->refusalKind = TStartRefusal::kImageSet;
      answer->message = "\r\n";
      answer->elapsed = pacing::TickCount() - startTick;
      Notify(CNF_DOWNLOAD_DEVICE, std::move(answer));
      return;
    }
    imageSetCache_ = std::move(built);
  }
  const TImageSet& imageSet = *imageSetCache_;
  answer->imageFlags = imageSet.itemSwitches;
  answer->identityBackupOff = imageSet.identityBackupOff ? 1 : 0;

  // A backup committed into records that were deleted under the station would be lost with
  // them: no job starts until the station has opened its records anew.
  std::string lost;
  if (store_ != nullptr && !store_->FileIntact(&lost)) {
    answer->refusal = "Station records lost: " + lost + ". No device will be flashed.";
    answer->refusalKind = TStartRefusal::kRecordsLost;
    answer->message = "\r\n";
    answer->elapsed = pacing::TickCount() - startTick;
    Notify(CNF_DOWNLOAD_DEVICE, std::move(answer));
    return;
  }

  std::array<TUsbGroup, kMaxGroups> groups{};
  std::uint8_t count = kMaxGroups;
  searchDevice_->SearchAllUSB(groups, count);

  // The image stream's short paces need a fine system timer from the first job of the batch to
  // the end of its last one: every job holds a share of it, this hand-out too.
  std::shared_ptr<const os::TFineTimerScope> fineTimer;
  for (int g = 0; g < count; ++g) {
    const TUsbGroup& group = groups[static_cast<std::size_t>(g)];
    if (group.portCount == 0) continue;
    int slot = -1;
    for (int p = 0; p < group.portCount && p < kMaxGroupPorts && slot < 0; ++p) {
      const std::int32_t com = group.ports[static_cast<std::size_t>(p)].com;
      for (int j = 0; j < kSlotCount; ++j) {
        const std::int32_t selected = selection->entries[static_cast<std::size_t>(j)].com;
        if (selected > 0 && selected == com) {
          slot = j;
          break;
        }
      }
    }
    if (slot < 0) continue;   // none of its ports is selected: not started
    if (stop_.load()) break;  // the station is closing: no new job

    if (!fineTimer) fineTimer = std::make_shared<const os::TFineTimerScope>();
    auto job = std::make_unique<TWorkerJob>();
    job->fineTimer = fineTimer;
    job->imageSet = imageSet;
    job->slot = slot;
    job->com = selection->entries[static_cast<std::size_t>(slot)].com;
    job->group = group;
    job->store = store_;
    job->verifyIdentity = verifyIdentity_;
    job->flashBlankDevices = flashBlankDevices_;
    answer->slotTexts[static_cast<std::size_t>(slot)] =
        FormatBounded(64, "< COM %d > ", job->com) + DescribeGroupPorts(group);
    workers_[static_cast<std::size_t>(slot)]->PostRequest(REQ_SINGLE_DOWNLOAD, std::move(job));
    answer->started[static_cast<std::size_t>(slot)] = 1;
    pacing::Sleep(kJobStaggerMs);
  }

  answer->message = "\r\n";
  answer->elapsed = pacing::TickCount() - startTick;
  Notify(CNF_DOWNLOAD_DEVICE, std::move(answer));
}

}  // namespace vornex
