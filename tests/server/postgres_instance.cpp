#include "postgres_instance.h"

#include <libpq-fe.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/server_process.h"

namespace vellumora::testing {

namespace {
constexpr const char* kBin = VELLUMORA_PG_BINDIR "/";
}  // namespace

PostgresInstance::PostgresInstance() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vellumora-pg-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    // setsid: a Ctrl+C meant for the test reaches PostgreSQL only through our stop.
    std::vector<std::string> prefix{"/usr/bin/setsid"};
    if (::getuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody || ::chown(dir_.c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
            throw std::runtime_error("cannot hand " + dir_ + " to nobody");
        prefix.insert(prefix.end(), {"/usr/bin/setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
                                     "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups"});
    }
    const std::string log = dir_ + "/postgres.log";
    const auto spawn = [&](std::vector<std::string> args) {
        args.insert(args.begin(), prefix.begin(), prefix.end());
        return spawnLogged(std::move(args), log);
    };
    int status = 0;
    ::waitpid(spawn({std::string(kBin) + "initdb", "-D", dir_ + "/data", "-U", "vellumora", "--auth=trust",
                     "-E", "UTF8", "--no-sync", "--no-instructions"}),
              &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("initdb failed:\n" + readFile(log));

    // Only a Unix socket in the directory: no port to find free. Tests kill servers, not
    // PostgreSQL: durability of its own files is not what they test.
    pid_ = spawn({std::string(kBin) + "postgres", "-D", dir_ + "/data", "-c", "listen_addresses=", "-c",
                  "unix_socket_directories=" + dir_, "-c", "fsync=off", "-c", "full_page_writes=off", "-c",
                  "max_connections=300"});
    const std::string ping = "host=" + dir_ + " user=vellumora dbname=postgres";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (PQping(ping.c_str()) != PQPING_OK) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_ || std::chrono::steady_clock::now() > deadline) {
            if (::kill(pid_, 0) == 0) ::kill(pid_, SIGKILL), ::waitpid(pid_, &status, 0);
            pid_ = -1;
            throw std::runtime_error("PostgreSQL did not start:\n" + readFile(log));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

PostgresInstance::~PostgresInstance() {
    if (pid_ > 0) {
        ::kill(pid_, SIGINT);  // fast shutdown: ends every session at once
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::string PostgresInstance::createDatabase() {
    const std::string name = "test" + std::to_string(++databases_);
    execute("postgresql://vellumora@/postgres?host=" + dir_, "CREATE DATABASE " + name);
    return "postgresql://vellumora@/" + name + "?host=" + dir_;
}

void PostgresInstance::execute(const std::string& url, const std::string& sql) {
    std::unique_ptr<PGconn, decltype(&PQfinish)> c(PQconnectdb(url.c_str()), &PQfinish);
    std::unique_ptr<PGresult, decltype(&PQclear)> r(PQexec(c.get(), sql.c_str()), &PQclear);
    const ExecStatusType status = PQresultStatus(r.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        throw std::runtime_error(sql + ": " + PQerrorMessage(c.get()));
}

PostgresInstance* PostgresInstance::shared() {
    const char* store = std::getenv("VELLUMORA_TEST_STORE");
    if (!store || std::string_view(store) != "postgresql") return nullptr;
    // Lives until exit: the servers of the last test stop before static destruction.
    static PostgresInstance instance;
    return &instance;
}

}  // namespace vellumora::testing
