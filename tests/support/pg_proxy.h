// A loopback TCP relay in front of a PostgreSQL server that loses an answer on purpose: armed, it
// relays the server's CommandComplete "COMMIT" of the next transaction and then cuts that
// connection before the server's ReadyForQuery arrives, so the client is left not knowing that
// its transaction was committed. Until Reopen it then refuses every new connection (the client
// sees the server go away), so that a test can look at the state the lost answer left.
//
// The server's messages are parsed from the start of the connection: clients must use
// sslmode=disable and gssencmode=disable (no one-byte answers to encryption requests). Linux only.
#pragma once

#include <memory>
#include <string>

namespace vornex::testing {

class TPgProxy {
 public:
  // Listens on a free port of 127.0.0.1 and relays to the server's port there. Null with *error.
  static std::unique_ptr<TPgProxy> Start(int serverPort, std::string* error);
  ~TPgProxy();
  TPgProxy(const TPgProxy&) = delete;
  TPgProxy& operator=(const TPgProxy&) = delete;

  int Port() const;
  // The next COMMIT's answer ends its connection, and connections are refused from then on.
  void CutAfterNextCommit();
  // Relays new connections again.
  void Reopen();
  // Connections cut after a COMMIT so far.
  int Cuts() const;

 private:
  struct Impl;
  explicit TPgProxy(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace vornex::testing
