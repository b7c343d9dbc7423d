// The console logic: slot displays, Start, device checks, the handling of confirmations and the
// end of a batch.
#include "console/presenter.h"

#include <algorithm>
#include <variant>

#include "foundation/text.h"

namespace vornex {
namespace {

constexpr std::size_t kPaneTextUnits = 511;  // one log pane text
constexpr const char* kImagePathTooLongText =
    "The image path is longer than 259 characters. Choose a shorter folder; no device was started.";
constexpr const char* kIdentityBackupOffText = "Identity backup is OFF for this image set";
constexpr const char* kHeldByText = "held by ";
constexpr const char* kNoAccessText = "no permission: add a udev rule or join dialout";

const char* StatusWord(SlotState state) {
  switch (state) {
    case SlotState::kEmpty:
      return "EMPTY";
    case SlotState::kReady:
      return "READY";
    case SlotState::kBusy:
      return "BUSY";
    case SlotState::kNoAccess:
      return "NO ACCESS";
    default:
      return "";
  }
}

bool ValidSlot(int slot) {
  return slot >= 0 && slot < kSlotCount;
}

}  // namespace

std::string FailureReason(const TJobSummary& summary) {
  if (summary.pass) return {};
  if (summary.cause.empty()) return summary.failure;
  if (summary.failure.empty()) return summary.cause;
  return summary.failure + " (" + summary.cause + ")";
}

TRgb StatusColor(SlotState state) {
  switch (state) {
    case SlotState::kEmpty:
      return slot_color::kEmpty;
    case SlotState::kReady:
      return slot_color::kReady;
    case SlotState::kBusy:
    case SlotState::kNoAccess:
      return slot_color::kBusy;
    case SlotState::kRunning:
      return slot_color::kRunning;
    case SlotState::kPass:
      return slot_color::kPass;
    case SlotState::kFailed:
      return slot_color::kFailed;
  }
  return slot_color::kEmpty;
}

TConsolePresenter::TConsolePresenter(TConsoleView& view, TMdlThread& coordinator,
                                     const TStationSettings& settings)
    : view_(view), coordinator_(coordinator), settings_(settings) {}

bool TConsolePresenter::SlotInUse(int slot) const {
  return ValidSlot(slot) && settings_.enabled[static_cast<std::size_t>(slot)] >= 1;
}

bool TConsolePresenter::AnySlotRunning() const {
  for (const TSlotView& view : slots_) {
    if (view.state == SlotState::kRunning) return true;
  }
  return false;
}

void TConsolePresenter::InitPanel() {
  for (int slot = 0; slot < kSlotCount; ++slot) {
    ClearSlot(slot);
    ShowResult(slot, "", slot_color::kFailed);
  }
  SetStartEnabled(false);
  UpdateStartButton();
}

void TConsolePresenter::SetStartEnabled(bool enabled) {
  startEnabled_ = enabled;
  view_.SetStartEnabled(enabled);
}

void TConsolePresenter::AppendLog(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const std::string text = FormatBoundedV(kPaneTextUnits, format, args);
  va_end(args);
  if (!settings_.debugMode) return;
  view_.AppendLogText(text);
}

void TConsolePresenter::ShowSlotPort(int slot, std::int32_t port) {
  if (!ValidSlot(slot)) return;
  slots_[static_cast<std::size_t>(slot)].comPort = port;
  view_.SetPortText(slot, port >= 1 ? FormatBounded(64, "( COM %d )", port) : "( null )");
}

void TConsolePresenter::ShowSlotState(int slot, SlotState state, std::uint32_t value) {
  if (!ValidSlot(slot)) return;
  TSlotView& view = slots_[static_cast<std::size_t>(slot)];
  view.state = state;
  view_.SetSlotEnabled(slot, state != SlotState::kEmpty);
  const TRgb color = StatusColor(state);
  switch (state) {
    case SlotState::kEmpty:
      view_.SetStatusText(slot, state, StatusWord(state), color);
      ShowResult(slot, "", slot_color::kFailed);
      view.noteShown = false;
      view_.SetProgress(slot, 0);
      break;
    case SlotState::kReady:
      view_.SetStatusText(slot, state, StatusWord(state), color);
      view_.SetProgress(slot, 0);
      break;
    case SlotState::kBusy:
      view_.SetStatusText(slot, state, StatusWord(state), color);
      break;
    case SlotState::kNoAccess:
      view_.SetStatusText(slot, state, StatusWord(state), color);
      ShowSlotNote(slot, kNoAccessText);
      view_.SetProgress(slot, 0);
      break;
    case SlotState::kRunning:
      view_.SetStatusText(slot, state, FormatBounded(32, "%.1f%%", value / 10.0), color);
      view_.SetProgress(slot, static_cast<int>(value));
      view.progress = static_cast<std::int32_t>(value);
      break;
    case SlotState::kPass:
      view_.SetStatusText(slot, state, FormatBounded(32, "%.1fs", value / 1000.0), color);
      ShowResult(slot, "PASS", slot_color::kPass);
      view.noteShown = false;
      view_.SetProgress(slot, 1000);
      break;
    case SlotState::kFailed:
      view_.SetStatusText(slot, state,
                          view.progress >= 1 && view.progress <= 1000
                              ? FormatBounded(32, "%.1f%%", view.progress / 10.0)
                              : std::string("FAILED"),
                          color);
      ShowResult(slot, "FAILED", slot_color::kFailed);  // its reason comes with the account
      view.noteShown = false;
      break;
  }
}

void TConsolePresenter::ShowSlotNote(int slot, const std::string& note) {
  if (!ValidSlot(slot)) return;
  TSlotView& view = slots_[static_cast<std::size_t>(slot)];
  if (note.empty() && !view.noteShown) return;  // a job's result stays
  ShowResult(slot, note, slot_color::kBusy);
  view.noteShown = !note.empty();
}

void TConsolePresenter::ShowResult(int slot, const std::string& text, TRgb color,
                                   const std::string& reason) {
  TSlotView& view = slots_[static_cast<std::size_t>(slot)];
  view_.SetResultText(slot, text, color);
  if (reason == view.reason) return;
  view.reason = reason;
  view_.SetResultReason(slot, reason);
}

void TConsolePresenter::ClearSlot(int slot) {
  if (!ValidSlot(slot)) return;
  ShowSlotPort(slot, 0);
  slots_[static_cast<std::size_t>(slot)].state = SlotState::kEmpty;
  slots_[static_cast<std::size_t>(slot)].noteShown = false;
  view_.SetSlotEnabled(slot, false);
  view_.SetStatusText(slot, SlotState::kEmpty, "EMPTY", slot_color::kEmpty);
  ShowResult(slot, "", slot_color::kFailed);
  view_.SetProgress(slot, 0);
}

void TConsolePresenter::UpdateStartButton() {
  bool empty = true;
  for (const TSlotView& view : slots_) {
    if (view.comPort > 0 || view.state != SlotState::kEmpty) empty = false;
  }
  if (panelWasEmpty_ == 0 && empty) startArmed_ = 1;
  if (startArmed_ == 1 && !empty) {
    startArmed_ = 0;
    SetStartEnabled(true);
  } else if (empty && panelWasEmpty_ == 0) {
    SetStartEnabled(false);
  }
  panelWasEmpty_ = empty ? 1 : 0;
}

bool TConsolePresenter::SendCheckRequest() {
  if (coordinator_.IdleFlag() != 1) return false;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    if (coordinator_.Worker(slot).BusyFlag() != 0) return false;
  }
  coordinator_.PostRequest(REQ_CHECK_DEVICE);
  AppendLog(">> Check Device REQ\r\n");
  return true;
}

