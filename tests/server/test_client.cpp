#include "test_client.h"

#include <simdjson.h>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <arpa/inet.h>

#include <deque>
#include <stdexcept>
#include <thread>

#include "support/server_process.h"
#if VELLUMORA_WITH_POSTGRES
#include "postgres_instance.h"
#endif

namespace vellumora::testing {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

#if VELLUMORA_WITH_POSTGRES
// The same tests against the PostgreSQL store, when the environment asks for it.
const bool kStoreChosen = [] {
    if (PostgresInstance::shared())
        ServerProcess::setDatabaseFactory([] { return PostgresInstance::shared()->createDatabase(); });
    return true;
}();
#endif

namespace {
const tcp::endpoint endpoint(std::uint16_t port) {
    return {asio::ip::make_address("127.0.0.1"), port};
}

std::string urlEncode(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') {
            out.push_back(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
            out += escaped;
        }
    }
    return out;
}
}  // namespace

std::string proxyHeader(const std::string& address) {
    unsigned char ip[16] = {};
    const bool v6 = address.find(':') != std::string::npos;
    if (inet_pton(v6 ? AF_INET6 : AF_INET, address.c_str(), ip) != 1) throw std::runtime_error("bad address");
    const std::size_t ipBytes = v6 ? 16 : 4;
    std::string out("\r\n\r\n\0\r\nQUIT\n", 12);
    out.push_back('\x21');
    out.push_back(v6 ? '\x21' : '\x11');
    const std::size_t rest = 2 * ipBytes + 4;
    out.push_back(static_cast<char>(rest >> 8));
    out.push_back(static_cast<char>(rest & 0xFF));
    out.append(reinterpret_cast<const char*>(ip), ipBytes);  // source: the client
    out.append(ipBytes, '\0');                               // destination
    out.append("\xC0\x01\x22\x3D", 4);                       // ports
    return out;
}

HttpAnswer httpRequest(std::uint16_t port, std::string_view method, std::string_view path,
                       std::string_view body, std::string_view token, std::string_view before) {
    asio::io_context ioc;
    beast::tcp_stream stream(ioc);
    http::request<http::string_body> req(http::string_to_verb(method), path, 11);
    req.set(http::field::host, "127.0.0.1");
    if (!token.empty()) req.set(http::field::authorization, "Bearer " + std::string(token));
    req.body() = std::string(body);
    req.prepare_payload();
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    beast::error_code ec;
    stream.connect(endpoint(port), ec);
    if (!ec && !before.empty()) asio::write(stream, asio::buffer(before.data(), before.size()), ec);
    if (!ec) http::write(stream, req, ec);
    if (!ec) http::read(stream, buffer, response, ec);
    if (ec) return {};
    return {response.result_int(), response.body()};
}

std::string jsonString(std::string_view json, std::string_view key) {
    simdjson::dom::parser parser;
    std::string_view value;
    if (parser.parse(simdjson::padded_string(json))[key].get_string().get(value)) return {};
    return std::string(value);
}

bool isA(const std::optional<std::string>& text, std::string_view type) {
    return text && text->find("\"type\":\"" + std::string(type) + "\"") != std::string::npos;
}

