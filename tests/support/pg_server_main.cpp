// vornex-test-pgserver [--tls]: a throw-away PostgreSQL server for scripts. Starts one, prints
//   port=<N> admin=vornex_admin passfile=<path> folder=<path> [ca=<path>]
// as one line on standard output, then serves until its standard input ends or it gets SIGTERM
// or SIGINT; then stops the server and removes its folder. Exit status 0, or 1 when the server
// would not start or stop (the reason on standard error), 2 on a wrong argument.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/pg_server.h"

namespace {

int stopPipe[2] = {-1, -1};

void OnStopSignal(int) {
  const int saved = errno;
  const char byte = 0;
  [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &byte, 1);
  errno = saved;
}

// Until standard input reaches its end (or is closed) or a stop signal arrives.
void WaitForEnd() {
  pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
  char buffer[4096];
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if (fds[0].revents & POLLNVAL) return;
    if (fds[0].revents != 0) {
      const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof(buffer));
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  vornex::testing::TPgServerOptions options;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--tls") == 0) {
      options.tls = true;
    } else {
      std::fprintf(stderr, "usage: %s [--tls]\n", argv[0]);
      return 2;
    }
  }

  // The stop signals are noted from the start, so that one during the server's start stops it
  // as soon as it is up.
  if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("pipe2");
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  ::sigemptyset(&action.sa_mask);
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);  // a reader that went away ends the wait through stdin instead

  std::string error;
  auto server = vornex::testing::TPgServer::Start(options, &error);
  if (!server) {
    std::fprintf(stderr, "vornex-test-pgserver: %s\n", error.c_str());
    return 1;
  }
  std::string line = "port=" + std::to_string(server->Port()) +
                     " admin=" + vornex::testing::TPgServer::kAdmin +
                     " passfile=" + server->AdminPassFile() + " folder=" + server->Folder();
  if (options.tls) line += " ca=" + server->CaFile();
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);

  WaitForEnd();
  const bool stopped = server->Stop(false, &error);
  server.reset();
  if (!stopped) {
    std::fprintf(stderr, "vornex-test-pgserver: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
