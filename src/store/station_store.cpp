// The station record store on SQLite: opening the database file (for writing, or for reading
// only without creating or changing anything) and checking that it is still the file opened.
// Its schema is in store_schema.cpp, identity backups in station_backups.cpp and the jobs'
// history in station_jobs.cpp. Every change is one BEGIN IMMEDIATE transaction on the one
// connection, committed with a full sync of the write-ahead journal before the operation
// answers.
#include "store/station_store.h"

#include <sqlite3.h>

#include <filesystem>

#include "foundation/paths.h"
#include "store/station_store_impl.h"

namespace vornex {
namespace {

// The SQLite URI of a file: '%', '?' and '#' escaped; an absolute path after "file://", so that
// a path beginning with "//" is never taken for a host name.
std::string FileUri(const std::string& path) {
  std::string uri = path.starts_with('/') ? "file://" : "file:";
  for (const char c : path) {
    if (c == '%') {
      uri += "%25";
    } else if (c == '?') {
      uri += "%3f";
    } else if (c == '#') {
      uri += "%23";
    } else {
      uri += c;
    }
  }
  return uri;
}

}  // namespace

std::string DefaultDataFolder() {
  return paths::StateFolder();
}

bool TStationStore::Impl::FilesIntact(std::string* error) const {
  const auto same = [error](const std::string& file, const std::optional<os::TFileIdentity>& was) {
    if (!was) return true;
    std::string why = "another file has taken its name";
    const std::optional<os::TFileIdentity> now = os::FileIdentityOf(file, &why);
    if (now == was) return true;
    SetError(error, "station records " + file +
                        " were deleted or replaced while the station ran (" + why +
                        "); restart the station to open them anew");
    return false;
  };
  return same(path, fileId) && same(JournalPath(), journalId);
}

TStationStore::TStationStore(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TStationStore::~TStationStore() {
  // The next opening trusts a file closed here and skips its full check. A file replaced under
  // the station is not marked.
  if (!impl_ || !impl_->writable) return;
  std::lock_guard lock(impl_->mutex);
  if (impl_->FilesIntact(nullptr)) impl_->db.Exec("UPDATE station SET clean_close = 1");
}

std::unique_ptr<TStationStore> TStationStore::Open(const std::string& dataFolder,
                                                   std::string* error) {
  if (dataFolder.empty()) {
    SetError(error, "no data folder is known for the station records");
    return nullptr;
  }
  std::error_code ec;
  std::filesystem::create_directories(dataFolder, ec);
  std::error_code statEc;
  if (ec || !std::filesystem::is_directory(dataFolder, statEc)) {
    SetError(error, "cannot create the data folder " + dataFolder + ": " +
                        (ec ? ec.message() : std::string("it is not a folder")));
    return nullptr;
  }

  auto impl = std::make_unique<Impl>();
  impl->path = paths::Join(dataFolder, kStoreFileName);
  if (!impl->db.Open(impl->path,
                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX)) {
    SetError(error, "cannot open station records " + impl->path + ": " + impl->db.Message());
    return nullptr;
  }
  if (!PrepareDatabase(impl->db, error) || !impl->ReadStationId(error)) return nullptr;
  std::string why;
  impl->fileId = os::FileIdentityOf(impl->path, &why);
  if (!impl->fileId) {
    SetError(error, "cannot examine station records " + impl->path + ": " + why);
    return nullptr;
  }
  impl->journalId = os::FileIdentityOf(impl->JournalPath(), nullptr);
  impl->writable = true;
  return std::unique_ptr<TStationStore>(new TStationStore(std::move(impl)));
}

std::unique_ptr<TStationStore> TStationStore::OpenReadOnly(const std::string& dataFolder,
                                                           std::string* error) {
  if (dataFolder.empty()) {
    SetError(error, "no data folder is known for the station records");
    return nullptr;
  }
  std::error_code ec;
  if (!std::filesystem::is_directory(paths::FsPath(dataFolder), ec)) {
    SetError(error, "no station records in " + dataFolder + ": the folder does not exist");
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->path = paths::Join(dataFolder, kStoreFileName);
  if (!std::filesystem::is_regular_file(paths::FsPath(impl->path), ec)) {
    SetError(error, "no station records in " + dataFolder + ": it holds no " + kStoreFileName);
    return nullptr;
  }
  // Without a journal no station has the file open (the last connection to close removes it)
  // and the file alone holds every record: it is read as it is, without locks, since a reader
  // that takes them would make the journal and shared-memory files. A station that opens it
  // meanwhile writes into a journal of its own and changes the file only at a checkpoint. With
  // a journal, a station may be writing: the file is read through it, like any other reader.
  const bool journal = std::filesystem::exists(paths::FsPath(impl->JournalPath()), ec);
  const bool opened =
      journal ? impl->db.Open(impl->path, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX)
              : impl->db.Open(FileUri(impl->path) + "?immutable=1",
                              SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX);
  if (!opened) {
    SetError(error, "cannot open station records " + impl->path + ": " + impl->db.Message());
    return nullptr;
  }
  impl->db.SetBusyTimeout(kBusyTimeoutMs);
  if (!CheckSchemaAndFile(impl->db, impl->path, TFileCheck::kNone, &impl->schema, error)) {
    return nullptr;
  }
  if (impl->schema == 0) {
    std::int64_t objects = 0;
    if (!QueryInt(impl->db, "SELECT count(*) FROM sqlite_schema", &objects)) {
      SetError(error, "cannot read station records " + impl->path + ": " + impl->db.Message());
    } else if (objects != 0) {
      SetError(error, impl->path + " holds tables that are not station records");
    } else {
      SetError(error, "no station records in " + dataFolder + ": its " + kStoreFileName +
                          " holds none yet");
    }
    return nullptr;
  }
  if (impl->schema >= 3 && !impl->ReadStationId(error)) return nullptr;
  return std::unique_ptr<TStationStore>(new TStationStore(std::move(impl)));
}

const std::string& TStationStore::Path() const {
  return impl_->path;
}

bool TStationStore::FileIntact(std::string* error) {
  std::lock_guard lock(impl_->mutex);
  return impl_->FilesIntact(error);
}

}  // namespace vornex
