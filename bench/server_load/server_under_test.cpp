#include "server_under_test.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "process_usage.h"

extern char** environ;

namespace vellumora::bench {

ServerUnderTest::ServerUnderTest(const std::string& binary, int cpu) {
    std::string pattern = (std::filesystem::temp_directory_path() / "vellumora-load-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    const std::string log = dir_ + "/server.log";
    std::vector<std::string> args{binary,       "--listen",        "127.0.0.1:0", "--db",
                                  dir_ + "/db", "--threads",       "1",           "--auth-rate-limit",
                                  "0",          "--password-cost", "minimal",     "--max-room-connections",
                                  "64"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    // Pin before exec by pinning ourselves around the spawn: the child inherits the mask.
    cpu_set_t saved;
    sched_getaffinity(0, sizeof saved, &saved);
    pinToCpu(cpu);
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    sched_setaffinity(0, sizeof saved, &saved);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + binary);

    for (int i = 0; i < 1000; ++i) {
        const std::string text = readAll(log);
        const auto at = text.find("listening on http://127.0.0.1:");
        if (at != std::string::npos) {
            port_ = static_cast<std::uint16_t>(std::stoi(text.substr(at + 30)));
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    throw std::runtime_error("server did not start: " + readAll(log));
}

ServerUnderTest::~ServerUnderTest() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

double ServerUnderTest::cpuMicros() const {
    return processCpuMicros(pid_);
}

double ServerUnderTest::runDelayMicros() const {
    return processRunDelayMicros(pid_);
}

std::int64_t ServerUnderTest::rssBytes() const {
    return processRssBytes(pid_);
}

}  // namespace vellumora::bench