bool TConsolePresenter::Start() {
  if (!settings_.autoPath &&
      (settings_.imagePathCut || Utf16Length(settings_.imagePath) > kMaxPathUnits)) {
    // Cut, it would name another folder: nothing starts.
    view_.ShowNotice(kImagePathTooLongText, "Attention");
    return false;
  }
  view_.ClearLogText();
  auto selection = std::make_unique<TDeviceTable>();
  bool any = false;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    if (!SlotInUse(slot)) continue;
    const std::int32_t com = slots_[static_cast<std::size_t>(slot)].comPort;
    selection->entries[static_cast<std::size_t>(slot)].com = com;
    if (com >= 1) any = true;
  }
  selection->count = kSlotCount;
  selection->useProgramFolder = settings_.autoPath ? 1 : 0;
  selection->imagePath = settings_.imagePath;
  if (!any) return false;
  coordinator_.PostRequest(REQ_DOWNLOAD_DEVICE, std::move(selection));
  AppendLog("@-@ START BUTTON !!");
  AppendLog(">> Download Device REQ\r\n");
  SetStartEnabled(false);
  batchRunning_ = false;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    TSlotView& view = slots_[static_cast<std::size_t>(slot)];
    ShowResult(slot, "", slot_color::kFailed);
    view.noteShown = false;
    view.accounted = false;
    view.awaited = false;
  }
  return true;
}

