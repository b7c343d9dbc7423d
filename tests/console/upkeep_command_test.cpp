// "vornex records compact" over records kept through the store: the sizes it reports are those
// of the file on disk.
#include "console/upkeep_command.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

#include "console/exit_status.h"
#include "store/station_store.h"
#include "support/temp_dir.h"

namespace vornex {
namespace {

// Bytes from "1.2 MiB", "72.0 KiB" or "512 bytes".
double Bytes(const std::string& number, const std::string& unit) {
  const double scale = unit == "MiB" ? 1024.0 * 1024.0 : unit == "KiB" ? 1024.0 : 1.0;
  return std::strtod(number.c_str(), nullptr) * scale;
}

TEST(RecordsCompact, ReportsTheSizesOfTheFileOnDisk) {
  testing::TempDir dir;
  {
    std::string error;
    auto store = TStationStore::Open(dir.File("data"), &error);
    ASSERT_TRUE(store) << error;
    TJobSummary job;
    job.cause = std::string(4000, 'x');
    for (int i = 0; i < 400; ++i) ASSERT_GT(store->RecordJob(job, &error), 0) << error;
  }
  testing::WriteFile(dir.File("vornex.ini"), "[Line]\r\n");
  std::ostringstream out;
  std::ostringstream err;
  ASSERT_EQ(
      RunRecordsCommand(
          {"compact", "--data", dir.File("data"), "--settings", dir.File("vornex.ini")}, out, err),
      exit_status::kOk)
      << err.str();
  std::smatch said;
  const std::string text = out.str();
  ASSERT_TRUE(std::regex_search(
      text, said, std::regex("; ([0-9.]+) (MiB|KiB|bytes) before, ([0-9.]+) (MiB|KiB|bytes) now")))
      << text;
  const auto onDisk = static_cast<double>(std::filesystem::file_size(dir.File("data/station.db")));
  // One decimal of the unit said.
  EXPECT_NEAR(Bytes(said[3], said[4]), onDisk, Bytes("0.05", said[4])) << text;
  // Before: the same records, the file's few pages of free space and layout aside.
  EXPECT_GT(Bytes(said[1], said[2]), onDisk / 2) << text;
  EXPECT_LT(Bytes(said[1], said[2]), onDisk * 2) << text;
}

}  // namespace
}  // namespace vornex
