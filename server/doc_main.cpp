// vellumora-server-doc markdown|man: the documentation the option table renders, on stdout.
#include <cstdio>
#include <string_view>

#include "common/server_options.h"

int main(int argc, char** argv) {
    using namespace vellumora::server;
    const std::string_view what = argc == 2 ? argv[1] : "";
    if (what == "markdown") return std::fputs(optionsMarkdown().c_str(), stdout) < 0;
    if (what == "man") return std::fputs(manPage().c_str(), stdout) < 0;
    std::fputs("usage: vellumora-server-doc markdown|man\n", stderr);
    return 2;
}
