#include "common/server_config.h"

#include <sched.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "common/server_options.h"

namespace vellumora::server {

unsigned usableCores() {
    // The cores this process may run on: a server pinned to one core gains nothing from a second
    // I/O thread but lock traffic and context switches.
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

std::string_view versionText() {
    return "vellumora-server " VELLUMORA_VERSION;
}

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine result;
    ServerConfig& c = result.config;
    auto fail = [&](std::string message) {
        result.action = CommandLine::Action::error;
        result.message = std::move(message);
        return result;
    };
    // The unit's environment file sets it: a database password never shows on a command line.
    if (const char* db = std::getenv("VELLUMORA_DB"); db && *db) c.dbPath = db;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& flag = args[i];
        if (flag == "--help" || flag == "-h") {
            result.action = CommandLine::Action::help;
            return result;
        }
        if (flag == "--version") {
            result.action = CommandLine::Action::version;
            return result;
        }
        const OptionSpec* option = findOption(flag);
        if (!option) return fail("unknown option " + flag);
        if (i + 1 >= args.size()) return fail("missing value for " + flag);
        const std::string& value = args[++i];
        if (!option->parse(value, c)) return fail("invalid value for " + flag + ": " + value);
    }
    if (c.tlsCert.empty() != c.tlsKey.empty()) return fail("--tls-cert and --tls-key go together");
    if (c.threads == 0) c.threads = usableCores();
    return result;
}

}  // namespace vellumora::server
