// One connection to the line's PostgreSQL server through libpq, and the rows its statements
// give. Parameters go as text or as bytes; rows come back as text, bytea decoded to its bytes.
// Every statement runs under a time limit of the pacing clock (the server's statement timeout,
// and the station's own limit behind it, after which the connection is dropped), so that a
// slow, stopped or unreachable server costs a failed statement and never a hung thread.
// One thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct pg_conn;

namespace vornex::line {

// The limits of the line's statements, before scaling.
constexpr std::uint32_t kConnectLimitMs = 10'000;
constexpr std::uint32_t kStatementLimitMs = 20'000;

struct TPgParam {
  std::string value;
  bool bytes = false;  // sent as binary (bytea), else as text
  bool null = false;
};
inline TPgParam Text(std::string value) {
  return {std::move(value), false, false};
}
inline TPgParam Bytes(std::string value) {
  return {std::move(value), true, false};
}
inline TPgParam Number(std::int64_t value) {
  return Text(std::to_string(value));
}
inline TPgParam Null() {
  return {{}, false, true};
}

// The rows of a statement: each row its columns as text (bytea columns decoded), null as empty.
struct TPgRows {
  std::vector<std::vector<std::string>> rows;
  std::int64_t affected = 0;  // rows an INSERT, UPDATE or DELETE touched
};

// Why a connection string cannot be used by the station: it does not parse, or it holds a
// password (passwords belong in libpq's password file, service file or environment). Empty
// when it can.
std::string ConnInfoFault(const std::string& conninfo);
// The same for the connection string of the settings; `cut`: it was longer than the 259
// characters the settings keep.
std::string SettingsConnInfoFault(const std::string& conninfo, bool cut);

class TPgConnection {
 public:
  // Connects (libpq connection string or URI; service names and the password file work as
  // libpq has them) and sets the session's limits. Null with *error, libpq's own words.
  static std::unique_ptr<TPgConnection> Connect(const std::string& conninfo, std::string* error);
  ~TPgConnection();
  TPgConnection(const TPgConnection&) = delete;
  TPgConnection& operator=(const TPgConnection&) = delete;

  // Runs one statement with parameters $1, $2, ...; nullopt with *error. After a failure the
  // connection may be broken (Broken()); then it takes no more statements.
  std::optional<TPgRows> Exec(const std::string& sql, const std::vector<TPgParam>& params,
                              std::string* error);
  // Runs statements without parameters (several, separated by ';'). False with *error.
  bool Run(const std::string& sql, std::string* error);
  bool Broken() const;
  // The SQLSTATE of the last failure ("" when none or unknown): 28P01 wrong password, 57014
  // cancelled by the statement timeout ...
  const std::string& LastState() const { return state_; }

 private:
  explicit TPgConnection(pg_conn* conn) : conn_(conn) {}
  bool Send(const std::string& sql, const std::vector<TPgParam>& params);
  pg_conn* conn_;
  bool broken_ = false;
  std::string state_;
};

}  // namespace vornex::line
