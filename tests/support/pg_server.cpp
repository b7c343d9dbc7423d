#include "support/pg_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <thread>

namespace vornex::testing {
namespace {

using Clock = std::chrono::steady_clock;

// How long the server may take to accept connections, or to stop: generous, for a loaded
// machine; a server that is well answers within a second.
constexpr auto kServerLimit = std::chrono::seconds(60);
constexpr auto kPollInterval = std::chrono::milliseconds(20);
// Starts that find their port taken since it was chosen try another this many times.
constexpr int kPortAttempts = 5;

constexpr const char* kDefaultBinDir = "/usr/lib/postgresql/15/bin";
constexpr const char* kSetupHint = " (run scripts/setup.sh)";

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

std::string ReadAll(const std::string& path, std::streamoff from = 0) {
  std::ifstream in(path, std::ios::binary);
  if (from > 0) in.seekg(from);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::streamoff FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<std::streamoff>(st.st_size) : 0;
}

std::string LastLines(const std::string& text, int lines) {
  std::size_t start = text.size();
  if (start > 0 && text[start - 1] == '\n') --start;
  for (int n = 0; n < lines && start > 0; ++n) {
    const std::size_t newline = text.rfind('\n', start - 1);
    start = newline == std::string::npos ? 0 : newline;
  }
  return text.substr(start == 0 ? 0 : start + 1);
}

// Writes the bytes to a new file and closes it.
bool WriteAndClose(int fd, const std::string& bytes) {
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return ::close(fd) == 0 && done == bytes.size();
}

bool WriteNewFile(const std::string& path, const std::string& bytes, mode_t mode) {
  return WriteAndClose(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode), bytes);
}

std::string RandomPassword() {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  std::uniform_int_distribution<std::size_t> pick(0, sizeof(kAlphabet) - 2);
  std::string password;
  for (int i = 0; i < 24; ++i) password += kAlphabet[pick(random)];
  return password;
}

// A port of 127.0.0.1 that nobody listens on just now; 0 when none is given.
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

// A program in the absolute folders of PATH: the children run in other folders.
std::string FindInPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = folders.substr(start, end - start);
    const std::string candidate = folder + "/" + program;
    if (folder.starts_with('/') && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

// Who a child runs as: the current user, or (dropped) another user and its groups.
struct TCredentials {
  bool drop = false;
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
};

// Waits for a child, retrying after signals: its wait status, -2 while it runs (WNOHANG), or -1.
int Reap(pid_t pid, int flags = 0) {
  int status = 0;
  pid_t done;
  do {
    done = ::waitpid(pid, &status, flags);
  } while (done < 0 && errno == EINTR);
  if (done == 0) return -2;
  return done == pid ? status : -1;
}

// What a child could not do before its program ran.
enum class TSpawnStep : int { Credentials, DeathSignal, Input, Output, Folder, Exec };

// Starts a program as a child: its standard input /dev/null, its output appended to a file,
// no other descriptor of this process, default signal handling, its working folder `folder`.
// Everything that allocates happens before fork: the child of a threaded process may only make
// async-signal-safe calls. With deathSignal the child gets SIGQUIT when this thread ends; the
// kernel clears that mark when the credentials change, so it is set after they have. A child
// that fails before its program runs says which step failed, and why, through a pipe that the
// exec closes; -1 with *error then.
pid_t Spawn(const std::vector<std::string>& args, const std::string& output,
            const std::string& folder, const TCredentials& who, bool deathSignal,
            std::string* error) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    SetError(error, std::string("cannot make a pipe: ") + std::strerror(errno));
    return -1;
  }
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const auto fail = [&](TSpawnStep step) {
      const int failure[2] = {static_cast<int>(step), errno};
      [[maybe_unused]] const ssize_t n = ::write(report[1], failure, sizeof(failure));
      ::_exit(127);
    };
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig = 1; sig < NSIG; ++sig) ::signal(sig, SIG_DFL);
    if (who.drop && (::setgroups(who.groups.size(), who.groups.data()) != 0 ||
                     ::setgid(who.gid) != 0 || ::setuid(who.uid) != 0)) {
      fail(TSpawnStep::Credentials);
    }
    if (deathSignal && ::prctl(PR_SET_PDEATHSIG, SIGQUIT) != 0) fail(TSpawnStep::DeathSignal);
    if (deathSignal && ::getppid() != parent) ::_exit(127);  // the parent went before the mark
    const int in = ::open("/dev/null", O_RDONLY);
    if (in < 0 || ::dup2(in, 0) < 0) fail(TSpawnStep::Input);
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (out < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0) fail(TSpawnStep::Output);
    if (::chdir(folder.c_str()) != 0) fail(TSpawnStep::Folder);
    // Descriptor 3 is the report pipe, closed by the exec; every higher one goes now.
    if (::dup2(report[1], 3) < 0 || ::fcntl(3, F_SETFD, FD_CLOEXEC) < 0) ::_exit(127);
    report[1] = 3;
    if (::close_range(4, ~0U, 0) != 0) {
      for (int fd = 4; fd < 65536; ++fd) ::close(fd);
    }
    ::execv(argv[0], argv.data());
    fail(TSpawnStep::Exec);
  }
  const int spawnErrno = errno;
  ::close(report[1]);
  if (pid < 0) {
    ::close(report[0]);
    SetError(error, "cannot start " + args[0] + ": " + std::strerror(spawnErrno));
    return -1;
  }
  int failure[2] = {0, 0};
  ssize_t n;
  do {
    n = ::read(report[0], failure, sizeof(failure));
  } while (n < 0 && errno == EINTR);
  ::close(report[0]);
  if (n <= 0) return pid;  // the program runs

  Reap(pid);
  static constexpr const char* kSteps[] = {"take its user's credentials",
                                           "set its parent-death signal",
                                           "open /dev/null",
                                           "open its output ",
                                           "enter the folder ",
                                           "run it"};
  const auto step = static_cast<std::size_t>(failure[0]);
  std::string text = "cannot start " + args[0] + (who.drop ? " as the user postgres" : "") +
                     ": could not " + (step < std::size(kSteps) ? kSteps[step] : "start it");
  if (step == static_cast<std::size_t>(TSpawnStep::Output)) text += output;
  if (step == static_cast<std::size_t>(TSpawnStep::Folder)) text += folder;
  text += std::string(": ") + std::strerror(failure[1]);
  if (who.drop && failure[1] == EACCES) {
    text += " (the user postgres must reach the temporary folder: set TMPDIR to one it can)";
  }
  SetError(error, text);
  return -1;
}

