// The line database: the schema that every station of a line pushes into (in the PostgreSQL
// schema "line"), its forward migrations, the roles, and the check a station makes before it
// pushes.
//
// Roles: the owner (kOwnerRole, no login) owns the schema and its tables and runs the
// migrations; stations log in with a role that is a member of kStationRole, which may read
// everything and insert history (backups, closings, jobs), may update only the contact columns
// of its station's row, and may neither delete nor change history. A backup's closing is a row
// of its own, never an update of the backup. Every pushed row carries the station's id and its
// local id, unique together, so a push repeated after a lost answer is taken once.
//
// The database, not the station, holds every row to its login (row-level security): a login
// registers one station, at its first contact, under a name no other station of the line has
// and that holds no control character; it adds backups, closings and jobs in that station's name
// only, and closes another station's backup only beside the closing of its own copy of it.
#pragma once

#include <cstdint>
#include <string>

namespace vornex::line {

class TPgConnection;

constexpr const char* kOwnerRole = "vornex_line_owner";
constexpr const char* kStationRole = "vornex_station";

// The newest schema of the line database this station knows.
std::int64_t NewestLineSchema();

// What "vornex line init" did.
struct TLineInitReport {
  std::int64_t schemaBefore = 0;  // 0: the database had no line schema
  std::int64_t schemaAfter = 0;
  bool rolesCreated = false;
};

// Creates the roles when missing, the schema when missing, and brings it to the newest
// version, all in one transaction, on a connection of a role that may create roles (or where
// they exist) and owns or may create the schema. A station login role is made by the
// database's administrator (CREATE ROLE ... LOGIN IN ROLE vornex_station). False with *error;
// nothing is changed then.
// `target`: the schema to stop at (the newest unless an older line is to be made).
bool InitLine(TPgConnection& admin, TLineInitReport* report, std::string* error,
              std::int64_t target = NewestLineSchema());

// Reads the line's schema into *version (0: none). True when a station of this version can push
// into it; false with *error when it cannot be read, is missing or older ("run vornex line
// init"), or is newer than this station knows (*version > NewestLineSchema()).
bool CheckLineSchema(TPgConnection& conn, std::int64_t* version, std::string* error);

}  // namespace vornex::line
