#include "server_under_test.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "process_usage.h"

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
    pid_ = spawnPinned(std::move(args), log, cpu);

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

}  // namespace vellumora::bench