std::int64_t metric(std::uint16_t port, std::string_view name) {
    const std::string body = httpRequest(port, "GET", "/metrics").body;
    const std::string line = "\n" + std::string(name) + " ";
    const auto at = body.find(line);
    return at == std::string::npos ? -1 : std::stoll(body.substr(at + line.size()));
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

std::string maskedFrameHeader(std::size_t length) {
    std::string out{'\x81', '\xFF'};  // final text frame, masked, 64-bit length
    for (int i = 7; i >= 0; --i) out.push_back(static_cast<char>(std::uint64_t{length} >> (8 * i)));
    return out.append(4, '\0');
}

Account signUp(std::uint16_t port, const std::string& username, const std::string& password) {
    const HttpAnswer a =
        httpRequest(port, "POST", "/auth/signup",
                    R"({"username":")" + username + R"(","password":")" + password + R"("})");
    if (a.status != 200) throw std::runtime_error("sign-up of " + username + " failed: " + a.body);
    simdjson::dom::parser parser;
    const simdjson::dom::element root = parser.parse(simdjson::padded_string(a.body));
    return {jsonString(a.body, "token"), std::string(root["user"]["id"].get_string().value()), username};
}

void befriend(std::uint16_t port, const Account& a, const Account& b) {
    if (httpRequest(port, "POST", "/friends/request", R"({"username":")" + b.username + R"("})", a.token)
                .status != 200 ||
        httpRequest(port, "POST", "/friends/accept", R"({"requesterId":")" + a.id + R"("})", b.token)
                .status != 200)
        throw std::runtime_error("befriending failed");
}

std::string soloRoom(const Account& a) {
    return "solo:" + a.id;
}

std::string dmRoom(const Account& a, const Account& b) {
    return a.id < b.id ? "dm:" + a.id + ":" + b.id : "dm:" + b.id + ":" + a.id;
}

bool seesOnline(std::uint16_t port, const Account& viewer, const Account& friendAccount) {
    const std::string body = httpRequest(port, "GET", "/friends", {}, viewer.token).body;
    const auto at = body.find("\"" + friendAccount.id + "\"");
    return at != std::string::npos && body.find("\"online\":true", at) < body.find('}', at);
}

struct WsClient::Impl {
    void startRead();

    asio::io_context ioc_;
    beast::websocket::stream<beast::tcp_stream> ws_{ioc_};
    beast::flat_buffer buffer_;
    std::deque<std::string> inbox_;
    unsigned status_ = 0;
    std::string refusalBody_;
    bool reading_ = false;
    bool closed_ = false;
};

WsClient::WsClient(std::uint16_t port, const std::string& room, const std::string& token,
                   const std::string& color, TokenIn tokenIn)
    : s_(std::make_unique<Impl>()) {
    beast::error_code ec;
    beast::get_lowest_layer(s_->ws_).connect(endpoint(port), ec);
    if (ec) {
        s_->closed_ = true;
        return;
    }
    s_->ws_.read_message_max(64 * 1024 * 1024);
    std::string target = "/?room=" + urlEncode(room);
    if (tokenIn == TokenIn::bearer) {
        s_->ws_.set_option(beast::websocket::stream_base::decorator([token](beast::websocket::request_type& r) {
            r.set(http::field::authorization, "Bearer " + token);
        }));
    } else {
        target += "&token=" + urlEncode(token);
    }
    beast::websocket::response_type response;
    // The asynchronous handshake hands back a refused answer too; the blocking one does not.
    s_->ws_.async_handshake(response, "127.0.0.1", target + "&color=" + urlEncode(color),
                            [&](beast::error_code e) { ec = e; });
    s_->ioc_.run();
    s_->status_ = response.result_int();
    if (ec) {
        s_->refusalBody_ = response.body();
        if (s_->status_ == 101) s_->status_ = 0;
        s_->closed_ = true;
    }
}

WsClient::~WsClient() {
    beast::error_code ec;
    beast::get_lowest_layer(s_->ws_).socket().close(ec);
}

bool WsClient::send(std::string_view text, bool binary) {
    beast::error_code ec;
    s_->ws_.binary(binary);
    s_->ws_.write(asio::buffer(text.data(), text.size()), ec);
    return !ec;
}

bool WsClient::sendRaw(std::string_view bytes) {
    beast::error_code ec;
    asio::write(beast::get_lowest_layer(s_->ws_).socket(), asio::buffer(bytes.data(), bytes.size()), ec);
    if (ec) s_->closed_ = true;
    return !ec;
}

bool WsClient::send(const ClientMessage& message) {
    auto text = encode(message);
    return text && send(*text);
}

void WsClient::Impl::startRead() {
    if (reading_ || closed_) return;
    reading_ = true;
    ws_.async_read(buffer_, [this](beast::error_code ec, std::size_t) {
        reading_ = false;
        if (ec) {
            closed_ = true;
            return;
        }
        inbox_.push_back(beast::buffers_to_string(buffer_.data()));
        buffer_.consume(buffer_.size());
    });
}

std::optional<std::string> WsClient::receive(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (s_->inbox_.empty() && !s_->closed_) {
        s_->startRead();
        s_->ioc_.restart();
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            s_->ioc_.poll();  // a zero timeout still takes what has already arrived
            break;
        }
        s_->ioc_.run_one_for(deadline - now);
    }
    if (s_->inbox_.empty()) return std::nullopt;
    std::string next = std::move(s_->inbox_.front());
    s_->inbox_.pop_front();
    return next;
}