void TConsolePresenter::OnConfirm(std::uint32_t code, TConfirmRecord record) {
  if (code == CNF_CHECK_DEVICE) {
    if (auto* table = std::get_if<std::unique_ptr<TDeviceTable>>(&record); table && *table) {
      OnCheckDevice(**table);
    }
  } else if (code == CNF_DOWNLOAD_DEVICE) {
    if (auto* answer = std::get_if<std::unique_ptr<TDownloadCnf>>(&record); answer && *answer) {
      OnDownloadDevice(**answer);
    }
  } else if (code == CNF_SINGLE) {
    if (auto* report = std::get_if<std::unique_ptr<TSingleCnf>>(&record); report && *report) {
      OnSingle(**report);
    }
  } else if (code == CNF_JOB_SUMMARY) {
    if (auto* summary = std::get_if<std::unique_ptr<TJobSummary>>(&record); summary && *summary) {
      OnJobSummary(**summary);
    }
  }
}

void TConsolePresenter::OnJobSummary(const TJobSummary& summary) {
  const int slot = summary.slot;
  if (!ValidSlot(slot)) return;
  TSlotView& view = slots_[static_cast<std::size_t>(slot)];
  // The account has the last word: a slot never shows PASS for a job that did not pass, and a
  // FAILED slot shows why.
  if (!summary.pass) {
    if (view.state != SlotState::kFailed) ShowSlotState(slot, SlotState::kFailed);
    ShowResult(slot, "FAILED", slot_color::kFailed, FailureReason(summary));
  }
  AppendLog("<< Job [%c] %s%s%s (backup %lld%s)\r\n", static_cast<char>('A' + slot),
            summary.pass ? "PASS" : "FAILED", summary.pass ? "" : ": ", summary.failure.c_str(),
            static_cast<long long>(summary.backupId),
            summary.backupId == 0 ? "" : (summary.pass ? ", closed" : ", kept open"));
  view.accounted = true;
  view.awaited = false;
  EndBatchWhenDone();
}

void TConsolePresenter::EndBatchWhenDone() {
  if (!batchRunning_) return;
  for (const TSlotView& view : slots_) {
    if (view.awaited) return;
  }
  batchRunning_ = false;
  if (batchEnded_) batchEnded_();
}

void TConsolePresenter::OnCheckDevice(const TDeviceTable& table) {
  AppendLog("Find : %d usb device(s)\r\n", table.count);
  const int count = std::min(std::max(table.count, 0), kSlotCount);
  std::int32_t referenceKind = 0;
  bool mixed = false;
  for (int j = 0; j < count; ++j) {
    if (!SlotInUse(j)) continue;
    const TDeviceEntry& entry = table.entries[static_cast<std::size_t>(j)];
    ShowSlotPort(j, entry.com);
    // No permission outranks a holder: it stays in the way when the holder has gone.
    const SlotState state = entry.denied != 0 ? SlotState::kNoAccess
                            : entry.busy != 0 ? SlotState::kBusy
                                              : SlotState::kReady;
    ShowSlotState(j, state);
    if (state != SlotState::kNoAccess) {
      ShowSlotNote(j, entry.heldBy.empty() ? std::string() : kHeldByText + entry.heldBy.str());
    }
    AppendLog("%s", table.descriptions[static_cast<std::size_t>(j)].c_str());
    if (!entry.heldBy.empty()) {
      AppendLog("Device %c [ COM %d ] %s%s\r\n", 'A' + j, entry.com, kHeldByText,
                entry.heldBy.c_str());
    }
    if (state == SlotState::kNoAccess) {
      AppendLog("Device %c [ COM %d ] %s\r\n", 'A' + j, entry.com, kNoAccessText);
    }
    if (entry.kind > 0) {
      if (referenceKind == 0) {
        referenceKind = entry.kind;
      } else if (entry.kind != referenceKind) {
        mixed = true;
      }
    }
  }
  for (int slot = count; slot < kSlotCount; ++slot) {
    if (SlotInUse(slot)) ClearSlot(slot);
  }
  if (mixed) {
    view_.ShowNotice("NOT Same Device !", "Attention");
    AppendLog("NOT Same Device !");
  }
  // A device the search withheld is in no slot: the operator hears why, once per change.
  std::vector<std::string> notes;
  for (const TDiscoveryNote& note : table.notes) notes.push_back(note.text);
  for (const std::string& note : notes) AppendLog("Device search: %s\r\n", note.c_str());
  if (notes != searchNotes_) {
    searchNotes_ = notes;
    std::string text;
    for (const std::string& note : notes) text += (text.empty() ? "" : "\n") + note;
    if (!text.empty()) view_.ShowNotice("Device search: " + text, "Attention");
  }
  UpdateStartButton();
  AppendLog("<< Check Device CNF   Use time : %.3fs\r\n", table.elapsed / 1000.0);
}

