#include "common/log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

namespace vellumora::server {

void logLine(std::string_view text) {
    static std::mutex mutex;
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
    std::string line;
    line.reserve(text.size() + 32);
    line.append(stamp);
    char ms[8];
    std::snprintf(ms, sizeof ms, ".%03dZ ", static_cast<int>(millis));
    line.append(ms);
    line.append(text);
    line.push_back('\n');
    std::lock_guard lock(mutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace vellumora::server
