#include "test_client.h"

#include <simdjson.h>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/http.hpp>

#include <stdexcept>

namespace vellumora::testing {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

HttpAnswer httpRequest(std::uint16_t port, std::string_view method, std::string_view path,
                       std::string_view body, std::string_view token) {
    asio::io_context ioc;
    beast::tcp_stream stream(ioc);
    stream.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
    http::request<http::string_body> req(http::string_to_verb(method), path, 11);
    req.set(http::field::host, "127.0.0.1");
    if (!token.empty()) req.set(http::field::authorization, "Bearer " + std::string(token));
    if (!body.empty() || method == "POST") {
        req.set(http::field::content_type, "application/json");
        req.body() = std::string(body);
    }
    req.prepare_payload();
    http::write(stream, req);
    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(64 * 1024 * 1024);
    http::read(stream, buffer, parser);
    beast::error_code ec;
    stream.socket().shutdown(tcp::socket::shutdown_both, ec);
    return {parser.get().result_int(), parser.get().body()};
}

std::string jsonString(std::string_view json, std::string_view key) {
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    if (parser.parse(simdjson::padded_string(json)).get(root)) return {};
    std::string_view value;
    if (root[key].get_string().get(value)) return {};
    return std::string(value);
}

Account signUp(std::uint16_t port, const std::string& username, const std::string& password) {
    const HttpAnswer a =
        httpRequest(port, "POST", "/auth/signup",
                    R"({"username":")" + username + R"(","password":")" + password + R"("})");
    if (a.status != 200) throw std::runtime_error("sign-up of " + username + " failed: " + a.body);
    simdjson::dom::parser parser;
    simdjson::dom::element root = parser.parse(simdjson::padded_string(a.body));
    return {std::string(root["token"].get_string().value()),
            std::string(root["user"]["id"].get_string().value()), username};
}

void befriend(std::uint16_t port, const Account& a, const Account& b) {
    auto r =
        httpRequest(port, "POST", "/friends/request", R"({"username":")" + b.username + R"("})", a.token);
    if (r.status != 200) throw std::runtime_error("friend request failed: " + r.body);
    r = httpRequest(port, "POST", "/friends/accept", R"({"requesterId":")" + a.id + R"("})", b.token);
    if (r.status != 200) throw std::runtime_error("accept failed: " + r.body);
}

std::string soloRoom(const Account& a) {
    return "solo:" + a.id;
}

std::string dmRoom(const Account& a, const Account& b) {
    return a.id < b.id ? "dm:" + a.id + ":" + b.id : "dm:" + b.id + ":" + a.id;
}

namespace {
std::string urlEncode(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 0xF]);
        }
    }
    return out;
}
}  // namespace

WsClient::WsClient(std::uint16_t port, const std::string& room, const std::string& token,
                   const std::string& color)
    : ws_(ioc_) {
    beast::get_lowest_layer(ws_).connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
    ws_.read_message_max(64 * 1024 * 1024);
    const std::string target =
        "/?room=" + urlEncode(room) + "&token=" + urlEncode(token) + "&color=" + urlEncode(color);
    websocket::response_type response;
    beast::error_code ec;
    // The asynchronous handshake hands back a refused answer too; the blocking one does not.
    ws_.async_handshake(response, "127.0.0.1", target, [&](beast::error_code e) { ec = e; });
    ioc_.run();
    status_ = response.result_int();
    if (ec) {
        refusalBody_ = response.body();
        if (status_ == 101) status_ = 0;
        closed_ = true;
    }
}

WsClient::~WsClient() {
    beast::error_code ec;
    beast::get_lowest_layer(ws_).socket().close(ec);
}

bool WsClient::send(std::string_view text) {
    beast::error_code ec;
    ws_.text(true);
    ws_.write(asio::buffer(text.data(), text.size()), ec);
    return !ec;
}

bool WsClient::sendBinary(std::string_view bytes) {
    beast::error_code ec;
    ws_.binary(true);
    ws_.write(asio::buffer(bytes.data(), bytes.size()), ec);
    return !ec;
}

bool WsClient::send(const ClientMessage& message) {
    auto text = encode(message);
    return text && send(*text);
}

void WsClient::startRead() {
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
    while (inbox_.empty() && !closed_) {
        const auto now = std::chrono::steady_clock::now();
        startRead();
        ioc_.restart();
        if (now >= deadline) {
            ioc_.poll();  // a zero timeout still takes what has already arrived
            break;
        }
        ioc_.run_one_for(deadline - now);
    }
    if (inbox_.empty()) return std::nullopt;
    std::string next = std::move(inbox_.front());
    inbox_.pop_front();
    return next;
}

std::optional<ServerMessage> WsClient::receiveMessage(std::chrono::milliseconds timeout) {
    auto text = receive(timeout);
    if (!text) return std::nullopt;
    return decodeServerMessage(*text);
}

std::vector<std::string> WsClient::drain(std::chrono::milliseconds quiet) {
    std::vector<std::string> out;
    while (auto next = receive(quiet)) out.push_back(std::move(*next));
    return out;
}

bool WsClient::waitFor(std::string_view type, int count, std::chrono::milliseconds timeout) {
    const std::string needle = "\"type\":\"" + std::string(type) + "\"";
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (count > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        auto text = receive(left);
        if (!text) return false;
        if (text->find(needle) != std::string::npos) --count;
    }
    return true;
}

bool WsClient::waitClosed(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!closed_ && std::chrono::steady_clock::now() < deadline) {
        inbox_.clear();
        receive(std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                      std::chrono::steady_clock::now()));
    }
    return closed_;
}

bool WsClient::pingAnswered(std::string_view payload, std::chrono::milliseconds timeout) {
    bool answered = false;
    const std::string expected(payload);
    ws_.control_callback([&](websocket::frame_type kind, std::string_view got) {
        if (kind == websocket::frame_type::pong && got == expected) answered = true;
    });
    ws_.async_ping(websocket::ping_data(payload), [](beast::error_code) {});
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!answered && !closed_ && std::chrono::steady_clock::now() < deadline) {
        startRead();
        ioc_.restart();
        ioc_.run_one_for(deadline - std::chrono::steady_clock::now());
    }
    ws_.control_callback();
    return answered;
}

void WsClient::abort() {
    beast::error_code ec;
    auto& socket = beast::get_lowest_layer(ws_).socket();
    socket.set_option(asio::socket_base::linger(true, 0), ec);
    socket.close(ec);
    closed_ = true;
}

void WsClient::close() {
    if (closed_) return;
    ws_.async_close(websocket::close_code::normal, [this](beast::error_code) { closed_ = true; });
    ioc_.restart();
    ioc_.run_for(std::chrono::seconds(2));
    closed_ = true;
}

ClientMessage strokeStart(const std::string& id, double x, double y, Tool tool) {
    StrokeStartPayload s;
    s.id = id;
    s.userId = "whoever";
    s.tool = tool;
    s.color = {0.9, 0.2, 0.1, 1.0};
    s.brushSize = 4.5;
    s.point = {x, y, 0.75, 1.0};
    return ClientMessage::strokeStart(s);
}

ClientMessage strokePoint(const std::string& id, double x, double y, double t) {
    return ClientMessage::strokePoint(id, {x, y, 1.0, t});
}

}  // namespace vellumora::testing
