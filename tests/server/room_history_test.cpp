// The history rules, the budget policy, the message rules and the relay, without a network.
#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <map>
#include <random>

#include "model/json_forms.h"
#include "quiet_member.h"
#include "rooms/message_rules.h"
#include "rooms/relay_text.h"
#include "rooms/room.h"
#include "rooms/room_history.h"
#include "store/history_writer.h"
#include "store/sqlite_store.h"

namespace vellumora::server {
namespace {

using Changes = std::vector<RoomHistory::Change>;

ClientMessage start(const std::string& id, double x = 0.5) {
    return ClientMessage::strokeStart(
        {id, "forged", Tool::crayon, {0.1, 0.2, 0.3, 1.0}, 6, {x, 0.5, 1.0, 10.0}});
}
ClientMessage point(const std::string& id, double x = 0.25) {
    return ClientMessage::strokePoint(id, {x, 0.75, 0.5, 11.0});
}
ClientMessage finish(const std::string& id) {
    return ClientMessage::strokeEnd(id);
}
// What a point adds to a room_state after another point.
std::size_t nextPointBytes(const StrokePoint& p) {
    std::string text;
    json::Writer writer(text);
    json::write(writer, p);
    return 1 + text.size();
}

// One message from one user, and whether the history takes it.
struct Step {
    const char* user;
    ClientMessage message;
    bool accepted;
};

TEST(RoomHistory, shouldApplyOwnershipRulesAndRecordChangesInOrder) {
    RoomHistory h(StoredRoom{});
    const Step steps[] = {
        {"u1", start("S"), true},
        {"u2", point("S"), false},  // someone else's stroke
        {"u2", finish("S"), false},
        {"u2", start("S"), false},  // reused id
        {"u1", point("S"), true},
        {"u1", point("UNKNOWN"), false},
        {"u1", finish("S"), true},
        {"u1", point("S"), false},  // ended
        {"u2", start("T"), true},
        {"u1", ClientMessage::cursor(0.5, 0.5), true},
        {"u1", ClientMessage::setPage(WirePage{"p", "P", "image/png", ""}), true},
        {"u1", ClientMessage::clearCanvas(), true},
        {"u2", point("T"), false},  // the clear removed it
        {"u2", start("S"), true},   // the id is free again
    };
    Changes c;
    for (std::size_t i = 0; i < std::size(steps); ++i)
        EXPECT_EQ(h.apply(steps[i].message, steps[i].user, c), steps[i].accepted) << i;
    ASSERT_EQ(c.size(), 7u);
    EXPECT_EQ(std::get<HistoryOp::StartStroke>(c[0]).header.userId,
              "u1");  // the connection's id, not the forged one
    EXPECT_EQ(std::get<HistoryOp::AppendPoint>(c[1]).index, 1);
    EXPECT_TRUE(std::holds_alternative<HistoryOp::EndStroke>(c[2]));
    EXPECT_EQ(std::get<HistoryOp::StartStroke>(c[3]).seq, 2);
    EXPECT_EQ(std::get<HistoryOp::SetPage>(c[4]).page->pageId, "p");
    EXPECT_TRUE(std::holds_alternative<HistoryOp::Clear>(c[5]));
    EXPECT_EQ(h.strokeCount(), 1u);
    EXPECT_TRUE(h.page());
}

TEST(RoomHistory, shouldLetOnlyTheAuthorUndoAndRedoAndPutARedoneStrokeBackInPlace) {
    RoomHistory h(StoredRoom{});
    Changes c;
    for (const char* id : {"A", "B", "C"}) {
        ASSERT_TRUE(h.apply(start(id), id == std::string("B") ? "u2" : "u1", c));
    }
    const auto ids = [&h] {
        std::string out;
        for (const WireStroke& s : h.strokes()) out += s.id;
        return out;
    };
    const struct {
        const char* user;
        ClientMessage message;
        bool accepted;
        const char* shown;
    } steps[] = {
        {"u2", ClientMessage::strokeUndo("A"), false, "ABC"},  // not the author
        {"u1", ClientMessage::strokeUndo("X"), false, "ABC"},
        {"u1", ClientMessage::strokeRedo("A"), false, "ABC"},  // not undone
        {"u1", ClientMessage::strokeUndo("C"), true, "AB"},
        {"u1", point("C"), false, "AB"},  // an undone stroke does not grow
        {"u1", ClientMessage::strokeUndo("A"), true, "B"},
        {"u1", ClientMessage::strokeUndo("A"), false, "B"},
        {"u1", ClientMessage::strokeRedo("A"), true, "AB"},  // in its place, not on top
        {"u1", ClientMessage::strokeRedo("C"), true, "ABC"},
        {"u2", ClientMessage::strokeUndo("B"), true, "AC"},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        EXPECT_EQ(h.apply(steps[i].message, steps[i].user, c), steps[i].accepted) << i;
        EXPECT_EQ(ids(), steps[i].shown) << i;
    }
    // A redo names the nearest stroke before it that is still shown.
    EXPECT_EQ(h.redone("C", "u1").after, "A");
    EXPECT_EQ(h.redone("C", "u1").stroke.points.size(), 1u);
    EXPECT_EQ(h.redone("A", "u1").after, "");
    EXPECT_TRUE(std::get<HistoryOp::SetUndone>(c.back()).undone);
}

// A sender's kept open stroke must decide as a look-up would, after whatever freed or closed it.
TEST(RoomHistory, shouldTakeASendersKeptOpenStrokeOnlyWhileItIsStillThatOpenStroke) {
    // Room for two fresh strokes: a third evicts the oldest.
    const std::size_t twoStrokes =
        kRoomStateReserve + 2 * encode(ServerMessage{relayedFrom(start("A"), "u1")})->size();
    RoomHistory kept(StoredRoom{}, twoStrokes), looked(StoredRoom{}, twoStrokes);
    Changes c;
    std::map<std::string, RoomHistory::OpenStroke> open;
    const Step steps[] = {
        {"u1", start("S"), true},
        {"u1", point("S"), true},
        {"u1", ClientMessage::clearCanvas(), true},
        {"u2", start("S"), true},
        {"u1", point("S"), false},  // freed by the clear, now u2's
        {"u2", ClientMessage::strokeUndo("S"), true},
        {"u2", point("S"), false},
        {"u2", ClientMessage::strokeRedo("S"), true},
        {"u2", point("S"), true},
        {"u2", finish("S"), true},
        {"u2", point("S"), false},
        {"u1", start("A"), true},
        {"u1", point("A"), true},
        {"u2", start("B"), true},
        {"u2", start("C"), true},  // S and A evicted
        {"u2", start("A"), true},
        {"u1", point("A"), false},  // evicted, now u2's
        {"u2", point("A"), true},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        EXPECT_EQ(kept.apply(steps[i].message, steps[i].user, c, open[steps[i].user]), steps[i].accepted)
            << i;
        EXPECT_EQ(looked.apply(steps[i].message, steps[i].user, c), steps[i].accepted) << i;
    }
    // Kept for one room, it names nothing in another.
    RoomHistory other(StoredRoom{});
    ASSERT_TRUE(other.apply(start("A"), "u1", c));
    EXPECT_FALSE(other.apply(point("A"), "u2", c, open["u2"]));
}

TEST(RoomHistory, shouldLetAStoredOpenStrokeGrowAndContinueItsSequence) {
    StoredRoom stored;
    stored.strokes.push_back({41, WireStroke{"OLD", "u", Tool::pencil, {}, 2, {{0.1, 0.1, 1, 1}}, false}});
    RoomHistory h(std::move(stored));
    Changes c;
    EXPECT_TRUE(h.apply(point("OLD"), "u", c));  // its author reconnected after a restart
    EXPECT_EQ(std::get<HistoryOp::AppendPoint>(c[0]).index, 1);
    EXPECT_TRUE(h.apply(start("NEW"), "u", c));
    EXPECT_EQ(std::get<HistoryOp::StartStroke>(c[1]).seq, 42);
}

TEST(RoomHistory, shouldEvictTheOldestStrokesAtTheBudgetStopALoneStrokeThereAndRefuseAPageThatCanNeverFit) {
    RoomHistory h(StoredRoom{}, kRoomStateReserve + 2000);
    Changes c;
    int evicted = 0;
    for (int i = 0; i < 40; ++i) {
        c.clear();
        ASSERT_TRUE(h.apply(start("S" + std::to_string(i)), "u", c));
        ASSERT_TRUE(h.apply(finish("S" + std::to_string(i)), "u", c));
        for (const auto& change : c) evicted += std::holds_alternative<HistoryOp::RemoveStroke>(change);
        ASSERT_LE(h.bytes(), h.budget());
    }
    const auto strokes = h.strokes();
    EXPECT_EQ(strokes.size() + static_cast<std::size_t>(evicted), 40u);
    EXPECT_EQ(strokes.front().id, "S" + std::to_string(evicted));  // the newest are kept, in order
    EXPECT_EQ(strokes.back().id, "S39");

    ASSERT_TRUE(h.apply(start("LONG"), "u", c));
    int accepted = 0;
    // Its points have the longest numbers there are: the room still never passes its budget.
    const double tiny = -2.2250738585072014e-308;
    const StrokePoint longest{tiny, tiny, tiny, tiny};
    for (int i = 0; i < 100; ++i) {
        accepted += h.apply(ClientMessage::strokePoint("LONG", longest), "u", c);
        ASSERT_LE(h.bytes(), h.budget());
    }
    EXPECT_GT(accepted, 5);
    EXPECT_LT(accepted, 100);
    // Stopped only when the next point really does not fit.
    EXPECT_GT(h.bytes() + nextPointBytes(longest), h.budget());
    EXPECT_EQ(h.strokeCount(), 1u);
    EXPECT_TRUE(h.apply(finish("LONG"), "u", c));
    EXPECT_TRUE(h.apply(start("NEXT"), "u", c));  // evicts the full one
    EXPECT_EQ(h.strokes().front().id, "NEXT");

    // A page that can never fit is refused; for one that can, strokes make way.
    RoomHistory paged(StoredRoom{}, kRoomStateReserve + 3000);
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(paged.apply(start("S" + std::to_string(i)), "u", c));
    const std::size_t before = paged.strokeCount();
    EXPECT_FALSE(paged.apply(
        ClientMessage::setPage(WirePage{"big", "B", "image/png", std::string(3000, 'A')}), "u", c));
    EXPECT_EQ(paged.strokeCount(), before);
    EXPECT_TRUE(paged.apply(ClientMessage::setPage(WirePage{"ok", "O", "image/png", std::string(2000, 'A')}),
                            "u", c));
    EXPECT_LT(paged.strokeCount(), before);
    EXPECT_LE(paged.bytes(), paged.budget());
}

// The budget's figure is what the strokes and page add to an encoded room_state, to the byte,
// whatever numbers and texts they hold; so a room at its budget always fits the client's limit.
TEST(RoomHistory, shouldCountExactlyTheBytesOfTheEncodedRoomState) {
    std::mt19937_64 rng(7);
    const double numbers[] = {-0.0,      0.0, 5e-324,         1e-300, -2.2250738585072014e-308,
                              1.0 / 3.0, 1,   1733400000.123, 1e12};
    auto number = [&] { return numbers[rng() % std::size(numbers)]; };
    auto text = [&](std::size_t longest) {
        static constexpr char kChars[] = "aZ09-\"\\/\n\t\x01 \xC3\xA9";
        std::string s(1 + rng() % longest, ' ');
        for (char& ch : s) ch = kChars[rng() % (sizeof kChars - 1)];
        return s;
    };
    for (int round = 0; round < 30; ++round) {
        RoomHistory h(StoredRoom{}, kRoomStateReserve + 1000 + rng() % 20000);
        Changes c;
        std::vector<std::string> ids{"none"};
        for (int i = 0; i < 300; ++i) {
            const auto kind = std::min<std::size_t>(rng() % 6, 3);  // half of them points
            if (kind == 0) ids.push_back(text(64));
            const std::string id = kind == 0 ? ids.back() : ids[rng() % ids.size()];
            const StrokePoint p{number(), number(), number(), number()};
            const WirePage page{text(20), text(20), "image/png", text(3000)};
            const ClientMessage messages[] = {
                ClientMessage::strokeStart({id, "x", Tool::pastel, {number(), 1, 0, 1}, number(), p}),
                finish(id), ClientMessage::setPage(rng() % 3 ? std::optional(page) : std::nullopt),
                ClientMessage::strokePoint(id, p)};
            const std::size_t before = h.bytes();
            const std::size_t changed = c.size();
            h.apply(messages[kind], "user-" + std::to_string(rng() % 2), c);
            // A point evicts only what it has to: never on the strength of an estimate.
            const auto evicted = [](const auto& change) {
                return std::holds_alternative<HistoryOp::RemoveStroke>(change);
            };
            if (kind == 3 &&
                std::any_of(c.begin() + static_cast<std::ptrdiff_t>(changed), c.end(), evicted)) {
                ASSERT_GT(before + nextPointBytes(p), h.budget());
            }
            ASSERT_GE(h.bytesAtMost(), h.bytes());
        }
        const std::vector<WirePeer> peers{{"user-1", "bob", "#102030"}};
        const auto empty = encode(ServerMessage{RoomStateMessage{{}, peers, {"user-0"}, std::nullopt}});
        const auto full = encode(ServerMessage{RoomStateMessage{h.strokes(), peers, {"user-0"}, h.page()}});
        ASSERT_EQ(full->size(), empty->size() + h.bytes()) << "round " << round;
        ASSERT_LE(h.bytes(), h.budget());
    }
}

TEST(MessageRules, shouldAcceptWhatADrawingClientSendsAndRejectTheRest) {
    const StrokeStartPayload ok{
        "5B0C6A2E-0C52-4F8C-9C1B-1C0F4E7E2A11", "u", Tool::pastel, {1, 0.5, 0, 1}, 20, {0, 1, 1, 0}};
    auto with = [&](auto change) {
        StrokeStartPayload p = ok;
        change(p);
        return ClientMessage::strokeStart(p);
    };
    const struct {
        const char* what;
        ClientMessage message;
        bool sane;
    } cases[] = {
        {"typical start", ClientMessage::strokeStart(ok), true},
        {"slightly off the page", ClientMessage::cursor(-0.05, 1.05), true},
        {"far off the page", ClientMessage::cursor(5, 0.5), false},
        {"infinite", ClientMessage::cursor(std::numeric_limits<double>::infinity(), 0.5), false},
        {"nan", ClientMessage::strokePoint("S", {std::nan(""), 0, 1, 0}), false},
        {"negative pressure", ClientMessage::strokePoint("S", {0.5, 0.5, -1, 0}), false},
        {"zero brush", with([](auto& p) { p.brushSize = 0; }), false},
        {"alpha above one", with([](auto& p) { p.color.a = 1.5; }), false},
        {"65-byte id", with([](auto& p) { p.id = std::string(65, 'a'); }), false},
        {"64-byte id", with([](auto& p) { p.id = std::string(64, 'a'); }), true},
        {"id with a newline", ClientMessage::strokeEnd("a\nb"), false},
        {"long page name", ClientMessage::setPage(WirePage{"p", std::string(300, 'n'), "image/png", ""}),
         false},
    };
    for (const auto& c : cases) EXPECT_EQ(saneMessage(c.message), c.sane) << c.what;

    ClientMessage negative = ClientMessage::strokePoint("S", {-0.0, 0.5, -0.0, -0.0});
    foldNegativeZero(negative);
    EXPECT_EQ(encode(negative), encode(ClientMessage::strokePoint("S", {0.0, 0.5, 0.0, 0.0})));
}

// A relay built from the sender's bytes must read back as the one the codec would write; bytes
// not in the codec's layout (where a verbatim copy could read differently) are encoded instead.
TEST(RelayFromBytes, shouldCopyOnlyCodecLayoutBytesAndReadBackAsTheEncodedRelay) {
    const struct {
        const char* bytes;
        bool copied;
        bool sameBytes;  // as the codec's own relay, not just the same message
    } cases[] = {
        {R"({"type":"stroke_point","strokeId":"s-1","point":{"x":0.25,"y":1,"pressure":0.5,"t":1733400000.125}})",
         true, true},
        {R"({"type":"stroke_end","strokeId":"s-1"})", true, true},
        {R"({"type":"cursor","x":0.1,"y":0.30000000000000004})", true, true},
        // Other spellings of the same numbers read back the same.
        {R"({"type":"stroke_point","strokeId":"s","point":{"x":0.50,"y":5E-1,"pressure":1.0e0,"t":-2}})",
         true, false},
        {R"({"type":"cursor","x":0,"y":-0.0})", false, false},  // -0: kept, and relayed, as 0
        {R"({"type":"stroke_point","strokeId":"s","point":{"x":-0,"y":0.5,"pressure":1,"t":1}})", false,
         false},
        {R"({"type":"cursor","x":-1e-400,"y":0})", false, false},
        {R"({"type":"cursor", "x":0.1,"y":0.2})", false, false},
        {R"({"type":"cursor","x":0.1,"y":0.2} )", false, false},
        {R"({"type":"cursor","y":0.2,"x":0.1})", false, false},
        {R"({"type":"cursor","x":0.1,"y":0.2,"x":0.9})", false, false},
        {R"({"type":"cursor","x":0.1,"y":0.2,"userId":"forged"})", false, false},
        {R"({"type":"stroke_end","strokeId":"s\/1"})", false, false},
        {R"({"strokeId":"s","type":"stroke_end"})", false, false},
        {R"({"type":"stroke_point","strokeId":"s","point":{"x":0.2,"y":0.2,"pressure":1,"t":1,"t":2}})",
         false, false},
        {R"({"type":"clear_canvas"})", false, false},
        {R"({"type":"stroke_start","stroke":{"id":"s","userId":"forged","tool":"pencil","color":{"r":0,"g":0,"b":0,"a":1},"brushSize":4,"point":{"x":0.5,"y":0.5,"pressure":1,"t":1}}})",
         false, false},
    };
    ClientMessage plain;  // read over from case to case, as the room does
    for (const auto& c : cases) {
        std::optional<ClientMessage> message = decodeClientMessage(c.bytes);
        ASSERT_TRUE(message && saneMessage(*message)) << c.bytes;
        foldNegativeZero(*message);
        const std::string encoded = *encode(relayedFrom(*message, "u-1"));
        std::string out = "kept";
        EXPECT_EQ(relayFromBytes(c.bytes, *message, R"("u-1")", out), c.copied) << c.bytes;
        // The parser-free read takes exactly the stroke_points whose relay is copied, and reads
        // them bit for bit as the decoder does.
        const bool read = readPlainStrokePoint(c.bytes, plain);
        EXPECT_EQ(read, c.copied && std::holds_alternative<ClientMessage::StrokePoint>(message->value))
            << c.bytes;
        if (read) {
            EXPECT_EQ(encode(plain), encode(*decodeClientMessage(c.bytes))) << c.bytes;
            std::string relayed = "kept";
            relayPlainStrokePoint(c.bytes, R"("u-1")", relayed);
            EXPECT_EQ(relayed, out) << c.bytes;
        }
        if (!c.copied) {
            EXPECT_EQ(out, "kept") << c.bytes;
            continue;
        }
        ASSERT_TRUE(out.starts_with("kept")) << c.bytes;
        const std::string relayed = out.substr(4);
        EXPECT_EQ(decodeServerMessage(relayed), relayedFrom(*message, "u-1")) << relayed;
        EXPECT_EQ(relayed == encoded, c.sameBytes) << relayed;
    }
}

TEST(ReadPlainStrokePoint, shouldReadEveryNumberBitForBitAsTheLibraryDoes) {
    // Then digits past what 64 bits hold.
    std::vector<std::string> numbers = {"9007199254740992",       "9007199254740993", "9007199254740993e-3",
                                        "1e23",                   "0.1e-21",          "2.5E+0003",
                                        "18446744073709551617.5", "0.1000000000000000000001"};
    std::mt19937_64 random(31);
    const char* formats[] = {"%.17g", "%.15g", "%.9g", "%.3f", "%.6e", "%.1f"};
    for (int i = 0; i < 20000; ++i) {
        const double value = std::ldexp(std::uniform_real_distribution(0.5, 1.0)(random),
                                        std::uniform_int_distribution(-80, 80)(random));
        std::string& text = numbers.emplace_back(64, '\0');
        text.resize(static_cast<std::size_t>(std::snprintf(text.data(), 64, formats[i % 6], i % 3 ? value : -value)));
    }
    ClientMessage message;
    for (const std::string& number : numbers) {
        double expected = 0;
        std::from_chars(number.data(), number.data() + number.size(), expected);
        // First and last, where only the closing braces follow.
        const bool read = readPlainStrokePoint(R"({"type":"stroke_point","strokeId":"s","point":{"x":)" + number +
                                                   R"(,"y":0.5,"pressure":1,"t":)" + number + "}}",
                                               message);
        ASSERT_EQ(read, number.size() <= 32 && !(expected == 0 && number[0] == '-')) << number;
        if (!read) continue;
        const StrokePoint& p = std::get<ClientMessage::StrokePoint>(message.value).point;
        for (const double got : {p.x, p.t})
            EXPECT_EQ(std::bit_cast<std::uint64_t>(got), std::bit_cast<std::uint64_t>(expected)) << number;
    }
    // Cut anywhere, in a buffer of its own: refused, and (AddressSanitizer sees to it) not read past.
    const std::string whole = R"({"type":"stroke_point","strokeId":"s","point":{"x":0.25,"y":1,"pressure":1,"t":12}})";
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const std::vector<char> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(readPlainStrokePoint(std::string_view(cut.data(), n), message)) << n;
    }
}

// Keeps what it is sent as a queue whose socket takes nothing would, or lets go of it at once.
class Member final : public QuietMember {
  public:
    Member(std::string id, bool holds) : QuietMember(std::move(id)), holds(holds) {}
    bool enqueue(std::span<const Payload> parts) override {
        for (const Payload& part : parts) seen.push_back(*part);
        if (holds) held.emplace_back(parts.front(), *parts.front());
        return false;
    }
    const bool holds;
    std::vector<std::string> seen;                      // each text as it was when queued
    std::vector<std::pair<Payload, std::string>> held;  // the first part, and how it read then
};

// A room over its own store in a directory of its own, removed after the store has closed.
struct OneRoom {
    struct Dir {
        explicit Dir(const std::string& name)
            : path(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()))) {
            std::filesystem::create_directories(path);
        }
        ~Dir() { std::filesystem::remove_all(path); }
        std::filesystem::path path;
    };
    explicit OneRoom(const std::string& name)
        : dir("vellumora-" + name),
          store((dir.path / "db").string()),
          writer(store, metrics, std::chrono::milliseconds(5)),
          room("solo:" + name, store.loadRoom("solo:" + name), writer, metrics, 8) {}
    Dir dir;
    Metrics metrics;
    SqliteStore store;
    HistoryWriter writer;
    Room room;
};

