// Writes the history the store tests convert and reload (tests/server/data/history_v1*): run
// against a server of the layout to be converted (`make_history_db PORT OUT`), then stop it
// with SIGTERM and keep its database file.
// OUT gets one line per room, "<room id> <room_state JSON>", as that server sent it.
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <limits>

#include "test_client.h"

using namespace vellumora;
using namespace vellumora::testing;

namespace {
StrokeStartPayload start(const std::string& id, Tool tool, WireColor color, double size, StrokePoint first) {
    return {id, "", tool, color, size, first};
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: make_history_db PORT OUT\n";
        return 2;
    }
    const auto port = static_cast<std::uint16_t>(std::atoi(argv[1]));
    const Account alice = signUp(port, "alice");
    const Account bob = signUp(port, "bob");
    befriend(port, alice, bob);
    const std::string dm = dmRoom(alice, bob);
    const std::string solo = soloRoom(alice);

    WsClient a(port, dm, alice.token);
    a.waitFor("room_state");
    WsClient b(port, dm, bob.token);
    b.waitFor("room_state");
    a.send(ClientMessage::strokeStart(start("GONE", Tool::crayon, {1, 0, 0, 1}, 4, {0.5, 0.5, 1, 0})));
    a.send(ClientMessage::clearCanvas());
    b.waitFor("canvas_cleared");
    a.send(ClientMessage::strokeStart(start("A", Tool::pencil, {0.1 + 0.2, 1.0 / 3.0, 0, 1}, 2.5,
                                            {0.1 + 0.2, 1.0 / 3.0, 0.75, 1733400000.5})));
    for (int i = 1; i <= 40; ++i)
        a.send(ClientMessage::strokePoint(
            "A", {std::fmod(i * 0.0137, 1.0), std::sin(i) * 0.5 + 0.5, i / 41.0, 1733400000.5 + i / 120.0}));
    a.send(ClientMessage::strokeEnd("A"));
    b.waitFor("stroke_end");
    b.send(ClientMessage::strokeStart(
        start("B", Tool::watercolor, {0.2, 0.4, 0.6, 0.5}, 12, {std::nextafter(0.5, 1.0), 5e-324, 1, -0.0})));
    for (int i = 1; i <= 25; ++i)
        b.send(ClientMessage::strokePoint("B", {i % 2 ? -0.0 : i / 300.0, 1 - i / 26.0, 0.5, i * 0.001}));
    b.send(
        ClientMessage::setPage(WirePage{"capture-1", "Scan \"1\" / \xc3\xbc", "image/png", "iVBORw0KGgo="}));
    a.waitFor("page_changed");

    // Loading a second room folds what the first logged so far; what follows stays in the log.
    WsClient s(port, solo, alice.token);
    s.waitFor("room_state");
    WsClient watcher(port, solo, alice.token);
    watcher.waitFor("room_state");
    s.send(ClientMessage::strokeStart(start("DOT", Tool::sketchpen, {0, 0, 0, 1}, 1, {0.25, 0.75, 1, 10})));
    s.send(ClientMessage::strokeEnd("DOT"));
    s.send(ClientMessage::strokeStart(start("LONG", Tool::pastel, {0.9, 0.8, 0.1, 1}, 30, {0, 0, 0.3, 20})));
    for (int i = 1; i < 300; ++i)
        s.send(ClientMessage::strokePoint("LONG", {i / 300.0, std::cos(i / 30.0), 0.3, 20 + i / 240.0}));
    s.send(ClientMessage::strokeEnd("LONG"));
    s.send(
        ClientMessage::strokeStart(start("OPEN", Tool::crayon, {0.5, 0.5, 0.5, 1}, 6, {0.6, 0.6, 0.9, 30})));
    s.send(ClientMessage::strokePoint("OPEN", {0.61, 0.6, 0.9, 30.01}));
    for (int i = 26; i <= 30; ++i) b.send(ClientMessage::strokePoint("B", {0.9, i / 31.0, 0.5, i * 0.001}));
    a.waitFor("stroke_point", 5);
    watcher.waitFor("stroke_point", 300);

    std::ofstream out(argv[2]);
    for (const auto& [room, who] : {std::pair{dm, alice.token}, std::pair{solo, alice.token}}) {
        WsClient reader(port, room, who);
        const std::optional<std::string> state = reader.receive();
        if (!isA(state, "room_state")) {
            std::cerr << "no room_state for " << room << "\n";
            return 1;
        }
        out << room << ' ' << *state << '\n';
    }
    return out ? 0 : 1;
}
