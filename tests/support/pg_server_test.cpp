// The tests' throw-away PostgreSQL server: it answers SQL and goes with its folder, refuses wrong
// passwords over TCP, keeps committed rows across a crash or a stop and a new start, serves TLS
// that clients verify against its CA, and the program for scripts serves until told to end.
#include "support/pg_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>

extern char** environ;

namespace vornex::testing {
namespace {

using Rows = std::vector<std::vector<std::string>>;

std::unique_ptr<TPgServer> StartServer(bool tls = false) {
  std::string error;
  auto server = TPgServer::Start({tls}, &error);
  EXPECT_TRUE(server) << error;
  return server;
}

// Whether the server accepts this connection; its error, and whether it is over TLS.
bool Connects(const std::string& conninfo, std::string* error = nullptr, bool* tls = nullptr) {
  std::unique_ptr<PGconn, decltype(&PQfinish)> conn(PQconnectdb(conninfo.c_str()), &PQfinish);
  if (error) *error = PQerrorMessage(conn.get());
  if (tls) *tls = PQsslInUse(conn.get()) == 1;
  return PQstatus(conn.get()) == CONNECTION_OK;
}

TEST(PgServerTest, AnswersSqlAndGoesWithItsFolder) {
  auto server = StartServer();
  ASSERT_TRUE(server);
  std::string error;
  EXPECT_EQ(server->Sql("SELECT 1, 'two', NULL", "postgres", &error), (Rows{{"1", "two", ""}}))
      << error;
  EXPECT_FALSE(server->Sql("SELECT missing_column", "postgres", &error));
  EXPECT_NE(error.find("missing_column"), std::string::npos) << error;
  const std::string folder = server->Folder();
  server.reset();
  EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST(PgServerTest, TcpLoginsNeedTheRightPassword) {
  auto server = StartServer();
  ASSERT_TRUE(server);
  // A colon and a backslash, which the password file must escape.
  ASSERT_TRUE(server->Sql("CREATE ROLE station LOGIN PASSWORD 'ri:ght\\'"));
  const struct {
    const char* password;
    bool accepted;
  } cases[] = {{"ri:ght\\", true}, {"wrong", false}, {"ri:ght", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.password);
    const std::string passfile = server->WritePassFile({{"station", c.password}});
    std::string error;
    EXPECT_EQ(Connects(server->ConnInfo("station", "postgres", passfile), &error), c.accepted);
    EXPECT_EQ(error.find("password authentication failed") != std::string::npos, !c.accepted);
  }
}

TEST(PgServerTest, CommittedRowsOutliveAStopAndAStart) {
  auto server = StartServer();
  ASSERT_TRUE(server);
  ASSERT_TRUE(server->Sql("CREATE TABLE jobs (n int)"));
  const std::pair<const char*, std::function<bool()>> stops[] = {
      {"crash", [&] { return server->Kill(); }},
      {"immediate", [&] { return server->Stop(true); }},
      {"fast", [&] { return server->Stop(false); }},
  };
  int rows = 0;
  for (const auto& [name, stop] : stops) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(server->Sql("INSERT INTO jobs VALUES (" + std::to_string(++rows) + ")"));
    std::unique_ptr<PGconn, decltype(&PQfinish)> held(PQconnectdb(server->AdminConnInfo().c_str()),
                                                      &PQfinish);
    ASSERT_TRUE(stop());
    EXPECT_FALSE(server->Running());
    EXPECT_FALSE(Connects(server->AdminConnInfo()));
    PGresult* result = PQexec(held.get(), "SELECT 1");
    EXPECT_NE(PQresultStatus(result), PGRES_TUPLES_OK);  // a connection held across is broken
    PQclear(result);
    std::string error;
    ASSERT_TRUE(server->StartAgain(&error)) << error;
    EXPECT_EQ(server->Sql("SELECT count(*) FROM jobs"), (Rows{{std::to_string(rows)}}));
  }
}

TEST(PgServerTest, TlsClientsVerifyTheServerAgainstItsCa) {
  auto server = StartServer(true);
  ASSERT_TRUE(server);
  const struct {
    const char* host;
    bool accepted;
  } cases[] = {{"host=localhost", true},
               {"host=127.0.0.1", true},
               {"host=station.invalid hostaddr=127.0.0.1", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    const std::string conninfo = server->AdminConnInfo() + " " + c.host +
                                 " sslmode=verify-full sslrootcert=" + ConnQuote(server->CaFile());
    std::string error;
    bool tls = false;
    EXPECT_EQ(Connects(conninfo, &error, &tls), c.accepted) << error;
    EXPECT_EQ(tls, c.accepted);
  }
}

// The program a script runs: one line to read, a server behind it, gone with its folder when its
// input ends or it is asked to stop.
TEST(PgServerTest, ProgramServesUntilToldToEnd) {
  const std::pair<const char*, bool> ends[] = {{"end of input", false}, {"SIGTERM", true}};
  for (const auto& [name, bySignal] : ends) {
    SCOPED_TRACE(name);
    int in[2], out[2];
    ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    char* argv[] = {const_cast<char*>(VORNEX_PGSERVER_PROGRAM), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);

    FILE* lines = fdopen(out[0], "r");
    char line[4096] = {};
    int port = 0;
    char passfile[1024] = {}, folder[1024] = {};
    EXPECT_TRUE(fgets(line, sizeof(line), lines));
    EXPECT_EQ(sscanf(line, "port=%d admin=vornex_admin passfile=%1023s folder=%1023s", &port,
                     passfile, folder),
              3)
        << line;
    std::string error;
    EXPECT_TRUE(Connects("host=127.0.0.1 dbname=postgres user=vornex_admin port=" +
                             std::to_string(port) + " passfile=" + ConnQuote(passfile),
                         &error))
        << error;
    bySignal ? kill(pid, SIGTERM) : close(in[1]);
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    if (bySignal) close(in[1]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(std::filesystem::exists(folder));
    fclose(lines);
  }
}

}  // namespace
}  // namespace vornex::testing
