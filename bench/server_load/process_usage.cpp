#include "process_usage.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

extern char** environ;

namespace vellumora::bench {

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

double processCpuMicros(pid_t pid) {
    const std::string stat = readAll("/proc/" + std::to_string(pid) + "/stat");
    // Fields after the parenthesised command name; utime and stime are the 14th and 15th.
    std::istringstream in(stat.substr(stat.rfind(')') + 2));
    std::string field;
    double utime = 0;
    double stime = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14) utime = std::stod(field);
        if (i == 15) stime = std::stod(field);
    }
    return (utime + stime) * 1e6 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double processRunDelayMicros(pid_t pid) {
    // schedstat: time on the CPU, time waiting on a run queue (both ns), timeslices.
    double waited = 0;
    std::error_code ec;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::istringstream in(readAll(task.path().string() + "/schedstat"));
        double onCpu = 0;
        double onQueue = 0;
        if (in >> onCpu >> onQueue) waited += onQueue / 1000;
    }
    return waited;
}

std::int64_t processRssBytes(pid_t pid) {
    std::istringstream in(readAll("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
    }
    return 0;
}

void pinToCpu(int cpu) {
    if (cpu < 0) return;
    cpu_set_t only;
    CPU_ZERO(&only);
    CPU_SET(cpu, &only);
    sched_setaffinity(0, sizeof only, &only);
}

pid_t spawnPinned(std::vector<std::string> args, const std::string& log, int cpu) {
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
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    sched_setaffinity(0, sizeof saved, &saved);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + args[0]);
    return pid;
}

void stopChild(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

void ChildProcess::stop() {
    stopChild(pid_);
    pid_ = -1;
}

std::int64_t ChildProcess::fileBytes(const std::string& prefix) const {
    std::int64_t total = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
        if (entry.is_regular_file() && entry.path().filename().string().starts_with(prefix))
            total += static_cast<std::int64_t>(entry.file_size());
    }
    return total;
}

ChildProcess::~ChildProcess() {
    stopChild(pid_);
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

}  // namespace vellumora::bench
