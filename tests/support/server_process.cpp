#include "support/server_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace vellumora::testing {

namespace {

std::function<std::string()>& databaseFactory() {
    static std::function<std::string()> factory;
    return factory;
}

}  // namespace

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

pid_t spawnLogged(std::vector<std::string> args, const std::string& logPath) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
    return pid;
}

ServerProcess::ServerProcess() : ServerProcess(Options{}) {}

ServerProcess::ServerProcess(Options options) : options_(std::move(options)) {
    std::string pattern = (std::filesystem::temp_directory_path() / "vellumora-server-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    tempDir_ = pattern;
    dbPath_ = !options_.dbPath.empty() ? options_.dbPath
              : databaseFactory()      ? databaseFactory()()
                                       : tempDir_ + "/vellumora.db";
    logPath_ = tempDir_ + "/server.log";
    try {
        start();
    } catch (...) {
        std::error_code ec;
        std::filesystem::remove_all(tempDir_, ec);
        throw;
    }
}

ServerProcess::~ServerProcess() {
    if (pid_ > 0) stop(SIGTERM);
    std::error_code ec;
    std::filesystem::remove_all(tempDir_, ec);
}

void ServerProcess::setDatabaseFactory(std::function<std::string()> factory) {
    databaseFactory() = std::move(factory);
}

std::string ServerProcess::baseUrl() const {
    return scheme_ + "://127.0.0.1:" + std::to_string(port_);
}

std::string ServerProcess::log() const {
    return readFile(logPath_);
}

void ServerProcess::start() {
    if (pid_ > 0) throw std::runtime_error("server already running");
    std::vector<std::string> args{VELLUMORA_SERVER_BINARY, "--listen", "127.0.0.1:" + std::to_string(port_),
                                  "--db", dbPath_};
    // Argon2id at interactive cost takes seconds per hash under the sanitizers.
    args.insert(args.end(), {"--password-cost", "minimal"});
    args.insert(args.end(), options_.extraArgs.begin(), options_.extraArgs.end());
    // Each start appends to the same log; remember where this run begins.
    const auto logStart = static_cast<std::size_t>(
        std::filesystem::exists(logPath_) ? std::filesystem::file_size(logPath_) : 0);
    pid_ = spawnLogged(std::move(args), logPath_);

    static const std::regex listening("listening on (https?)://127\\.0\\.0\\.1:([0-9]+)");
    static const std::regex metrics("metrics on http://127\\.0\\.0\\.1:([0-9]+)");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string all = readFile(logPath_);
        const std::string text = all.substr(std::min(logStart, all.size()));
        std::smatch m, mm;
        if (std::regex_search(text, m, listening) && std::regex_search(text, mm, metrics)) {
            scheme_ = m[1];
            port_ = static_cast<std::uint16_t>(std::stoi(m[2]));
            metricsPort_ = static_cast<std::uint16_t>(std::stoi(mm[1]));
            return;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            exitStatus_ = status;
            throw std::runtime_error("vellumora-server exited during start-up:\n" + text);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stop(SIGKILL);
    throw std::runtime_error("vellumora-server did not start listening within 60 s");
}

void ServerProcess::stop(int signal) {
    if (pid_ <= 0) return;
    ::kill(pid_, signal);
    int status = 0;
    // A server that does not stop fails the test instead of hanging it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    exitStatus_ = status;
    pid_ = -1;
}

}  // namespace vellumora::testing
