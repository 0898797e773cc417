#pragma once
// One line per event on stderr, with a UTC timestamp. Never pass secrets here.

#include <string_view>

namespace vellumora::server {

void logLine(std::string_view text);

}  // namespace vellumora::server
