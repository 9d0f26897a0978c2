// SQLite for the hives: its result codes as Windows error numbers, statements, transactions.
#pragma once
#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"
#include "platform/registry.h"

namespace platform::registry_detail {

inline uint32_t ErrorFromSqlite(int rc) {
  switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return kErrorSuccess;
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_AUTH:
      return kErrorAccessDenied;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return kErrorBusy;
    case SQLITE_NOMEM:
      return kErrorNotEnoughMemory;
    case SQLITE_FULL:
      return kErrorDiskFull;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return kErrorRegistryCorrupt;
    default:
      return kErrorRegistryIoFailed;
  }
}

// A prepared statement whose parameters are bound in order.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int64_t number) {
    if (rc_ == SQLITE_OK) rc_ = sqlite3_bind_int64(stmt_, ++bound_, number);
    return *this;
  }
  Statement& Bind(std::string_view text) {
    if (rc_ == SQLITE_OK) {
      rc_ = sqlite3_bind_text(stmt_, ++bound_, text.empty() ? "" : text.data(),
                              static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    return *this;
  }
  Statement& BindBlob(const void* data, uint32_t size) {
    // A null pointer would bind NULL; an empty value is a zero-length blob.
    if (rc_ == SQLITE_OK) {
      rc_ = sqlite3_bind_blob(stmt_, ++bound_, size == 0 ? "" : data, static_cast<int>(size),
                              SQLITE_TRANSIENT);
    }
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return rc_ == SQLITE_OK ? sqlite3_step(stmt_) : rc_; }
  // Makes the statement ready to run again with new parameters.
  Statement& Reset() {
    if (rc_ == SQLITE_OK) sqlite3_reset(stmt_);
    bound_ = 0;
    return *this;
  }
  // Runs a statement that returns no rows.
  uint32_t Run() {
    int rc = Step();
    return rc == SQLITE_DONE ? kErrorSuccess : ErrorFromSqlite(rc == SQLITE_ROW ? SQLITE_ERROR : rc);
  }
  int64_t Int(int column) { return sqlite3_column_int64(stmt_, column); }
  std::string Text(int column) {
    const void* text = sqlite3_column_blob(stmt_, column);
    int size = sqlite3_column_bytes(stmt_, column);
    return text != nullptr ? std::string(static_cast<const char*>(text), size) : std::string();
  }
  std::vector<uint8_t> Blob(int column) {
    const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, column));
    int size = sqlite3_column_bytes(stmt_, column);
    return data != nullptr ? std::vector<uint8_t>(data, data + size) : std::vector<uint8_t>();
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int rc_ = SQLITE_OK;
  int bound_ = 0;
};

// BEGIN ... COMMIT; rolled back unless committed. A writer takes the write lock at the start,
// so that a change never fails half-way for a lock another process holds. Inside a longer
// transaction a savepoint stands in for it.
class Transaction {
 public:
  enum Kind { kRead, kWrite, kSavepoint };

  Transaction(sqlite3* db, Kind kind) : db_(db), kind_(kind) {
    static constexpr const char* kBegin[] = {"BEGIN", "BEGIN IMMEDIATE", "SAVEPOINT change"};
    rc_ = sqlite3_exec(db_, kBegin[kind], nullptr, nullptr, nullptr);
  }
  ~Transaction() {
    if (rc_ == SQLITE_OK && !committed_) {
      sqlite3_exec(db_, kind_ == kSavepoint ? "ROLLBACK TO change; RELEASE change" : "ROLLBACK",
                   nullptr, nullptr, nullptr);
    }
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  uint32_t Error() const { return ErrorFromSqlite(rc_); }
  uint32_t Commit() {
    int rc = sqlite3_exec(db_, kind_ == kSavepoint ? "RELEASE change" : "COMMIT", nullptr, nullptr,
                          nullptr);
    committed_ = rc == SQLITE_OK;
    return ErrorFromSqlite(rc);
  }

 private:
  sqlite3* db_;
  Kind kind_;
  int rc_;
  bool committed_ = false;
};

}  // namespace platform::registry_detail
