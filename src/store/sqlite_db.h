// A thin owner of the SQLite C API for the station record store: a database connection, a
// prepared statement and a write transaction guard. Values always go into statements through
// bindings; only fixed SQL text is executed directly. Failures are reported as false / kError
// and described by the connection's ErrorText ("what failed: sqlite message (path)").
//
// None of these objects locks anything itself; the owner serialises their use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace vornex::sqlite {

class TStatement;

class TDatabase {
 public:
  TDatabase() = default;
  ~TDatabase();
  TDatabase(const TDatabase&) = delete;
  TDatabase& operator=(const TDatabase&) = delete;

  // Opens the file with the SQLITE_OPEN_* flags. False when it cannot be opened (ErrorText
  // tells why); the object is then closed again.
  bool Open(const std::string& path, int flags);
  // True while a connection is held.
  bool IsOpen() const { return db_ != nullptr; }
  // True when the connection could only open the file for reading.
  bool IsReadOnly() const;
  // Runs fixed SQL text (one or more statements, no values). False on the first failure.
  bool Exec(const char* sql);
  // A prepared statement for one SQL statement; not Valid() when it does not compile.
  TStatement Prepare(std::string_view sql);
  // Waits up to this long for another connection's lock before answering busy.
  bool SetBusyTimeout(int milliseconds);

  // Row id given by the last successful INSERT of this connection.
  std::int64_t LastInsertId() const;
  // Rows changed by the last INSERT, UPDATE or DELETE of this connection.
  std::int64_t Changes() const;
  // True while a transaction is open on the connection.
  bool InTransaction() const;

  const std::string& Path() const { return path_; }
  // The message of the connection's last failure (or of the failed Open).
  std::string Message() const;
  // The primary result code of the connection's last failure (SQLITE_CORRUPT ...).
  int Code() const;
  // "what: <Message()> (<path>)".
  std::string ErrorText(std::string_view what) const;

  void Close();

 private:
  sqlite3* db_ = nullptr;
  std::string path_;
  std::string openError_;  // why the last Open failed; kept after the handle is gone
};

class TStatement {
 public:
  enum class TStep { kRow, kDone, kError };

  TStatement() = default;
  ~TStatement();
  TStatement(TStatement&& other) noexcept;
  TStatement& operator=(TStatement&& other) noexcept;
  TStatement(const TStatement&) = delete;
  TStatement& operator=(const TStatement&) = delete;

  // True when the statement compiled.
  bool Valid() const { return stmt_ != nullptr; }

  // Binding by 1-based parameter index; false when the index or the value is refused. Texts
  // and blobs are copied, so the arguments need not outlive the call.
  bool BindInt64(int index, std::int64_t value);
  bool BindText(int index, std::string_view value);
  bool BindBlob(int index, const void* data, std::size_t size);
  bool BindBlob(int index, std::string_view bytes) {
    return BindBlob(index, bytes.data(), bytes.size());
  }
  bool BindNull(int index);

  // Runs the statement to its next row: kRow with a row to read, kDone when finished, kError
  // on failure (the connection's ErrorText tells why).
  TStep Step();
  // Makes the statement ready to run again and clears its bindings.
  void Reset();

  // Column getters of the current row, 0-based. NULL reads as 0 / empty.
  bool ColumnIsNull(int column) const;
  std::int64_t ColumnInt64(int column) const;
  // The column's bytes exactly as stored (text or blob), embedded zero bytes included.
  std::string ColumnText(int column) const;
  std::string ColumnBlob(int column) const;

 private:
  friend class TDatabase;
  explicit TStatement(sqlite3_stmt* stmt) : stmt_(stmt) {}
  sqlite3_stmt* stmt_ = nullptr;
};

// A transaction that is rolled back when it goes out of scope without a successful Commit. A
// write transaction takes the write lock at once (BEGIN IMMEDIATE); a read transaction only
// holds one consistent state of the file for the reads made inside it.
class TTransaction {
 public:
  enum class TMode { kWrite, kRead };

  explicit TTransaction(TDatabase& db, TMode mode = TMode::kWrite);
  ~TTransaction();
  TTransaction(const TTransaction&) = delete;
  TTransaction& operator=(const TTransaction&) = delete;

  // True when the transaction began (for a write transaction: the write lock is held).
  bool Begun() const { return begun_; }
  // Makes the changes durable. False when the commit failed; nothing of it is kept then.
  bool Commit();

 private:
  TDatabase& db_;
  bool begun_ = false;
  bool done_ = false;
};

}  // namespace vornex::sqlite