std::optional<ServerMessage> WsClient::receiveMessage(std::chrono::milliseconds timeout) {
    auto text = receive(timeout);
    return text ? decodeServerMessage(*text) : std::nullopt;
}

std::vector<std::string> WsClient::drain(std::chrono::milliseconds quiet) {
    std::vector<std::string> out;
    while (auto next = receive(quiet)) out.push_back(std::move(*next));
    return out;
}

bool WsClient::waitFor(std::string_view type, int count, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (count > 0) {
        const auto text = receive(std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()));
        if (!text) return false;
        count -= isA(text, type);
    }
    return true;
}

bool WsClient::waitClosed(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!s_->closed_ && std::chrono::steady_clock::now() < deadline) {
        s_->inbox_.clear();
        receive(std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                      std::chrono::steady_clock::now()));
    }
    return s_->closed_;
}

void WsClient::abort() {
    beast::error_code ec;
    auto& socket = beast::get_lowest_layer(s_->ws_).socket();
    socket.set_option(asio::socket_base::linger(true, 0), ec);
    socket.close(ec);
    s_->closed_ = true;
}

void WsClient::close() {
    if (s_->closed_) return;
    s_->ws_.async_close(beast::websocket::close_code::normal,
                        [this](beast::error_code) { s_->closed_ = true; });
    s_->ioc_.restart();
    s_->ioc_.run_for(std::chrono::seconds(2));
    s_->closed_ = true;
}

unsigned WsClient::handshakeStatus() const {
    return s_->status_;
}

std::string WsClient::refusalBody() const {
    return s_->refusalBody_;
}

bool WsClient::open() const {
    return s_->status_ == 101 && !s_->closed_;
}

unsigned WsClient::closeCode() const {
    return s_->ws_.reason().code;
}

std::string WsClient::closeReason() const {
    return std::string(s_->ws_.reason().reason);
}

Drawing drawSteadily(WsClient& drawer, WsClient& observer, const std::string& id,
                     std::chrono::milliseconds duration, std::chrono::milliseconds margin) {
    Drawing d;
    drawer.send(strokeStart(id));
    const auto begin = std::chrono::steady_clock::now();
    for (auto elapsed = 0ms; elapsed < duration;
         elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                         begin)) {
        drawer.send(strokePoint(id, (d.sent % 1000) / 1000.0, 0.5, d.sent));
        ++d.sent;
        while (auto m = observer.receive(0ms)) d.seen += m->find("stroke_point") != std::string::npos;
        if (elapsed < duration - margin) d.seenEarly = d.seen;
        std::this_thread::sleep_for(1ms);
    }
    return d;
}

void expectStoredPrefix(const WireStroke& stored, const Drawing& drawing) {
    const std::size_t points = stored.points.size() - 1;  // the first came with the start
    EXPECT_GE(points, drawing.seenEarly);
    EXPECT_LE(points, static_cast<std::size_t>(drawing.sent));
    for (std::size_t i = 1; i < stored.points.size(); ++i)
        ASSERT_EQ(stored.points[i].t, static_cast<double>(i - 1));
}

ClientMessage strokeStart(const std::string& id, double x, double y, Tool tool) {
    return ClientMessage::strokeStart({id, "whoever", tool, {0.9, 0.2, 0.1, 1.0}, 4.5, {x, y, 0.75, 1.0}});
}

ClientMessage strokePoint(const std::string& id, double x, double y, double t) {
    return ClientMessage::strokePoint(id, {x, y, 1.0, t});
}

}  // namespace vellumora::testing
