#include "proxy_under_test.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "process_usage.h"

extern char** environ;

namespace vellumora::bench {

namespace {

std::uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool accepts(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

ProxyUnderTest::ProxyUnderTest(const std::string& config, std::uint16_t serverPort, int cpu) {
    std::string pattern = (std::filesystem::temp_directory_path() / "vellumora-proxy-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    port_ = freePort();
    std::ifstream shipped(config);
    if (!shipped) throw std::runtime_error("cannot read " + config);
    const std::string cfg = dir_ + "/haproxy.cfg";
    std::ofstream out(cfg);
    // The proxy listens on our port; every instance line names the one server.
    const std::regex bind(R"(^(\s*bind )\S+)");
    const std::regex server(R"(^(\s*server \S+ )\S+)");
    for (std::string line; std::getline(shipped, line);) {
        line = std::regex_replace(line, bind, "$01127.0.0.1:" + std::to_string(port_));
        line = std::regex_replace(line, server, "$01127.0.0.1:" + std::to_string(serverPort));
        out << line << '\n';
    }
    out.close();

    std::vector<std::string> args{"/usr/sbin/haproxy", "-db", "-f", cfg};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string log = dir_ + "/haproxy.log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    cpu_set_t saved;
    sched_getaffinity(0, sizeof saved, &saved);
    pinToCpu(cpu);  // one core: HAProxy starts one thread per core it may use
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    sched_setaffinity(0, sizeof saved, &saved);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start haproxy");
    for (int i = 0; i < 500 && !accepts(port_); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!accepts(port_)) throw std::runtime_error("haproxy did not start: " + readAll(log));
}

ProxyUnderTest::~ProxyUnderTest() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

double ProxyUnderTest::cpuMicros() const {
    return processCpuMicros(pid_);
}

double ProxyUnderTest::runDelayMicros() const {
    return processRunDelayMicros(pid_);
}

}  // namespace vellumora::bench
