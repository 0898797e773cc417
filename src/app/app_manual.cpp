#include "app/app_manual.h"

#include <algorithm>
#include <cstdio>

#include "app/shortcuts.h"

namespace vellumora {

namespace {

constexpr std::string_view kSummary = "colour line-art pages together with friends in real time";
constexpr std::string_view kDescription =
    "is a desktop app for colouring line-art pages together with friends. Sign up or log in, keep a "
    "friends list, open your own sketchbook or a room shared with a friend, and colour the same page "
    "together: strokes, cursors, page changes and clears reach everybody in the room as they happen.";
constexpr std::string_view kCanvasMode =
    "The page is one of the built-in pages, a PNG or JPEG picture you import, or a sketch scanned with "
    "the camera. Five brushes colour under the page's lines. Press Space on the canvas for canvas mode, "
    "where the trackpad or mouse is the pen: one finger or a held button colours, two fingers or a "
    "free button move the cursor.";
constexpr std::string_view kFiles =
    "The session token is kept in the desktop's keyring (Secret Service), under the service "
    "com.vellumora.app; logging out deletes it. Nothing else is stored.";

std::string serverHelp(std::string_view builtInServer) {
    return "The base URL of the Vellumora service, http or https, for example https://colour.example. "
           "Unset, empty or not an http(s) URL, the built-in default applies: " +
           std::string(builtInServer) + ".";
}

// roff text: backslashes and hyphens escaped, and no line may open with a control character.
std::string roff(std::string_view text) {
    std::string out = text.starts_with('.') || text.starts_with('\'') ? "\\&" : "";
    for (char c : text) {
        out += c == '\\' ? std::string("\\e") : c == '-' ? std::string("\\-") : std::string(1, c);
    }
    return out;
}

std::string bold(std::string_view text) {
    return "\\fB" + roff(text) + "\\fR";
}

// "Return; Space" as "Return or Space": a comma would read as a sequence of keys.
std::string keysText(std::string_view keys) {
    std::string out;
    for (std::size_t at = 0; at <= keys.size();) {
        const std::size_t end = std::min(keys.find("; ", at), keys.size());
        out += (out.empty() ? "" : "\\fR or \\fB") + roff(keys.substr(at, end - at));
        at = end + 2;
    }
    return "\\fB" + out + "\\fR";
}

}  // namespace

std::string_view appVersionText() {
    return "vellumora " VELLUMORA_VERSION;
}

std::string appUsageText(std::string_view builtInServer) {
    std::string out = "usage: vellumora [--help | --version]\n";
    out += "Vellumora: " + std::string(kSummary) + ".\n\n";
    out += "Environment:\n  SERVER  " + serverHelp(builtInServer) + "\n\n";
    out += "Keyboard shortcuts and more: man vellumora\n";
    return out;
}

std::string appManPage(std::string_view builtInServer) {
    std::string out = ".TH VELLUMORA 1 \"\" \"" + roff(appVersionText()) + "\" \"User Commands\"\n";
    out += ".SH NAME\nvellumora \\- " + roff(kSummary) + "\n";
    out += ".SH SYNOPSIS\n.B vellumora\n[" + bold("--help") + " | " + bold("--version") + "]\n";
    out += ".SH DESCRIPTION\n.B vellumora\n" + roff(kDescription) + "\n.PP\n" + roff(kCanvasMode) + "\n";
    out += ".SH OPTIONS\n.TP\n" + bold("--help") + "\nPrint a short usage text and exit.\n.TP\n" +
           bold("--version") + "\nPrint the version and exit.\n.PP\n" +
           roff("The standard options of Qt applications, such as -platform, are accepted too.") + "\n";
    out += ".SH ENVIRONMENT\n.TP\n.B SERVER\n" + roff(serverHelp(builtInServer)) + "\n";
    out += ".SH KEYBOARD SHORTCUTS\n";
    std::string_view where;
    for (const Shortcut& s : shortcuts()) {
        if (s.where != where) {
            where = s.where;
            out += ".SS " + roff(where) + "\n";
        }
        std::string keys = s.keys.empty() ? "" : keysText(s.keys);
        if (!s.pointer.empty()) keys += (keys.empty() ? "" : "+") + roff(s.pointer);
        out += ".TP\n" + keys + "\n" + roff(s.what) + "\n";
    }
    out += ".SH FILES\n" + roff(kFiles) + "\n";
    out += ".SH SEE ALSO\n.BR vellumora\\-server (8)\n";
    return out;
}

std::optional<int> answerInfoOption(int argc, const char* const* argv, std::string_view builtInServer) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            return std::fputs(appUsageText(builtInServer).c_str(), stdout) < 0 ? 1 : 0;
        }
        if (arg == "--version") {
            return std::printf("%.*s\n", static_cast<int>(appVersionText().size()), appVersionText().data()) <
                   0;
        }
    }
    return std::nullopt;
}

}  // namespace vellumora
