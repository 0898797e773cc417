#pragma once
// The command line's one table: every option's flag, value, range, help and where it lands in
// ServerConfig. Parsing, --help, the README's flag table and the man page are all drawn from it,
// and the defaults shown are read from a default-constructed ServerConfig.
//
// Help texts are plain sentences; `backticks` mark literal text (code in Markdown, bold in the
// man page, dropped in --help).

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/server_config.h"

namespace vellumora::server {

struct OptionSpec {
    std::string_view flag;   // "--listen"
    std::string_view value;  // what follows the flag, as shown: "HOST:PORT"
    std::string_view help;
    std::string range;  // "1 to 256" for numbers; empty otherwise
    std::function<bool(std::string_view text, ServerConfig& config)> parse;
    // The setting as `config` holds it, in the words of the command line.
    std::function<std::string(const ServerConfig& config)> show;
};

const std::vector<OptionSpec>& serverOptions();
// Null when there is no such option.
const OptionSpec* findOption(std::string_view flag);

// --help
std::string usageText();
// The README's table of flags, in Markdown.
std::string optionsMarkdown();
// vellumora-server(8), in roff.
std::string manPage();

}  // namespace vellumora::server
