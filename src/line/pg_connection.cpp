// The line's connection on libpq: blocking connection set-up under libpq's connect_timeout,
// statements sent asynchronously and waited for under the pacing clock's limit.
#include "line/pg_connection.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "foundation/pacing.h"
#include "line/line_os.h"

namespace vornex::line {
namespace {

constexpr Oid kByteaOid = 17;

struct TResultFree {
  void operator()(PGresult* r) const { PQclear(r); }
};
using TResult = std::unique_ptr<PGresult, TResultFree>;

// Whole scaled milliseconds of a limit, at least 1.
long long ScaledMs(std::uint32_t ms) {
  const auto scaled =
      std::chrono::duration_cast<std::chrono::milliseconds>(pacing::Scaled(ms)).count();
  return std::max<long long>(1, scaled);
}

// libpq's message on one line.
std::string OneLine(const char* message) {
  std::string text = message != nullptr ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text.empty() ? "no message from the server" : text;
}

}  // namespace

std::string ConnInfoFault(const std::string& conninfo) {
  char* message = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &message);
  if (options == nullptr) {
    std::string why = "the line's connection string does not parse: " + OneLine(message);
    PQfreemem(message);
    return why;
  }
  std::string fault;
  for (PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
    if (std::string(o->keyword) == "password" && o->val != nullptr && *o->val != '\0') {
      fault =
          "the line's connection string holds a password: keep it in libpq's password file "
          "(PGPASSFILE or the user's pgpass file) or service file instead";
    }
  }
  PQconninfoFree(options);
  return fault;
}

std::string SettingsConnInfoFault(const std::string& conninfo, bool cut) {
  return cut ? "the line's connection string is longer than 259 characters"
             : ConnInfoFault(conninfo);
}

std::unique_ptr<TPgConnection> TPgConnection::Connect(const std::string& conninfo,
                                                      std::string* error) {
  // The station's defaults come first, so that the connection string's own settings win.
  const std::string timeout =
      std::to_string(std::max<long long>(2, (ScaledMs(kConnectLimitMs) + 999) / 1000));
  const char* keywords[] = {"connect_timeout", "application_name", "dbname", nullptr};
  const char* values[] = {timeout.c_str(), "vornex", conninfo.c_str(), nullptr};
  PGconn* conn = PQconnectdbParams(keywords, values, 1);
  if (conn == nullptr) {
    *error = "out of memory for a line connection";
    return nullptr;
  }
  std::unique_ptr<TPgConnection> connection(new TPgConnection(conn));
  // The server's notices (a shutdown's "terminating connection" among them) are not the
  // operator's: a failure shows in the statement that meets it.
  PQsetNoticeProcessor(
      conn, [](void*, const char*) {}, nullptr);
  if (PQstatus(conn) != CONNECTION_OK) {
    *error = OneLine(PQerrorMessage(conn));
    return nullptr;
  }
  const std::string limits =
      "SET statement_timeout = " + std::to_string(ScaledMs(kStatementLimitMs)) +
      "; SET client_min_messages = warning";
  if (!connection->Run(limits, error)) return nullptr;
  return connection;
}

TPgConnection::~TPgConnection() {
  PQfinish(conn_);
}

bool TPgConnection::Broken() const {
  return broken_ || PQstatus(conn_) != CONNECTION_OK;
}

bool TPgConnection::Send(const std::string& sql, const std::vector<TPgParam>& params) {
  if (params.empty()) return PQsendQuery(conn_, sql.c_str()) == 1;
  std::vector<const char*> values;
  std::vector<int> lengths;
  std::vector<int> formats;
  for (const TPgParam& p : params) {
    values.push_back(p.null ? nullptr : p.value.data());
    lengths.push_back(static_cast<int>(p.value.size()));
    formats.push_back(p.bytes ? 1 : 0);
  }
  return PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr,
                           values.data(), lengths.data(), formats.data(), 0) == 1;
}

std::optional<TPgRows> TPgConnection::Exec(const std::string& sql,
                                           const std::vector<TPgParam>& params,
                                           std::string* error) {
  state_.clear();
  if (Broken()) {
    *error = "the line connection is broken";
    return std::nullopt;
  }
  if (!Send(sql, params)) {
    *error = OneLine(PQerrorMessage(conn_));
    return std::nullopt;
  }
  // The server cancels a statement at its statement timeout; this limit, a little later, is for
  // a server that no longer answers at all.
  const pacing::TDeadline deadline(kStatementLimitMs + kConnectLimitMs);
  while (PQisBusy(conn_) == 1) {
    if (deadline.Expired()) {
      broken_ = true;
      *error = "the line server did not answer in time";
      return std::nullopt;
    }
    if (WaitReadable(PQsocket(conn_), std::min(deadline.RemainingMs(), 1000)) &&
        PQconsumeInput(conn_) == 0) {
      broken_ = true;
      *error = OneLine(PQerrorMessage(conn_));
      return std::nullopt;
    }
  }
  TPgRows rows;
  std::string failure;
  for (TResult r(PQgetResult(conn_)); r; r.reset(PQgetResult(conn_))) {
    const ExecStatusType status = PQresultStatus(r.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      if (failure.empty()) {
        failure = OneLine(PQresultErrorMessage(r.get()));
        const char* state = PQresultErrorField(r.get(), PG_DIAG_SQLSTATE);
        state_ = state != nullptr ? state : "";
      }
      continue;
    }
    rows.rows.clear();
    const char* affected = PQcmdTuples(r.get());
    rows.affected = (affected != nullptr && *affected != '\0') ? std::atoll(affected) : 0;
    const int columns = PQnfields(r.get());
    for (int i = 0; i < PQntuples(r.get()); ++i) {
      auto& row = rows.rows.emplace_back();
      for (int c = 0; c < columns; ++c) {
        const char* text = PQgetvalue(r.get(), i, c);
        if (PQgetisnull(r.get(), i, c) != 0) {
          row.emplace_back();
        } else if (PQftype(r.get(), c) == kByteaOid) {
          std::size_t length = 0;
          unsigned char* bytes =
              PQunescapeBytea(reinterpret_cast<const unsigned char*>(text), &length);
          row.emplace_back(reinterpret_cast<const char*>(bytes), bytes != nullptr ? length : 0);
          PQfreemem(bytes);
        } else {
          row.emplace_back(text);
        }
      }
    }
  }
  if (!failure.empty()) {
    *error = failure;
    return std::nullopt;
  }
  if (PQstatus(conn_) != CONNECTION_OK) {
    *error = OneLine(PQerrorMessage(conn_));
    return std::nullopt;
  }
  return rows;
}

bool TPgConnection::Run(const std::string& sql, std::string* error) {
  return Exec(sql, {}, error).has_value();
}

}  // namespace vornex::line
