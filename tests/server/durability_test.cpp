// Room history survives the process: a clean stop loses nothing, a kill -9 at most the
// last group-commit window; undone strokes stay out of the room and are redone in place.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/server_process.h"
#include "test_client.h"

namespace vellumora::testing {
namespace {

RoomStateMessage roomStateOf(std::uint16_t port, const std::string& room, const Account& who) {
    WsClient client(port, room, who.token);
    return expectMessage<RoomStateMessage>(client);
}

TEST(Durability, shouldRestoreTheExactRoomAfterSigtermItsBeginningAfterKill9AndKeepUndoneStrokesOut) {
    ServerProcess server({.extraArgs = {"--auth-rate-limit", "0", "--message-rate-limit", "0"}});
    const Account alice = signUp(server.port(), "alice");
    const Account bob = signUp(server.port(), "bob");
    befriend(server.port(), alice, bob);
    const std::string room = dmRoom(alice, bob);
    WsClient a(server.port(), room, alice.token);
    a.receive();
    WsClient b(server.port(), room, bob.token);
    b.receive();
    a.send(strokeStart("OLD", 0.5, 0.5));
    a.send(ClientMessage::clearCanvas());
    // Doubles that only survive when stored bit for bit, and -0.0, which is kept as 0.
    a.send(strokeStart("A", 0.1 + 0.2, 1.0 / 3.0, Tool::sketchpen));
    // b starts once a's clear and start have reached it: the clear cannot erase b's stroke,
    // and a's stroke is the first.
    ASSERT_TRUE(b.waitFor("canvas_cleared"));
    ASSERT_TRUE(b.waitFor("stroke_start"));
    b.send(strokeStart("B", std::nextafter(0.5, 1.0), 5e-324, Tool::pastel));
    for (int i = 0; i < 200; ++i) {
        a.send(
            strokePoint("A", std::fmod(i * 0.0137, 1.0), std::sin(i) * 0.5 + 0.5, 1733400000.0 + i / 120.0));
        if (i % 3 == 0) b.send(strokePoint("B", i % 2 ? -0.0 : i / 300.0, -0.0, -0.0));
    }
    b.send(ClientMessage::strokeEnd("B"));
    b.send(
        ClientMessage::setPage(WirePage{"capture-1", "Scan \"1\" / ü", "image/png", std::string(1000, 'Q')}));
    a.send(strokePoint("A", 0.5, 0.5, 1733400009.0));  // the last, stored only by the stop
    ASSERT_TRUE(a.waitFor("page_changed"));
    ASSERT_TRUE(b.waitFor("stroke_point", 201));
    // Live from memory; the authors and peers are the room tests'. Peers are left out of the
    // comparisons: a room_state lists every connection whose end the server has not read yet.
    const RoomStateMessage live = roomStateOf(server.port(), room, alice);
    ASSERT_EQ(live.strokes.size(), 2u);
    EXPECT_EQ(live.strokes[0].points.size(), 202u);
    EXPECT_TRUE(live.strokes[1].complete);
    EXPECT_FALSE(std::signbit(live.strokes[1].points[1].y));

    server.stop(SIGTERM);
    // Exit status 0 also means the sanitizers found nothing to report on the way out.
    EXPECT_TRUE(WIFEXITED(server.exitStatus()) && WEXITSTATUS(server.exitStatus()) == 0) << server.log();
    EXPECT_TRUE(b.waitClosed(5s));
    EXPECT_EQ(b.closeCode(), 1001u);  // going away
    server.start();
    const RoomStateMessage after = roomStateOf(server.port(), room, alice);  // the token outlived it too
    EXPECT_EQ(after.strokes, live.strokes);
    EXPECT_EQ(after.page, live.page);

    const std::string solo = soloRoom(alice);
    WsClient drawer(server.port(), solo, alice.token);
    ASSERT_TRUE(drawer.waitFor("room_state"));
    WsClient observer(server.port(), solo, alice.token);
    ASSERT_TRUE(observer.waitFor("room_state"));
    // Everything relayed a second before the kill is outside any commit window, even one a
    // loaded machine stretches by starving the writer (which yields to relaying).
    const Drawing drawn = drawSteadily(drawer, observer, "K", 2000ms, 1000ms);
    server.stop(SIGKILL);
    server.start();
    const RoomStateMessage state = roomStateOf(server.port(), solo, alice);
    ASSERT_EQ(state.strokes.size(), 1u);
    expectStoredPrefix(state.strokes[0], drawn);

    // Undo and redo: every connection hears them (the author's too), a redo names its place, and
    // a restart keeps what was undone out of the room.
    const Account carol = signUp(server.port(), "carol");
    const auto ids = [&] {
        std::string out;
        for (const WireStroke& s : roomStateOf(server.port(), soloRoom(carol), carol).strokes) out += s.id;
        return out;
    };
    {
        WsClient c(server.port(), soloRoom(carol), carol.token);
        ASSERT_TRUE(c.waitFor("room_state"));
        for (const char* id : {"A1", "A2", "A3"}) c.send(strokeStart(id));
        for (const char* id : {"A2", "A1"}) c.send(ClientMessage::strokeUndo(id));
        c.send(ClientMessage::strokeRedo("A1"));
        expectMessage<StrokeUndoMessage>(c);
        EXPECT_EQ(expectMessage<StrokeUndoMessage>(c), (StrokeUndoMessage{carol.id, "A1"}));
        const auto redo = expectMessage<StrokeRedoMessage>(c);
        EXPECT_EQ(redo.after, "");
        EXPECT_EQ(redo.stroke.id, "A1");
    }
    server.stop(SIGTERM);
    server.start();
    EXPECT_EQ(ids(), "A1A3");
    WsClient c(server.port(), soloRoom(carol), carol.token);
    ASSERT_TRUE(c.waitFor("room_state"));
    c.send(ClientMessage::strokeRedo("A2"));
    EXPECT_EQ(expectMessage<StrokeRedoMessage>(c).after, "A1");
    EXPECT_EQ(ids(), "A1A2A3");
}

// Voluntary context switches of the server's history writer: how often it has woken.
long writerWakeUps(pid_t pid) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        std::string name;
        std::getline(std::ifstream(task.path() / "comm"), name);
        if (name != "history-writer") continue;
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("voluntary_ctxt_switches:")) return std::stol(line.substr(24));
    }
    return -1;
}

// An idle server wakes nobody: after a few empty windows the writer sleeps until there is
// something to store (a writer that ticks every window wakes about 80 times here). The kill -9
// above shows that the first change after such a sleep is stored.
TEST(Durability, shouldLetTheHistoryWriterSleepWhileNothingIsQueued) {
    ServerProcess server;
    std::this_thread::sleep_for(1s);  // twenty empty windows, with room for a slow machine
    const long before = writerWakeUps(server.pid());
    ASSERT_GE(before, 0);
    std::this_thread::sleep_for(400ms);
    EXPECT_LE(writerWakeUps(server.pid()) - before, 2);
}

}  // namespace
}  // namespace vellumora::testing
