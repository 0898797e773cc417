#pragma once
// One HTTP/1.1 connection, plain or TLS: reads requests with size limits and a timeout,
// answers REST, /healthz and /metrics, and hands WebSocket upgrades over to the rooms.

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <memory>
#include <cstdint>
#include <optional>
#include <vector>

#include "accounts/account_api.h"
#include "rooms/room_admission.h"
#include "server_context.h"
#include "websocket/websocket_session.h"

namespace vellumora::server {

using PlainStream = boost::beast::tcp_stream;

// What a listener serves: the service (REST, rooms, /healthz), or /metrics and /healthz alone.
enum class ListenerRole { service, metrics };

template <class Stream>
class HttpSession : public std::enable_shared_from_this<HttpSession<Stream>> {
  public:
    HttpSession(Stream&& stream, ServerContext& context, ListenerRole role = ListenerRole::service);
    // Starts with the TLS handshake when Stream is TlsStream.
    void run();

  private:
    using Request = boost::beast::http::request<boost::beast::http::string_body>;
    using Response = boost::beast::http::response<boost::beast::http::string_body>;

    // A connection from a trusted proxy starts with who the client is (PROXY protocol v2).
    void readProxyHeader();
    // The TLS handshake, if any, then the first request.
    void begin();
    void readRequest();
    void onRead(boost::beast::error_code ec);
    void route(Request request);
    void upgrade(Request request);
    // 200 "ok" while the store answers; asked on the disk pool.
    void health(bool keepAlive);
    void admitted(Admission admission, const std::string& acceptKey);
    void send(unsigned status, std::string body, std::string_view contentType, bool keepAlive);
    void onWritten(bool keepAlive, boost::beast::error_code ec);
    void close();
    void drain();

    Stream stream_;
    boost::beast::flat_buffer buffer_;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
    std::shared_ptr<Response> response_;
    ServerContext& context_;
    ListenerRole role_;
    std::string remoteAddress_;
    std::vector<std::uint8_t> proxyBytes_;
};

extern template class HttpSession<PlainStream>;
extern template class HttpSession<TlsStream>;

}  // namespace vellumora::server
