// What the station record store costs a job: committing a backup of 582 NV records with its AT
// values, noting why it is open, keeping the job's account and closing the backup, each a
// durable transaction, on a fresh database in the temporary folder. Prints the median and the
// worst time per job over the run, and the same for the backup commit alone (the part that
// holds the device's rewrite until it is on disk).
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/paths.h"
#include "store/station_store.h"

namespace {

using TClock = std::chrono::steady_clock;

constexpr int kJobs = 50;
constexpr std::size_t kNvRecords = 582;

vornex::TIdentityBackup MakeBackup(int job) {
  vornex::TIdentityBackup b;
  b.slot = job % 8;
  char text[32];
  std::snprintf(text, sizeof text, "usb1-1.%d", job % 8);
  b.deviceKey = text;
  b.diagCom = 10 + job % 8;
  b.modemCom = 20 + job % 8;
  b.firmwareVersion = "V1.0.0";
  b.imageTag = "bench";
  b.imageSha256 = std::string(64, 'a');
  b.itemSwitches = 3;
  std::snprintf(text, sizeof text, "SN%d", 100000 + job);
  b.at.slots[vornex::kSlotSn] = text;
  b.at.slots[vornex::kSlotMeid] = "A1000012345678";
  // A string, not a literal: GCC 12 at -O3 misreads assigning a literal here (-Wrestrict).
  b.at.slots[vornex::kSlotTflag] = std::string("1");
  b.nv.resize(kNvRecords);
  for (std::size_t i = 0; i < kNvRecords; ++i) {
    for (std::size_t j = 0; j < b.nv[i].bytes.size(); ++j) {
      b.nv[i].bytes[j] = static_cast<std::uint8_t>(i + j + job);
    }
  }
  return b;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double Ms(TClock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main() {
  std::string folder = vornex::paths::TempFolder() + "vornex-store-bench-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) return 1;
  int status = 0;
  {
    std::string error;
    auto store = vornex::TStationStore::Open(folder, &error);
    if (!store) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    std::vector<double> jobMs;
    std::vector<double> commitMs;
    for (int job = 0; job < kJobs && status == 0; ++job) {
      const vornex::TIdentityBackup backup = MakeBackup(job);
      vornex::TJobSummary summary;
      summary.deviceKey = backup.deviceKey;
      summary.identityBefore = backup.at;
      summary.identityAfter = backup.at;
      summary.nvBackedUp = static_cast<std::int32_t>(kNvRecords);
      summary.startedAt = "2024-01-01 00:00:00.000";
      summary.endedAt = "2024-01-01 00:01:00.000";

      const auto start = TClock::now();
      summary.backupId = store->CommitBackup(backup, &error);
      const auto committed = TClock::now();
      const bool ok = summary.backupId > 0 &&
                      store->SetOpenReason(summary.backupId, "bench", &error) &&
                      store->RecordJob(summary, &error) > 0 &&
                      store->CloseBackup(summary.backupId, "bench job", &error);
      const auto end = TClock::now();
      if (!ok) {
        std::fprintf(stderr, "job %d: %s\n", job, error.c_str());
        status = 1;
      }
      commitMs.push_back(Ms(committed - start));
      jobMs.push_back(Ms(end - start));
    }
    if (status == 0) {
      std::printf("station record store, %d jobs, %zu NV records per backup, %s\n", kJobs,
                  kNvRecords, store->Path().c_str());
      std::printf("per job (commit + open reason + job + close)  median %7.2f ms   max %7.2f ms\n",
                  Median(jobMs), *std::max_element(jobMs.begin(), jobMs.end()));
      std::printf("backup commit alone                           median %7.2f ms   max %7.2f ms\n",
                  Median(commitMs), *std::max_element(commitMs.begin(), commitMs.end()));
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  return status;
}
