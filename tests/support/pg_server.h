// A throw-away PostgreSQL 15 server for the line records' tests: a fresh cluster in a temporary
// folder, listening on a free port of 127.0.0.1, that a test starts, stops, kills and restarts as
// it likes; removed with its folder at the end. Linux only.
//
// The server programs come from /usr/lib/postgresql/15/bin, or the folder named by the
// environment variable VORNEX_PG_BINDIR. Run as root (as the tests are in CI), the server runs as
// the system user "postgres", since PostgreSQL refuses to run as root.
//
// The postmaster is a child of the thread that starts it and gets SIGQUIT (an immediate
// shutdown) when that thread ends: start servers from a thread that outlives them.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vornex::testing {

struct TPgServerOptions {
  // ssl=on with a certificate for localhost and 127.0.0.1, signed by a CA of its own (CaFile).
  bool tls = false;
};

class TPgServer {
 public:
  // The superuser that initdb makes.
  static constexpr const char* kAdmin = "vornex_admin";

  // initdb in a new temporary folder, a free port on 127.0.0.1, then starts the server and waits
  // until it accepts connections. Null with *error (the server's log tail included) on failure.
  static std::unique_ptr<TPgServer> Start(const TPgServerOptions& options, std::string* error);
  // Stops the server (immediate) and removes the folder.
  ~TPgServer();
  TPgServer(const TPgServer&) = delete;
  TPgServer& operator=(const TPgServer&) = delete;

  // A fast (SIGINT) or immediate (SIGQUIT) shutdown; waits for the postmaster to exit.
  bool Stop(bool immediate = false, std::string* error = nullptr);
  // A crash: SIGKILL of the postmaster and of its backends, as the kernel's out-of-memory
  // killer or a lost machine would end them; waits until they are gone, so that open
  // connections are broken when it returns.
  bool Kill();
  // Starts the stopped server again on the same folder and port; waits until it accepts
  // connections.
  bool StartAgain(std::string* error = nullptr);
  bool Running() const;

  int Port() const { return port_; }
  const std::string& Folder() const { return folder_; }
  // The server's log (its standard error since the first start): the last lines.
  std::string LogTail(int lines = 30) const;

  // Connection strings over TCP to 127.0.0.1 and the port, never with a password in them: the
  // superuser with its password file, or any role and database, with the password file given.
  std::string AdminConnInfo(const std::string& dbname = "postgres") const;
  std::string ConnInfo(const std::string& user, const std::string& dbname,
                       const std::string& passfile = "") const;
  // Writes a new libpq password file (mode 0600) in the folder, with one entry for this port per
  // user, and returns its path.
  std::string WritePassFile(
      const std::vector<std::pair<std::string, std::string>>& userPasswords) const;
  const std::string& AdminPassFile() const { return adminPassFile_; }
  // With TLS: the CA that signed the server's certificate (SAN DNS:localhost and IP:127.0.0.1),
  // for sslrootcert. Empty without.
  std::string CaFile() const;

  // Runs SQL as the superuser: the rows of the last statement's result, each row its columns as
  // text (NULL as an empty string); nullopt with *error.
  std::optional<std::vector<std::vector<std::string>>> Sql(const std::string& sql,
                                                           const std::string& dbname = "postgres",
                                                           std::string* error = nullptr) const;

 private:
  TPgServer() = default;
  bool Launch(bool retryPort, std::string* error);

  TPgServerOptions options_;
  std::string binDir_;
  std::string folder_;
  std::string adminPassFile_;
  int port_ = 0;
  mutable pid_t pid_ = -1;  // the postmaster, -1 when it has been reaped
  uid_t uid_ = 0;           // the user the server runs as, and its groups
  gid_t gid_ = 0;
  std::vector<gid_t> groups_;
  bool dropPrivileges_ = false;
};

// A value for a libpq connection string, in single quotes: it's becomes 'it\'s'.
std::string ConnQuote(std::string_view value);

}  // namespace vornex::testing
