// Whose backup a device shows it is: by its serial number or MEID, or, answering neither, by NV
// items each blank or equal to the backup's, as each blank rule allows; and the values of a
// job's own backup that its restore could not write back.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "download/data_info.h"
#include "download/identity_evidence.h"
#include "messaging/image_set.h"

namespace vornex {
namespace {

TNvRecord Record(std::uint16_t item, std::uint8_t first) {
  TNvRecord record;
  record.bytes[0] = static_cast<std::uint8_t>(item & 0xFF);
  record.bytes[1] = static_cast<std::uint8_t>(item >> 8);
  record.bytes[2] = first;
  return record;
}

TIdentityBlock Answers(const std::string& sn, const std::string& meid) {
  TIdentityBlock block;
  block.slots[kSlotSn] = sn;
  block.slots[kSlotMeid] = meid;
  return block;
}

// A device's NV items by their first data byte; absent items are not answered.
TNvItemReader Device(std::map<std::uint16_t, std::uint8_t> items, int* reads) {
  return [items, reads](std::uint16_t item) -> std::optional<TNvItemData> {
    ++*reads;
    const auto it = items.find(item);
    if (it == items.end()) return std::nullopt;
    TNvItemData data{};
    data[0] = it->second;
    return data;
  };
}

TEST(EvidenceTest, ADeviceShowsItsBackupOnlyByItsOwnValues) {
  TIdentityBackup saved;
  saved.at = Answers("VX1", "A1");
  saved.nv = {Record(524, 7), Record(856, 9), Record(856, 9)};
  TIdentityBackup noNv = saved;
  noNv.nv.clear();
  TIdentityBackup noIds = saved;
  noIds.at = {};
  const std::map<std::uint16_t, std::uint8_t> blank = {{524, 0}, {856, 0}};
  const std::map<std::uint16_t, std::uint8_t> halfRestored = {{524, 7}, {856, 0}};
  const std::map<std::uint16_t, std::uint8_t> foreign = {{524, 7}, {856, 3}};
  struct Case {
    const char* name;
    TIdentityBlock device;
    const TIdentityBackup* backup;
    TBlankRule rule;
    std::map<std::uint16_t, std::uint8_t> nv;
    TEvidence expected;
    int reads;  // NV items asked
  };
  const std::vector<Case> cases = {
      {"same serial number",
       Answers("VX1", ""),
       &saved,
       TBlankRule::kNothing,
       {},
       TEvidence::kShown,
       0},
      {"same MEID", Answers("", "A1"), &saved, TBlankRule::kNothing, {}, TEvidence::kShown, 0},
      {"same serial, other MEID", Answers("VX1", "B2"), &saved, TBlankRule::kNvItems, blank,
       TEvidence::kOtherDevice, 0},
      {"other serial", Answers("VX2", ""), &saved, TBlankRule::kOwnRewrite, blank,
       TEvidence::kOtherDevice, 0},
      {"a serial, backup without any", Answers("VX2", ""), &noIds, TBlankRule::kOwnRewrite, blank,
       TEvidence::kOtherDevice, 0},
      {"blank, NV blank", Answers("", ""), &saved, TBlankRule::kNvItems, blank, TEvidence::kShown,
       2},
      {"blank, restore cut off", Answers("", ""), &saved, TBlankRule::kNvItems, halfRestored,
       TEvidence::kShown, 2},
      {"blank, other NV", Answers("", ""), &saved, TBlankRule::kNvItems, foreign,
       TEvidence::kOtherDevice, 2},
      {"blank, NV not answered",
       Answers("", ""),
       &saved,
       TBlankRule::kNvItems,
       {},
       TEvidence::kNotShown,
       1},
      {"blank after a rewrite of a stranger", Answers("", ""), &saved, TBlankRule::kNothing, blank,
       TEvidence::kNotShown, 0},
      {"blank, backup without NV", Answers("", ""), &noNv, TBlankRule::kNvItems, blank,
       TEvidence::kNotShown, 0},
      {"blank after its own rewrite, no NV", Answers("", ""), &noNv, TBlankRule::kOwnRewrite, blank,
       TEvidence::kShown, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int reads = 0;
    const TEvidenceFinding found = FindEvidence(c.device, *c.backup, c.rule, Device(c.nv, &reads));
    EXPECT_EQ(found.evidence, c.expected) << found.why;
    EXPECT_FALSE(found.why.empty());
    EXPECT_EQ(reads, c.reads);
  }
}

TEST(EvidenceTest, AJobsOwnValuesAreCheckedAsItsRestoreWouldWriteThem) {
  const std::string longValue(60, '7');
  struct Case {
    const char* name;
    std::string sn;
    std::uint32_t switches;
    std::string fault;  // start of the expected fault; empty: none
  };
  const std::vector<Case> cases = {
      {"plain", "VX1234", kItemAt | kItemNv, ""},
      {"chains a command", "VX1;+CFUN=0", kItemAt, "SN: "},
      {"a quote", "VX\"1", kItemAt, "SN: "},
      {"too long for its command", longValue, kItemAt, "SN: "},
      {"evidence only, never written", "VX1;2", kItemNv, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TIdentityBackup backup;
    backup.itemSwitches = c.switches;
    backup.at.slots[kSlotSn] = c.sn;
    backup.nv = {Record(524, 1)};
    const std::string fault = ValuesFault(backup);
    if (c.fault.empty()) {
      EXPECT_EQ(fault, "");
    } else {
      EXPECT_EQ(fault.rfind(c.fault, 0), 0u) << fault;
    }
  }
  TIdentityBackup unmarked;
  unmarked.nv = {Record(0xFFFF, 1)};
  EXPECT_NE(ValuesFault(unmarked), "");
}

}  // namespace
}  // namespace vornex
