#include <sys/resource.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "accounts/credentials.h"
#include "common/log.h"
#include "common/server_options.h"
#include "server.h"

int main(int argc, char** argv) {
    using namespace vellumora::server;
    const CommandLine command = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (command.action) {
        case CommandLine::Action::help:
            std::fputs(usageText().c_str(), stdout);
            return 0;
        case CommandLine::Action::version:
            std::printf("%.*s\n", static_cast<int>(versionText().size()), versionText().data());
            return 0;
        case CommandLine::Action::error:
            std::fprintf(stderr, "vellumora-server: %s\n%s", command.message.c_str(), usageText().c_str());
            return 2;
        case CommandLine::Action::run:
            break;
    }
    // Every connection is a descriptor; take all the system allows.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    if (!initCredentials()) {
        logLine("cannot initialise libsodium");
        return 1;
    }
    try {
        Server server(command.config);
        return server.run();
    } catch (const std::exception& e) {
        logLine(std::string("cannot start: ") + e.what());
        return 1;
    }
}
