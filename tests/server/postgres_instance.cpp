#include "postgres_instance.h"

#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
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

constexpr const char* kBin = "/usr/lib/postgresql/15/bin/";

// Runs `args` (as `nobody` when we are root) with output to `log`; returns the child's pid.
pid_t spawnAsUnprivileged(const std::vector<std::string>& args, const std::string& log) {
    const passwd* nobody = ::getuid() == 0 ? ::getpwnam("nobody") : nullptr;
    if (::getuid() == 0 && !nobody) throw std::runtime_error("no user `nobody` to run PostgreSQL as");
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (nobody &&
            (::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0))
            ::_exit(126);
        // Only async-signal-safe calls between fork and exec.
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (out < 0 || ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(out, STDERR_FILENO) < 0) ::_exit(126);
        ::setsid();  // a Ctrl+C meant for the test reaches PostgreSQL only through our stop
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

std::uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(fd);
        throw std::runtime_error("no free port");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

}  // namespace

PostgresInstance::PostgresInstance() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vellumora-pg-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    if (::getuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody || ::chown(dir_.c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
            throw std::runtime_error("cannot hand " + dir_ + " to nobody");
    }
    const std::string log = dir_ + "/postgres.log";
    const pid_t init =
        spawnAsUnprivileged({std::string(kBin) + "initdb", "-D", dir_ + "/data", "-U", "vellumora",
                             "--auth=trust", "-E", "UTF8", "--no-sync", "--no-instructions"},
                            log);
    int status = 0;
    ::waitpid(init, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("initdb failed:\n" + readFile(log));

    // A port found free may be taken before PostgreSQL binds it; then try another.
    for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
        port_ = freePort();
        // Tests kill servers, not PostgreSQL: durability of its own files is not what they test.
        pid_ = spawnAsUnprivileged(
            {std::string(kBin) + "postgres", "-D", dir_ + "/data", "-p", std::to_string(port_), "-c",
             "listen_addresses=127.0.0.1", "-c", "unix_socket_directories=" + dir_, "-c", "fsync=off", "-c",
             "full_page_writes=off", "-c", "max_connections=300"},
            log);
        const std::string ping =
            "host=127.0.0.1 port=" + std::to_string(port_) + " user=vellumora dbname=postgres";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (PQping(ping.c_str()) != PQPING_OK) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_ || std::chrono::steady_clock::now() > deadline) {
                if (::kill(pid_, 0) == 0) ::kill(pid_, SIGKILL), ::waitpid(pid_, &status, 0);
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    if (pid_ < 0) throw std::runtime_error("PostgreSQL did not start:\n" + readFile(log));
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
    const std::string base = "postgresql://vellumora@127.0.0.1:" + std::to_string(port_) + "/";
    const std::string name = "test" + std::to_string(++databases_);
    execute(base + "postgres", "CREATE DATABASE " + name);
    return base + name;
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
