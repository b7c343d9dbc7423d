// The headless front-end's pieces: its command line, the run records it keeps from the
// workers' reports, and their JSON lines.
#include <gtest/gtest.h>

#include <sstream>

#include "console/headless/headless_station.h"
#include "console/headless/run_record.h"

namespace vornex {
namespace {

TSingleCnf Report(std::int32_t code, const char* text, std::uint32_t elapsed = 0) {
  TSingleCnf cnf;
  cnf.code = code;
  cnf.text = text;
  cnf.elapsed = elapsed;
  return cnf;
}

TEST(HeadlessOptions, ParsesTheDocumentedOptionsAndRefusesOthers) {
  std::string error;
  const auto options = ParseHeadlessOptions(
      {"--headless", "--bench", "/b", "--image", "/i", "--expect", "8", "--time-scale", "0.1",
       "--json", "out.jsonl"},
      &error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->bench, "/b");
  EXPECT_EQ(options->imageFolder, "/i");
  EXPECT_EQ(options->expect, 8);
  EXPECT_DOUBLE_EQ(options->timeScale, 0.1);
  EXPECT_EQ(options->jsonPath, "out.jsonl");

  EXPECT_FALSE(ParseHeadlessOptions({"--expect", "9"}, &error));
  EXPECT_FALSE(ParseHeadlessOptions({"--time-scale", "0"}, &error));
  EXPECT_FALSE(ParseHeadlessOptions({"--time-scale", "fast"}, &error));
  EXPECT_FALSE(ParseHeadlessOptions({"--bench"}, &error));
  EXPECT_EQ(error, "missing value after --bench");
  EXPECT_FALSE(ParseHeadlessOptions({"--frobnicate", "1"}, &error));
}

TEST(RunRecord, KeepsVersionsIdentityAndVerdict) {
  TRunRecord record;
  RecordReport(record, Report(CNF_INFO, "currV = VX730-R1.0.0"));
  RecordReport(record, Report(CNF_INFO, "updateV = VX730-R1.2.0"));
  RecordReport(record, Report(CNF_INFO, "Backup AT SN [8]-[SN]-[0001]"));
  RecordReport(record, Report(CNF_INFO, "Backup AT MEID [14]-[A0000012345678]"));
  RecordReport(record, Report(CNF_INFO, "Backup AT TFLAG [1]-[1]"));
  RecordReport(record, Report(CNF_INFO, "Restore AT SN [1] <AT+NEWSN=SN]-[0001>"));
  RecordReport(record, Report(CNF_INFO, "Restore AT MEID [0] <AT+NEWMEID=A0000012345678>"));
  RecordReport(record, Report(CNF_PASS, "Download succress", 61234));
  RecordReport(record, Report(CNF_INFO, "Download Finished.  Use time : 61.300s", 61300));
  EXPECT_TRUE(record.finished);
  EXPECT_EQ(record.serialNumber, "SN]-[0001");
  EXPECT_EQ(record.meid, "A0000012345678");
  EXPECT_EQ(record.testFlag, "1");
  EXPECT_TRUE(record.serialRestored);
  EXPECT_FALSE(record.meidRestored);
  record.com = 5;

  std::ostringstream json;
  WriteRunJson(json, 2, record);
  EXPECT_EQ(json.str(),
            "{\"slot\":\"C\",\"port\":5,\"verdict\":\"PASS\",\"elapsed_s\":61.300,\"reason\":\"\","
            "\"version_before\":\"VX730-R1.0.0\",\"version_after\":\"VX730-R1.2.0\","
            "\"identity\":{\"sn\":\"SN]-[0001\",\"meid\":\"A0000012345678\",\"tflag\":\"1\"},"
            "\"identity_restored\":{\"sn\":true,\"meid\":false,\"tflag\":false}}");
}

TEST(RunRecord, FailureKeepsItsReasonAndNoNewVersion) {
  TRunRecord record;
  RecordReport(record, Report(CNF_INFO, "updateV = V2"));
  RecordReport(record, Report(CNF_FAIL, "Can not downgrade image"));
  std::ostringstream json;
  WriteRunJson(json, 0, record);
  EXPECT_NE(json.str().find("\"verdict\":\"FAILED\""), std::string::npos);
  EXPECT_NE(json.str().find("\"reason\":\"Can not downgrade image\""), std::string::npos);
  EXPECT_NE(json.str().find("\"version_after\":\"\""), std::string::npos);
  EXPECT_EQ(JsonString("a\"b\\c\r\n\x01"), "\"a\\\"b\\\\c\\r\\n\\u0001\"");
}

}  // namespace
}  // namespace vornex
