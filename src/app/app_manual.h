#pragma once
// What the app says about itself outside its window: --version, --help and vellumora(1).
// `builtInServer` is the base URL compiled in for when SERVER is unset or unusable.

#include <optional>
#include <string>
#include <string_view>

namespace vellumora {

std::string_view appVersionText();
std::string appUsageText(std::string_view builtInServer);
std::string appManPage(std::string_view builtInServer);

// The exit status when the arguments ask for --help or --version (answered on stdout before
// any window system is touched); none when the app should start. Everything else, Qt's own
// options included, is left to Qt.
std::optional<int> answerInfoOption(int argc, const char* const* argv, std::string_view builtInServer);

}  // namespace vellumora
