// The lossy relay: one thread polls the listener and every relayed connection, passes the
// client's bytes on as they come and the server's message by message, and cuts a connection
// after the COMMIT it was armed for.
#include "support/pg_proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace vornex::testing {
namespace {

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

}  // namespace

struct TPgProxy::Impl {
  // A client's connection and the relay's own to the server, with the server's bytes of a
  // message not yet whole.
  struct TPair {
    int client, server;
    std::string fromServer;
  };
  int serverPort = 0;
  int listener = -1;
  int port = 0;
  int wake[2] = {-1, -1};
  std::mutex mutex;
  bool armed = false;   // guarded by mutex
  bool refuse = false;  // guarded by mutex
  int cuts = 0;         // guarded by mutex
  std::vector<TPair> pairs;
  std::thread thread;

  void Accept() {
    const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(serverPort);
    std::unique_lock lock(mutex);
    if (refuse || server < 0 ||
        ::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
      if (server >= 0) ::close(server);
      ::close(client);  // refused, or the server is down: so is the relay
      return;
    }
    pairs.push_back({client, server, {}});
  }

  // Relays the whole messages the server has sent; false once the connection is to be cut.
  bool RelayServer(TPair& pair) {
    static constexpr char kCommit[] = "COMMIT";  // with its NUL, the message's whole tag
    std::string& bytes = pair.fromServer;
    while (bytes.size() >= 5) {
      std::uint32_t length = 0;
      std::memcpy(&length, bytes.data() + 1, 4);
      const std::size_t total = 1 + static_cast<std::size_t>(ntohl(length));
      if (bytes.size() < total) break;
      const bool commit = bytes[0] == 'C' && total == 5 + sizeof(kCommit) &&
                          std::memcmp(bytes.data() + 5, kCommit, sizeof(kCommit)) == 0;
      if (!SendAll(pair.client, bytes.data(), total)) return false;
      bytes.erase(0, total);
      std::lock_guard lock(mutex);
      if (commit && armed) {
        armed = false;
        refuse = true;
        ++cuts;
        return false;
      }
    }
    return true;
  }

  void Run() {
    char buffer[16384];
    for (;;) {
      std::vector<pollfd> fds = {{wake[0], POLLIN, 0}, {listener, POLLIN, 0}};
      for (const TPair& pair : pairs) {
        fds.push_back({pair.client, POLLIN, 0});
        fds.push_back({pair.server, POLLIN, 0});
      }
      if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) return;
      if (fds[0].revents != 0) return;  // asked to stop
      for (std::size_t i = pairs.size(); i-- > 0;) {
        TPair& pair = pairs[i];
        bool keep = true;
        if (fds[2 + 2 * i].revents != 0) {
          const ssize_t n = ::read(pair.client, buffer, sizeof(buffer));
          keep = n > 0 && SendAll(pair.server, buffer, static_cast<std::size_t>(n));
        }
        if (keep && fds[3 + 2 * i].revents != 0) {
          const ssize_t n = ::read(pair.server, buffer, sizeof(buffer));
          if (n > 0) pair.fromServer.append(buffer, static_cast<std::size_t>(n));
          keep = n > 0 && RelayServer(pair);
        }
        if (keep) continue;
        ::close(pair.client);
        ::close(pair.server);
        pairs.erase(pairs.begin() + static_cast<std::ptrdiff_t>(i));
      }
      if (fds[1].revents != 0) Accept();
    }
  }
};

std::unique_ptr<TPgProxy> TPgProxy::Start(int serverPort, std::string* error) {
  std::unique_ptr<TPgProxy> proxy(new TPgProxy(std::make_unique<Impl>()));
  Impl& p = *proxy->impl_;
  p.serverPort = serverPort;
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof(address);
  p.listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (p.listener < 0 || ::pipe2(p.wake, O_CLOEXEC) != 0 ||
      ::bind(p.listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(p.listener, 16) != 0 ||
      ::getsockname(p.listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    *error = std::string("cannot listen on 127.0.0.1: ") + std::strerror(errno);
    return nullptr;
  }
  p.port = ntohs(address.sin_port);
  p.thread = std::thread([&p] { p.Run(); });
  return proxy;
}

TPgProxy::TPgProxy(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TPgProxy::~TPgProxy() {
  if (impl_->thread.joinable()) {
    const char stop = 1;
    [[maybe_unused]] const ssize_t n = ::write(impl_->wake[1], &stop, 1);
    impl_->thread.join();
  }
  for (const Impl::TPair& pair : impl_->pairs) {
    ::close(pair.client);
    ::close(pair.server);
  }
  for (const int fd : {impl_->listener, impl_->wake[0], impl_->wake[1]}) {
    if (fd >= 0) ::close(fd);
  }
}

int TPgProxy::Port() const {
  return impl_->port;
}

void TPgProxy::CutAfterNextCommit() {
  std::lock_guard lock(impl_->mutex);
  impl_->armed = true;
}

void TPgProxy::Reopen() {
  std::lock_guard lock(impl_->mutex);
  impl_->refuse = false;
}

int TPgProxy::Cuts() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->cuts;
}

}  // namespace vornex::testing
