// Connection, statement and transaction guard over the SQLite C API.
#include "store/sqlite_db.h"

#include <sqlite3.h>

#include <utility>

namespace vornex::sqlite {

TDatabase::~TDatabase() {
  Close();
}

bool TDatabase::Open(const std::string& path, int flags) {
  Close();
  path_ = path;
  openError_.clear();
  sqlite3* db = nullptr;
  const int rc = ::sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    openError_ = db != nullptr ? ::sqlite3_errmsg(db) : ::sqlite3_errstr(rc);
    ::sqlite3_close_v2(db);
    return false;
  }
  db_ = db;
  return true;
}

bool TDatabase::IsReadOnly() const {
  return db_ != nullptr && ::sqlite3_db_readonly(db_, "main") == 1;
}

bool TDatabase::Exec(const char* sql) {
  return db_ != nullptr && ::sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

TStatement TDatabase::Prepare(std::string_view sql) {
  if (db_ == nullptr) return TStatement();
  sqlite3_stmt* stmt = nullptr;
  if (::sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr) !=
      SQLITE_OK) {
    ::sqlite3_finalize(stmt);
    return TStatement();
  }
  return TStatement(stmt);
}

bool TDatabase::SetBusyTimeout(int milliseconds) {
  return db_ != nullptr && ::sqlite3_busy_timeout(db_, milliseconds) == SQLITE_OK;
}

std::int64_t TDatabase::LastInsertId() const {
  return db_ != nullptr ? ::sqlite3_last_insert_rowid(db_) : 0;
}

std::int64_t TDatabase::Changes() const {
  return db_ != nullptr ? ::sqlite3_changes64(db_) : 0;
}

bool TDatabase::InTransaction() const {
  return db_ != nullptr && ::sqlite3_get_autocommit(db_) == 0;
}

std::string TDatabase::Message() const {
  return db_ != nullptr ? std::string(::sqlite3_errmsg(db_)) : openError_;
}

int TDatabase::Code() const {
  return db_ != nullptr ? ::sqlite3_errcode(db_) : SQLITE_CANTOPEN;
}

std::string TDatabase::ErrorText(std::string_view what) const {
  std::string text(what);
  text += ": " + Message() + " (" + path_ + ")";
  return text;
}

void TDatabase::Close() {
  if (db_ == nullptr) return;
  // close_v2 defers the close until every statement is finalised, so an outstanding statement
  // never leaks the connection.
  ::sqlite3_close_v2(db_);
  db_ = nullptr;
}

TStatement::~TStatement() {
  ::sqlite3_finalize(stmt_);
}

TStatement::TStatement(TStatement&& other) noexcept : stmt_(std::exchange(other.stmt_, nullptr)) {}

TStatement& TStatement::operator=(TStatement&& other) noexcept {
  if (this != &other) {
    ::sqlite3_finalize(stmt_);
    stmt_ = std::exchange(other.stmt_, nullptr);
  }
  return *this;
}

bool TStatement::BindInt64(int index, std::int64_t value) {
  return stmt_ != nullptr && ::sqlite3_bind_int64(stmt_, index, value) == SQLITE_OK;
}

bool TStatement::BindText(int index, std::string_view value) {
  return stmt_ != nullptr && ::sqlite3_bind_text64(stmt_, index, value.data(), value.size(),
                                                   SQLITE_TRANSIENT, SQLITE_UTF8) == SQLITE_OK;
}

bool TStatement::BindBlob(int index, const void* data, std::size_t size) {
  if (stmt_ == nullptr) return false;
  // A null pointer would bind NULL; an empty value stays an empty blob.
  static const char kEmpty = 0;
  return ::sqlite3_bind_blob64(stmt_, index, size != 0 ? data : &kEmpty, size, SQLITE_TRANSIENT) ==
         SQLITE_OK;
}

bool TStatement::BindNull(int index) {
  return stmt_ != nullptr && ::sqlite3_bind_null(stmt_, index) == SQLITE_OK;
}

TStatement::TStep TStatement::Step() {
  if (stmt_ == nullptr) return TStep::kError;
  switch (::sqlite3_step(stmt_)) {
    case SQLITE_ROW:
      return TStep::kRow;
    case SQLITE_DONE:
      return TStep::kDone;
    default:
      return TStep::kError;
  }
}

void TStatement::Reset() {
  if (stmt_ == nullptr) return;
  ::sqlite3_reset(stmt_);
  ::sqlite3_clear_bindings(stmt_);
}

bool TStatement::ColumnIsNull(int column) const {
  return stmt_ == nullptr || ::sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

std::int64_t TStatement::ColumnInt64(int column) const {
  return stmt_ != nullptr ? ::sqlite3_column_int64(stmt_, column) : 0;
}

std::string TStatement::ColumnText(int column) const {
  if (stmt_ == nullptr) return {};
  const auto* text = reinterpret_cast<const char*>(::sqlite3_column_text(stmt_, column));
  const int size = ::sqlite3_column_bytes(stmt_, column);
  return text != nullptr ? std::string(text, static_cast<std::size_t>(size)) : std::string();
}

std::string TStatement::ColumnBlob(int column) const {
  if (stmt_ == nullptr) return {};
  const auto* data = static_cast<const char*>(::sqlite3_column_blob(stmt_, column));
  const int size = ::sqlite3_column_bytes(stmt_, column);
  return data != nullptr ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

TTransaction::TTransaction(TDatabase& db, TMode mode) : db_(db) {
  begun_ = db_.Exec(mode == TMode::kWrite ? "BEGIN IMMEDIATE" : "BEGIN");
}

TTransaction::~TTransaction() {
  // A failed COMMIT may already have rolled the transaction back itself.
  if (begun_ && !done_ && db_.InTransaction()) db_.Exec("ROLLBACK");
}

bool TTransaction::Commit() {
  if (!begun_ || done_) return false;
  if (!db_.Exec("COMMIT")) return false;
  done_ = true;
  return true;
}

}  // namespace vornex::sqlite