void TConsolePresenter::OnDownloadDevice(const TDownloadCnf& answer) {
  if (!answer.refusal.empty()) {
    // No job started and no device was touched: the devices stay READY (an earlier batch's
    // result gives way, as Start cleared its text), and Start is offered again for when the
    // image folder has been put right.
    for (int slot = 0; slot < kSlotCount; ++slot) {
      const SlotState state = slots_[static_cast<std::size_t>(slot)].state;
      if (state == SlotState::kPass || state == SlotState::kFailed) {
        ShowSlotState(slot, SlotState::kReady);
      }
    }
    AppendLog("%s\r\n", answer.refusal.c_str());
    AppendLog("<< Download Device CNF   Use time : %.3fs\r\n", answer.elapsed / 1000.0);
    SetStartEnabled(true);
    view_.ShowNotice(answer.refusal.str(), "Attention");
    return;
  }
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const auto index = static_cast<std::size_t>(slot);
    if (!answer.slotTexts[index].empty()) {
      AppendLog("Device %c [%s]\r\n", 'A' + slot, answer.slotTexts[index].c_str());
    }
    if (answer.started[index] == 0 && slots_[index].comPort >= 1) {
      ShowSlotState(slot, SlotState::kFailed);
      ShowResult(slot, "FAILED", slot_color::kFailed, kNotStartedText);
    }
    // A job that failed at once may have given its account before this answer came.
    slots_[index].awaited = answer.started[index] != 0 && !slots_[index].accounted;
  }
  batchRunning_ = true;
  if (!answer.message.empty()) AppendLog("%s", answer.message.c_str());
  AppendLog("<< Download Device CNF   Use time : %.3fs\r\n", answer.elapsed / 1000.0);
  if (answer.identityBackupOff != 0) {
    AppendLog("%s\r\n", kIdentityBackupOffText);
    view_.ShowNotice(kIdentityBackupOffText, "Attention");
  }
  EndBatchWhenDone();
}

void TConsolePresenter::OnSingle(const TSingleCnf& report) {
  const int slot = report.slot;
  if (ValidSlot(slot) && !report.text.empty()) {
    slots_[static_cast<std::size_t>(slot)].lastText = report.text.str();
  }
  switch (report.code) {
    case CNF_PROGRESS:
      ShowSlotState(slot, SlotState::kRunning, static_cast<std::uint32_t>(report.progress));
      break;
    case CNF_PASS:
      ShowSlotState(slot, SlotState::kPass, report.elapsed);
      break;
    case CNF_FAIL:
      ShowSlotState(slot, SlotState::kFailed);
      break;
    case CNF_IDLE:
      if (ValidSlot(slot)) {
        // Back to EMPTY with port text and COM number kept.
        const std::int32_t port = slots_[static_cast<std::size_t>(slot)].comPort;
        ShowSlotState(slot, SlotState::kEmpty);
        slots_[static_cast<std::size_t>(slot)].comPort = port;
      }
      break;
    case CNF_BUSY:
      if (ValidSlot(slot)) {
        slots_[static_cast<std::size_t>(slot)].state = SlotState::kBusy;
        view_.SetSlotEnabled(slot, true);
        view_.SetStatusText(slot, SlotState::kBusy, "BUSY", slot_color::kBusy);
      }
      break;
    case CNF_INFO:
    case CNF_SILENT:
      break;
    default:
      AppendLog("Unknow Cnf\r\n");
      break;
  }
  const char letter = static_cast<char>('A' + slot);
  if (report.code == CNF_PROGRESS) {
    if (!report.text.empty()) {
      AppendLog("<< Single CNF [%c][%d][%.1f%%]<%s>\r\n", letter, 0, report.progress / 10.0,
                report.text.c_str());
    } else {
      AppendLog("<< Single CNF [%c][%d][%.1f%%]\r\n", letter, 0, report.progress / 10.0);
    }
  } else if (!report.text.empty()) {
    AppendLog("<< Single CNF [%c][%d][%s]\r\n", letter, report.code, report.text.c_str());
  } else {
    AppendLog("<< Single CNF [%c][%d]\r\n", letter, report.code);
  }
}

}  // namespace vornex
