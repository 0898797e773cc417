#pragma once
// Clients for driving a real vellumora-server over loopback in tests. Beast stays inside
// test_client.cpp: it is the slowest thing to compile here.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/protocol.h"

namespace vellumora::testing {

using namespace std::chrono_literals;

struct HttpAnswer {
    unsigned status = 0;
    std::string body;
};

// One request on a fresh connection. `token` adds "Authorization: Bearer <token>". Status 0
// when no answer came (nobody listening, or the connection dropped).
HttpAnswer httpRequest(std::uint16_t port, std::string_view method, std::string_view path,
                       std::string_view body = {}, std::string_view token = {}, std::string_view before = {});
// The PROXY v2 header a proxy sends ahead of a client's connection from `address` (IPv4 or IPv6).
std::string proxyHeader(const std::string& address);
// The string member `key` of a JSON object text; empty when absent.
std::string jsonString(std::string_view json, std::string_view key);
// Whether `text` is a message of `type`.
bool isA(const std::optional<std::string>& text, std::string_view type);
// The value of one line of /metrics; -1 when it is missing.
std::int64_t metric(std::uint16_t port, std::string_view name);
// Polls `condition` every few milliseconds until it holds or `timeout` passes.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s);

struct Account {
    std::string token;
    std::string id;
    std::string username;
};
// Signs up (throws std::runtime_error when the server refuses).
Account signUp(std::uint16_t port, const std::string& username, const std::string& password = "password123");
// Makes two accounts friends through the REST API.
void befriend(std::uint16_t port, const Account& a, const Account& b);
std::string soloRoom(const Account& a);
std::string dmRoom(const Account& a, const Account& b);
// Whether `viewer`'s friend list on the server at `port` shows `friendAccount` online.
bool seesOnline(std::uint16_t port, const Account& viewer, const Account& friendAccount);

// A client text frame header for `length` bytes, masked with a zero key (the payload goes as is).
std::string maskedFrameHeader(std::size_t length);

class WsClient {
  public:
    // Connects and performs the handshake; check handshakeStatus() (101 when admitted, 0 when
    // nobody listens). The token goes in the query, as older apps send it, or with `bearer` in
    // an Authorization header.
    enum class TokenIn { query, bearer };
    WsClient(std::uint16_t port, const std::string& room, const std::string& token,
             const std::string& color = "#FF0000", TokenIn tokenIn = TokenIn::query);
    ~WsClient();

    unsigned handshakeStatus() const;
    std::string refusalBody() const;
    bool open() const;

    // False when the connection failed.
    bool send(std::string_view text, bool binary = false);
    bool send(const ClientMessage& message);
    // Bytes straight onto the socket, for frames no well-behaved client writes.
    bool sendRaw(std::string_view bytes);

    // The next message, or none after `timeout` (or when the connection is closed).
    std::optional<std::string> receive(std::chrono::milliseconds timeout = 10s);
    std::optional<ServerMessage> receiveMessage(std::chrono::milliseconds timeout = 10s);
    // Messages until none arrives for `quiet`.
    std::vector<std::string> drain(std::chrono::milliseconds quiet = 300ms);
    // Reads until `count` messages of `type` have arrived (others are skipped); false on timeout.
    // What the server relays from one sender it processed in order, so this is how a test knows
    // the server has handled everything that sender sent before.
    bool waitFor(std::string_view type, int count = 1, std::chrono::milliseconds timeout = 20s);
    // Waits until the connection is closed; true when it was within `timeout`.
    bool waitClosed(std::chrono::milliseconds timeout);
    void close();
    // Resets the connection (TCP RST), as a crashed or unplugged client would leave it.
    void abort();
    // The code and reason of the close frame the server sent (0 when none arrived).
    unsigned closeCode() const;
    std::string closeReason() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> s_;
};

// The next message, which must be a T (a failure and an empty T otherwise).
template <class T>
T expectMessage(WsClient& client) {
    std::optional<ServerMessage> message = client.receiveMessage();
    if (!message || !std::holds_alternative<T>(*message)) {
        ADD_FAILURE() << (message ? "unexpected " + std::string(typeName(*message)) : "no message");
        return T{};
    }
    return std::get<T>(*message);
}

struct Drawing {
    int sent = 0;
    std::size_t seen = 0;       // points the observer received
    std::size_t seenEarly = 0;  // of those, the ones received `margin` before the end
};
// Starts stroke `id` and sends its points at ~1 kHz for `duration`, with t = 0, 1, 2...
Drawing drawSteadily(WsClient& drawer, WsClient& observer, const std::string& id,
                     std::chrono::milliseconds duration, std::chrono::milliseconds margin);
// A stroke stored from such a drawing holds exactly its beginning, and at least what was seen early.
void expectStoredPrefix(const WireStroke& stored, const Drawing& drawing);

// Convenience builders of client messages.
ClientMessage strokeStart(const std::string& id, double x = 0.5, double y = 0.5, Tool tool = Tool::pencil);
ClientMessage strokePoint(const std::string& id, double x, double y, double t = 1.0);

}  // namespace vellumora::testing
