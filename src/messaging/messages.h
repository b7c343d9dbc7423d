// The message contract between the console, the coordinator and the eight device workers:
// thread message numbers, request and confirmation codes, and the records that travel with
// them. A record is created by the sender and moved into the receiver's queue as a
// std::unique_ptr, so it belongs to the receiver once posted (and is released if a post fails).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "discovery/note_text.h"
#include "discovery/port_info.h"
#include "foundation/settings.h"
#include "foundation/text.h"
#include "messaging/image_set.h"
#include "records/job_summary.h"

namespace vornex {

// Thread messages of every worker-thread loop.
constexpr std::uint32_t TM_THREAD_QUIT = 204;
constexpr std::uint32_t TM_THREAD_PING = 205;
constexpr std::uint32_t TM_THREAD_REQUEST = 206;

// Request types (the wParam of TM_THREAD_REQUEST).
constexpr std::uint32_t REQ_CHECK_DEVICE = 15;     // coordinator, no record
constexpr std::uint32_t REQ_DOWNLOAD_DEVICE = 16;  // coordinator, TDeviceTable
constexpr std::uint32_t REQ_SINGLE_DOWNLOAD = 28;  // worker of the slot, TWorkerJob

// The confirmation message and its codes.
constexpr std::uint32_t WM_DOWNLOAD_CNF = 0x600;
constexpr std::uint32_t CNF_CHECK_DEVICE = 15;     // TDeviceTable
constexpr std::uint32_t CNF_DOWNLOAD_DEVICE = 16;  // TDownloadCnf
constexpr std::uint32_t CNF_SINGLE = 28;           // TSingleCnf
constexpr std::uint32_t CNF_JOB_SUMMARY = 29;      // TJobSummary, the last confirmation of a job

// Report codes of TSingleCnf.
constexpr std::int32_t CNF_PROGRESS = 0;
constexpr std::int32_t CNF_PASS = 1;
constexpr std::int32_t CNF_FAIL = 2;
constexpr std::int32_t CNF_IDLE = 3;
constexpr std::int32_t CNF_BUSY = 4;
constexpr std::int32_t CNF_INFO = 5;
constexpr std::int32_t CNF_SILENT = 7;

// Device kinds of a TDeviceTable entry.
constexpr std::int32_t kKindUnknown = 0;
constexpr std::int32_t kKind4B2E3071 = 1;
constexpr std::int32_t kKind4B2E3162 = 2;

struct TDeviceEntry {
  std::int32_t com = 0;     // COM number of the diagnostic port
  std::int32_t busy = 0;    // 1 when that port could not be opened, or another program holds
                            // any port of the device open
  std::int32_t kind = 0;    // kKind...
  std::int32_t denied = 0;  // 1 when this user may not open some port of the device
  TFixedText<64> heldBy{};  // who holds a port of the device open, "ModemManager (pid 812)"
                            // (the diagnostic port's holders first); empty when nobody
};

// Device list of CNF_CHECK_DEVICE, and slot selection of REQ_DOWNLOAD_DEVICE.
struct TDeviceTable {
  std::array<TDeviceEntry, kSlotCount> entries{};
  std::array<TFixedText<128>, kSlotCount> descriptions{};
  std::int32_t count = 0;
  std::int32_t useProgramFolder = 0;  // 1 = images from the executable's folder
  TFixedText<260> imagePath;
  std::uint32_t elapsed = 0;  // ms spent on the check
  // What the device search refused or found in the way, one note each (records that claim one
  // COM number, ports held by another program ...); empty in REQ_DOWNLOAD_DEVICE.
  std::vector<TDiscoveryNote> notes;
};

// Why Start was refused before any job started.
enum class TStartRefusal : std::int32_t {
  kNone = 0,
  kImageSet,     // the image set ("Image set refused: ...")
  kRecordsLost,  // the station records were deleted or replaced under the station
};

// Answer of REQ_DOWNLOAD_DEVICE.
struct TDownloadCnf {
  std::array<TFixedText<128>, kSlotCount> slotTexts{};
  std::uint32_t imageFlags = 0;
  TFixedText<1024> message;
  std::array<std::int32_t, kSlotCount> started{};
  std::uint32_t elapsed = 0;
  // Why the image set was refused ("Image set refused: ..."): no job started, no device was
  // touched. Empty when the set was accepted.
  TFixedText<1024> refusal;
  TStartRefusal refusalKind = TStartRefusal::kNone;
  // 1 when the image set backs up neither the AT identity nor the NV items.
  std::int32_t identityBackupOff = 0;
};

// One step report of a worker.
struct TSingleCnf {
  std::int32_t code = 0;
  std::int32_t slot = 0;
  std::int32_t progress = 0;  // CNF_PROGRESS only, 0..1000
  TFixedText<512> text;
  std::uint32_t elapsed = 0;  // every code but CNF_PROGRESS: ms since the job started
};

class TStationStore;
namespace os {
class TFineTimerScope;
}

// One download job for a worker: slot, diagnostic COM number, the device's ports, a copy of the
// image set, and where the identity backup goes (the station record store; a job without one
// never touches its device) and whether the restored identity is read back and compared.
// Every job of a batch shares the batch's fine system timer, which ends with the last job.
struct TWorkerJob {
  std::int32_t slot = 0;
  std::int32_t com = 0;
  TUsbGroup group;
  TImageSet imageSet;
  TStationStore* store = nullptr;
  bool verifyIdentity = true;
  bool flashBlankDevices = false;  // a device answering a blank identity is backed up and flashed
  std::shared_ptr<const os::TFineTimerScope> fineTimer;
};

// The record of a thread request.
using TRequestRecord =
    std::variant<std::monostate, std::unique_ptr<TDeviceTable>, std::unique_ptr<TWorkerJob>>;

// The record of a confirmation.
using TConfirmRecord = std::variant<std::unique_ptr<TDeviceTable>, std::unique_ptr<TDownloadCnf>,
                                    std::unique_ptr<TSingleCnf>, std::unique_ptr<TJobSummary>>;

// Where confirmations go: the front-ends implement it. PostConfirmation is called on the
// posting thread (coordinator or worker) and must hand the record over to the front-end's own
// thread; it returns false when the record could not be queued (the record is then released).
class TNotifyTarget {
 public:
  virtual bool PostConfirmation(std::uint32_t message, std::uint32_t code,
                                TConfirmRecord record) = 0;

 protected:
  ~TNotifyTarget() = default;
};

// How a Report value becomes a report code and progress: 0..1000 is progress (code 0),
// a negative value is the code -value, a value above 1000 is the code itself.
void MapReportValue(std::int32_t value, std::int32_t* code, std::int32_t* progress);

}  // namespace vornex