std::string ExitText(int status) {
  if (status == -1) return "was lost";
  if (WIFEXITED(status)) return "exited with " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "was killed by signal " + std::to_string(WTERMSIG(status));
  return "ended";
}

// Runs a program to its end; false with *error (the program's output tail) when it fails.
bool Run(const std::vector<std::string>& args, const std::string& output, const std::string& folder,
         const TCredentials& who, std::string* error) {
  const pid_t pid = Spawn(args, output, folder, who, false, error);
  if (pid < 0) return false;
  const int status = Reap(pid);
  if (status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  SetError(error, args[0] + " " + ExitText(status) + ":\n" + LastLines(ReadAll(output), 20));
  return false;
}

// A process's state letter from /proc (R, S, T, Z, ...); 0 when there is no such process.
char ProcessState(pid_t pid) {
  const std::string stat = ReadAll("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t end = stat.rfind(')');  // after the program name, which may hold anything
  return end != std::string::npos && end + 2 < stat.size() ? stat[end + 2] : '\0';
}

// The processes whose parent is `parent`.
std::vector<pid_t> ChildrenOf(pid_t parent) {
  std::vector<pid_t> children;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = ReadAll(entry.path().string() + "/stat");
    const std::size_t end = stat.rfind(')');
    if (end == std::string::npos) continue;
    char state = 0;
    int ppid = 0;
    if (std::sscanf(stat.c_str() + end + 1, " %c %d", &state, &ppid) == 2 && ppid == parent) {
      children.push_back(static_cast<pid_t>(std::stoi(name)));
    }
  }
  return children;
}

// The postmaster's reasons to stop at once that go away by themselves: its port taken by someone
// else, or the backends of a killed postmaster still holding the shared memory and lock files.
bool PortTaken(const std::string& log) {
  return log.find("could not bind") != std::string::npos ||
         log.find("could not create any TCP/IP sockets") != std::string::npos;
}
bool LeftoversInUse(const std::string& log) {
  return log.find("pre-existing shared memory block") != std::string::npos ||
         (log.find("lock file") != std::string::npos &&
          log.find("already exists") != std::string::npos);
}

// A CA and a server certificate that it signed, for localhost and 127.0.0.1, made by the openssl
// program in the folder: ca.crt, ca.key, server.crt, server.key.
bool MakeCertificates(const std::string& openssl, const std::string& folder,
                      const TCredentials& server, std::string* error) {
  const std::string log = folder + "/openssl.log";
  const std::string ext = folder + "/server.ext";
  const TCredentials self;
  if (!WriteNewFile(ext,
                    "subjectAltName = DNS:localhost, IP:127.0.0.1\n"
                    "basicConstraints = critical, CA:FALSE\n"
                    "keyUsage = critical, digitalSignature, keyEncipherment\n"
                    "extendedKeyUsage = serverAuth\n",
                    0644)) {
    SetError(error, "cannot write " + ext + ": " + std::strerror(errno));
    return false;
  }
  // Run in the folder, so that the file names are plain words.
  const char* const steps[] = {
      "req -x509 -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 30"
      " -subj /CN=vornex-test-ca -addext basicConstraints=critical,CA:TRUE"
      " -addext keyUsage=critical,keyCertSign,cRLSign -keyout ca.key -out ca.crt",
      "req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj /CN=localhost"
      " -keyout server.key -out server.csr",
      "x509 -req -in server.csr -CA ca.crt -CAkey ca.key -set_serial 2 -days 30"
      " -extfile server.ext -out server.crt",
  };
  for (const char* step : steps) {
    std::vector<std::string> args = {openssl};
    std::istringstream words(step);
    for (std::string word; words >> word;) args.push_back(word);
    if (!Run(args, log, folder, self, error)) return false;
  }
  // The server reads its key only when it is private to the server's user.
  const std::string key = folder + "/server.key";
  if (::chmod(key.c_str(), 0600) != 0 ||
      (server.drop && ::chown(key.c_str(), server.uid, server.gid) != 0)) {
    SetError(error, "cannot hand " + key + " to the server: " + std::strerror(errno));
    return false;
  }
  return true;
}

std::string PassFileField(const std::string& value) {
  std::string out;
  for (const char c : value) {
    if (c == ':' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace

std::string ConnQuote(std::string_view value) {
  std::string out = "'";
  for (const char c : value) {
    if (c == '\'' || c == '\\') out += '\\';
    out += c;
  }
  return out + "'";
}

std::unique_ptr<TPgServer> TPgServer::Start(const TPgServerOptions& options, std::string* error) {
  std::unique_ptr<TPgServer> server(new TPgServer);
  server->options_ = options;
  const char* binDir = std::getenv("VORNEX_PG_BINDIR");
  server->binDir_ = binDir && *binDir ? binDir : kDefaultBinDir;
  for (const char* program : {"initdb", "postgres"}) {
    const std::string path = server->binDir_ + "/" + program;
    if (::access(path.c_str(), X_OK) != 0) {
      SetError(error, "no PostgreSQL 15 program " + path + kSetupHint);
      return nullptr;
    }
  }
  std::string openssl;
  if (options.tls && (openssl = FindInPath("openssl")).empty()) {
    SetError(error, std::string("no openssl program for the server's certificates") + kSetupHint);
    return nullptr;
  }

  // PostgreSQL refuses to run as root: root hands the server to the system user postgres.
  TCredentials who;
  if (::geteuid() == 0) {
    const passwd* user = ::getpwnam("postgres");
    if (!user) {
      SetError(error, std::string("running as root and no system user postgres") + kSetupHint);
      return nullptr;
    }
    who.drop = true;
    who.uid = user->pw_uid;
    who.gid = user->pw_gid;
    int count = 64;
    who.groups.resize(static_cast<std::size_t>(count));
    while (::getgrouplist(user->pw_name, user->pw_gid, who.groups.data(), &count) < 0) {
      who.groups.resize(static_cast<std::size_t>(count));
    }
    who.groups.resize(static_cast<std::size_t>(count));
  }
  server->dropPrivileges_ = who.drop;
  server->uid_ = who.uid;
  server->gid_ = who.gid;
  server->groups_ = who.groups;

  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vornex-pg-XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    SetError(error, "cannot make a folder " + pattern + ": " + std::strerror(errno));
    return nullptr;
  }
  server->folder_ = pattern;  // from here on the destructor removes it
  const std::string& folder = server->folder_;
  if (who.drop && ::chown(folder.c_str(), who.uid, who.gid) != 0) {
    SetError(error, "cannot hand " + folder + " to the user postgres: " + std::strerror(errno));
    return nullptr;
  }

  const std::string password = RandomPassword();
  const std::string pwfile = folder + "/admin.pw";
  if (!WriteNewFile(pwfile, password + "\n", 0600) ||
      (who.drop && ::chown(pwfile.c_str(), who.uid, who.gid) != 0)) {
    SetError(error, "cannot write " + pwfile + ": " + std::strerror(errno));
    return nullptr;
  }
  const bool made = Run({server->binDir_ + "/initdb", "-D", folder + "/data", "-U", kAdmin,
                         "--pwfile=" + pwfile, "--auth-local=trust", "--auth-host=scram-sha-256",
                         "-E", "UTF8", "--locale=C", "--no-sync", "--no-instructions"},
                        folder + "/initdb.log", folder, who, error);
  ::unlink(pwfile.c_str());
  if (!made) return nullptr;
  if (options.tls && !MakeCertificates(openssl, folder, who, error)) return nullptr;

  if (!server->Launch(true, error)) return nullptr;
  server->adminPassFile_ = server->WritePassFile({{kAdmin, password}});
  if (server->adminPassFile_.empty()) {
    SetError(error, "cannot write a password file in " + folder + ": " + std::strerror(errno));
    return nullptr;
  }
  return server;
}

TPgServer::~TPgServer() {
  Stop(true);
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

// Starts the postmaster and waits until it answers; with retryPort on another free port when
// the one chosen has been taken in the meantime, else on the same port until the limit.
bool TPgServer::Launch(bool retryPort, std::string* error) {
  const auto deadline = Clock::now() + kServerLimit;
  const std::string log = folder_ + "/postgres.log";
  TCredentials who{dropPrivileges_, uid_, gid_, groups_};
  // Its log goes to its standard error, so that the messages of a start that fails early are
  // there too. fsync is off: the tests' crashes are the server's, never the machine's.
  std::vector<std::string> settings = {"listen_addresses=127.0.0.1",
                                       "unix_socket_directories=" + folder_, "fsync=off",
                                       "shared_buffers=16MB", "max_connections=100"};
  if (options_.tls) {
    settings.insert(settings.end(), {"ssl=on", "ssl_cert_file=" + folder_ + "/server.crt",
                                     "ssl_key_file=" + folder_ + "/server.key"});
  }
  for (int portAttempt = 1;; ++portAttempt) {
    if (retryPort && (port_ = FreePort()) == 0) {
      SetError(error, std::string("no free port on 127.0.0.1: ") + std::strerror(errno));
      return false;
    }
    std::vector<std::string> args = {binDir_ + "/postgres", "-D", folder_ + "/data", "-p",
                                     std::to_string(port_)};
    for (const std::string& setting : settings) args.insert(args.end(), {"-c", setting});
    const std::streamoff logStart = FileSize(log);
    pid_ = Spawn(args, log, folder_, who, true, error);
    if (pid_ < 0) return false;

    const std::string ping = "host=127.0.0.1 port=" + std::to_string(port_) +
                             " dbname=postgres connect_timeout=5 user=" + kAdmin;
    int status = -2;
    while (Clock::now() < deadline) {
      if (::PQping(ping.c_str()) == PQPING_OK) return true;
      if ((status = Reap(pid_, WNOHANG)) != -2) break;
      std::this_thread::sleep_for(kPollInterval);
    }
    if (status == -2) {  // still not answering at the limit
      Kill();
      SetError(error, "postgres did not accept connections on port " + std::to_string(port_) +
                          " within 60 s; its log:\n" + LogTail(30));
      return false;
    }
    pid_ = -1;
    const std::string attemptLog = ReadAll(log, logStart);
    if (retryPort && PortTaken(attemptLog) && portAttempt < kPortAttempts) continue;
    if (!retryPort && (PortTaken(attemptLog) || LeftoversInUse(attemptLog)) &&
        Clock::now() < deadline) {
      std::this_thread::sleep_for(kPollInterval);
      continue;
    }
    SetError(error, "postgres " + ExitText(status) + " at start; its log:\n" + LogTail(30));
    return false;
  }
}

bool TPgServer::Stop(bool immediate, std::string* error) {
  if (pid_ < 0) return true;
  ::kill(pid_, immediate ? SIGQUIT : SIGINT);
  const auto deadline = Clock::now() + kServerLimit;
  while (Reap(pid_, WNOHANG) == -2) {
    if (Clock::now() >= deadline) {
      Kill();
      SetError(error, "postgres did not stop within 60 s; killed. Its log:\n" + LogTail(30));
      return false;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  pid_ = -1;
  return true;
}

bool TPgServer::Kill() {
  if (pid_ < 0) return false;
  // Stopped, the postmaster starts no more backends while they are gathered.
  const auto deadline = Clock::now() + kServerLimit;
  ::kill(pid_, SIGSTOP);
  while (ProcessState(pid_) != 'T' && ProcessState(pid_) != 'Z' && Clock::now() < deadline) {
    std::this_thread::sleep_for(kPollInterval);
  }
  const std::vector<pid_t> backends = ChildrenOf(pid_);
  for (const pid_t backend : backends) ::kill(backend, SIGKILL);
  ::kill(pid_, SIGKILL);
  Reap(pid_);
  pid_ = -1;
  for (const pid_t backend : backends) {
    while (ProcessState(backend) != 0 && ProcessState(backend) != 'Z' && Clock::now() < deadline) {
      std::this_thread::sleep_for(kPollInterval);
    }
  }
  return true;
}

bool TPgServer::StartAgain(std::string* error) {
  if (Running()) {
    SetError(error, "postgres is running already");
    return false;
  }
  return Launch(false, error);
}

bool TPgServer::Running() const {
  if (pid_ < 0) return false;
  if (Reap(pid_, WNOHANG) == -2) return true;
  pid_ = -1;
  return false;
}

std::string TPgServer::LogTail(int lines) const {
  return LastLines(ReadAll(folder_ + "/postgres.log"), lines);
}

std::string TPgServer::AdminConnInfo(const std::string& dbname) const {
  return ConnInfo(kAdmin, dbname, adminPassFile_);
}

std::string TPgServer::ConnInfo(const std::string& user, const std::string& dbname,
                                const std::string& passfile) const {
  std::string info = "host=127.0.0.1 port=" + std::to_string(port_) + " user=" + ConnQuote(user) +
                     " dbname=" + ConnQuote(dbname);
  if (!passfile.empty()) info += " passfile=" + ConnQuote(passfile);
  return info;
}

std::string TPgServer::WritePassFile(
    const std::vector<std::pair<std::string, std::string>>& userPasswords) const {
  std::string text;
  for (const auto& [user, password] : userPasswords) {
    text += "*:" + std::to_string(port_) + ":*:" + PassFileField(user) + ":" +
            PassFileField(password) + "\n";
  }
  std::string path = folder_ + "/pgpass-XXXXXX";
  return WriteAndClose(::mkostemp(path.data(), O_CLOEXEC), text) ? path : std::string();  // 0600
}

std::string TPgServer::CaFile() const {
  return options_.tls ? folder_ + "/ca.crt" : "";
}

std::optional<std::vector<std::vector<std::string>>> TPgServer::Sql(const std::string& sql,
                                                                    const std::string& dbname,
                                                                    std::string* error) const {
  std::unique_ptr<PGconn, decltype(&PQfinish)> conn(::PQconnectdb(AdminConnInfo(dbname).c_str()),
                                                    &PQfinish);
  if (::PQstatus(conn.get()) != CONNECTION_OK) {
    SetError(error, ::PQerrorMessage(conn.get()));
    return std::nullopt;
  }
  std::unique_ptr<PGresult, decltype(&PQclear)> result(::PQexec(conn.get(), sql.c_str()), &PQclear);
  const ExecStatusType status = ::PQresultStatus(result.get());
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
    SetError(error, ::PQerrorMessage(conn.get()));
    return std::nullopt;
  }
  std::vector<std::vector<std::string>> rows;
  for (int r = 0; r < ::PQntuples(result.get()); ++r) {
    std::vector<std::string>& row = rows.emplace_back();
    for (int c = 0; c < ::PQnfields(result.get()); ++c) {
      row.emplace_back(::PQgetvalue(result.get(), r, c));
    }
  }
  return rows;
}

}  // namespace vornex::testing
