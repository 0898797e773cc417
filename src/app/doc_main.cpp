// vellumora-doc man: vellumora(1), rendered from the app's own texts and shortcut table.
#include <cstdio>
#include <string_view>

#include "app/app_manual.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "man") {
        return std::fputs(vellumora::appManPage(VELLUMORA_DEFAULT_SERVER).c_str(), stdout) < 0;
    }
    std::fputs("usage: vellumora-doc man\n", stderr);
    return 2;
}
