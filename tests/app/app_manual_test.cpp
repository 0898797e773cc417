// The shortcut table and what the app says about itself outside its window.

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "app/app_manual.h"
#include "app/shortcuts.h"

namespace vellumora {
namespace {

TEST(Shortcuts, everyActionHasOneRowAndItsKeysAreValidAndDistinctWhereTheyWork) {
    std::set<int> actions;
    std::set<std::pair<std::string_view, QKeySequence>> bound;
    for (const Shortcut& s : shortcuts()) {
        actions.insert(static_cast<int>(s.action));
        EXPECT_EQ(&shortcut(s.action), &s) << s.what;
        if (!s.pointer.empty()) continue;  // a drag or the wheel: shown, never bound
        const QList<QKeySequence> keys = keySequences(s);
        ASSERT_FALSE(keys.isEmpty()) << s.keys;
        QStringList shown;
        for (const QKeySequence& k : keys) {
            // An unknown key name parses to nothing or to Key_unknown; either way it would not bind.
            EXPECT_TRUE(k.count() == 1 && k[0].key() != Qt::Key_unknown) << s.keys;
            EXPECT_TRUE(bound.emplace(s.where, k).second) << s.keys << " twice in " << s.where;
            shown << k.toString(QKeySequence::PortableText);
        }
        EXPECT_EQ(shown.join(QStringLiteral("; ")).toStdString(), s.keys);
    }
    // Enumerators are numbered from 0: a gap is an action without its row.
    EXPECT_EQ(actions.size(), shortcuts().size());
    EXPECT_EQ(*actions.rbegin(), static_cast<int>(shortcuts().size()) - 1);
}

TEST(AppManual, listsEveryShortcutUnderItsPlaceAndTheBuiltInServer) {
    const std::string page = appManPage("https://colour.example:8443");
    EXPECT_TRUE(page.starts_with(".TH VELLUMORA 1 "));
    // Every row in table order, under its heading, alternatives joined by "or".
    std::size_t at = page.find(".SH KEYBOARD SHORTCUTS");
    for (const Shortcut& s : shortcuts()) {
        at = page.find("\n" + std::regex_replace(std::string(s.what), std::regex("-"), "\\-") + "\n", at);
        ASSERT_NE(at, std::string::npos) << s.keys;
    }
    // Hyphens escaped, the server named, keys in bold.
    for (const char* part :
         {"\\- colour line\\-art pages", ".B SERVER\n", "default applies: https://colour.example:8443.",
          ".SS Log\\-in screen\n.TP\n\\fBReturn\\fR\n",
          ".TP\n\\fBReturn\\fR or \\fBSpace\\fR\nUse the focused page.", ".TP\n\\fBCtrl\\fR+wheel\n",
          ".TP\nRight or middle button drag\n"})
        EXPECT_NE(page.find(part), std::string::npos) << part;
}

TEST(AppManual, answersHelpAndVersionAndLeavesEverythingElseToTheApp) {
    const auto run = [](std::vector<const char*> argv, std::string* out) {
        argv.insert(argv.begin(), "vellumora");
        testing::internal::CaptureStdout();
        const auto status =
            answerInfoOption(static_cast<int>(argv.size()), argv.data(), "http://127.0.0.1:8787");
        *out = testing::internal::GetCapturedStdout();
        return status;
    };
    std::string out;
    EXPECT_EQ(run({"-platform", "xcb", "--version"}, &out), 0);
    EXPECT_EQ(out, "vellumora " VELLUMORA_VERSION "\n");
    EXPECT_EQ(run({"--help"}, &out), 0);
    EXPECT_NE(out.find("SERVER"), std::string::npos);
    EXPECT_EQ(run({}, &out), std::nullopt);
    EXPECT_EQ(run({"-platform", "offscreen", "-style", "fusion"}, &out), std::nullopt);
    EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace vellumora
