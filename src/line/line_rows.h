// The station's records as rows of the line database: each insert is taken once (a repeated
// push of the same station id and local id changes nothing), and the reading back of jobs and
// backups that the line-wide commands show.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "records/identity_record.h"
#include "records/job_summary.h"

namespace vornex::line {

class TPgConnection;

// Adds the station or notes its contact (name, records still waiting).
bool PushStation(TPgConnection& conn, const std::string& stationId, const std::string& name,
                 std::int64_t waiting, std::string* error);
bool PushBackup(TPgConnection& conn, const std::string& stationId, const TIdentityBackup& backup,
                std::string* error);
// The closing of one backup of `backupStation` by `stationId`.
bool PushClosing(TPgConnection& conn, const std::string& stationId,
                 const std::string& backupStation, std::int64_t backupId,
                 const std::string& closedAt, const std::string& how, std::string* error);
bool PushJob(TPgConnection& conn, const std::string& stationId, const TJobSummary& job,
             std::string* error);

// A job of the line with the station that ran it.
struct TLineJob {
  std::string stationId;
  std::string stationName;
  TJobSummary job;  // id: the station's own job id
};

// Which jobs of the line: the station's history filters, and one station (its id, or a prefix
// of it, or its name).
struct TLineHistoryFilter {
  std::string since;
  std::string until;   // jobs started before it
  std::string serial;  // device bytes
  std::string key;
  std::string station;
  int limit = 0;
};
std::optional<std::vector<TLineJob>> LineHistory(TPgConnection& conn,
                                                 const TLineHistoryFilter& filter,
                                                 std::string* error);

// Called with each job in turn; answers false to stop.
using TLineJobVisitor = std::function<bool(const TLineJob&)>;
// The jobs the filter chooses (its limit aside), oldest first, one at a time: read through a
// server-side cursor a batch at a time, so that a report over the line's millions of jobs holds
// no more than one batch. True when every job was visited or the visitor stopped; false with
// *error when they could not be read.
bool VisitLineJobs(TPgConnection& conn, const TLineHistoryFilter& filter,
                   const TLineJobVisitor& visit, std::string* error);

// An open backup of the line (no closing row names it and no station copied it), with everything
// in it; `backup.id` is its id on the station that took it, `backup.createdAt` that station's
// local time.
struct TLineBackup {
  std::string stationId;
  std::string stationName;
  std::string receivedAt;  // when the line received it: the server's time, never a station's
  TIdentityBackup backup;
};
// The open backups on any station whose serial number (or MEID) is this one, the latest to reach
// the line first. Nullopt with *error when they cannot be read.
std::optional<std::vector<TLineBackup>> OpenLineBackups(TPgConnection& conn, const std::string& sn,
                                                        const std::string& meid,
                                                        std::string* error);

// One station of the line as "vornex line status" prints it.
struct TLineStation {
  std::string stationId;
  std::string name;
  std::string lastContact;  // server time
  std::int64_t waiting = 0;
  std::int64_t openBackups = 0;
  std::int64_t jobs = 0;
};
std::optional<std::vector<TLineStation>> LineStations(TPgConnection& conn, std::string* error);

}  // namespace vornex::line
