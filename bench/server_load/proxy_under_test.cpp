#include "proxy_under_test.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <thread>

#include "process_usage.h"

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

    const std::string log = dir_ + "/haproxy.log";
    // One core: HAProxy starts one thread per core it may use.
    pid_ = spawnPinned({"/usr/sbin/haproxy", "-db", "-f", cfg}, log, cpu);
    for (int i = 0; i < 500 && !accepts(port_); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!accepts(port_)) throw std::runtime_error("haproxy did not start: " + readAll(log));
}

}  // namespace vellumora::bench