TEST(Room, shouldNeverRewriteARelayedTextThatAQueueStillHolds) {
    OneRoom one("relay");
    Room& room = one.room;
    auto author = std::make_shared<Member>("author", false);
    auto holder = std::make_shared<Member>("holder", true);
    auto reader = std::make_shared<Member>("reader", false);
    for (const auto& m : {author, holder, reader}) ASSERT_TRUE(room.join(m));
    room.handle(*author, *encode(start("s")));
    const std::size_t before = holder->held.size();
    // The holder lets go halfway, so later relays reuse texts while earlier ones are held.
    for (int i = 0; i < 24; ++i) {
        if (i == 12) holder->held.resize(before);
        room.handle(*author, *encode(point("s", i / 64.0)));
    }
    for (const auto& [text, then] : holder->held) EXPECT_EQ(*text, then);
    for (std::size_t i = 0, from = reader->seen.size() - 24; i < 24; ++i)
        EXPECT_EQ(decodeServerMessage(reader->seen[from + i]), relayedFrom(point("s", i / 64.0), "author"));
}

// Points in the layout read without the parser, against the rules of a point: dropped, not relayed.
TEST(Room, shouldDropPlainPointsOutsideTheRules) {
    OneRoom one("rules");
    Room& room = one.room;
    auto author = std::make_shared<Member>("author", false);
    auto reader = std::make_shared<Member>("reader", false);
    for (const auto& m : {author, reader}) ASSERT_TRUE(room.join(m));
    room.handle(*author, *encode(start("s")));
    const std::size_t before = reader->seen.size();
    for (const char* bad : {R"("s","point":{"x":5,"y":0.5,"pressure":1,"t":1)",
                            R"("s","point":{"x":0.5,"y":-1.5,"pressure":1,"t":1)",
                            R"("s","point":{"x":0.5,"y":0.5,"pressure":65,"t":1)",
                            R"("s","point":{"x":0.5,"y":0.5,"pressure":1,"t":2e12)",
                            R"("","point":{"x":0.5,"y":0.5,"pressure":1,"t":1)"})
        room.handle(*author, std::string(R"({"type":"stroke_point","strokeId":)") + bad + "}}");
    EXPECT_EQ(reader->seen.size(), before);
    room.handle(*author, R"({"type":"stroke_point","strokeId":"s","point":{"x":0.5,"y":0.5,"pressure":1,"t":1}})");
    EXPECT_EQ(reader->seen.size(), before + 1);
}

}  // namespace
}  // namespace vellumora::server
