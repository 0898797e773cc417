#pragma once
// One HTTP/1.1 connection, plain or TLS: reads requests with size limits and a timeout,
// answers REST, /healthz and /metrics, and hands WebSocket upgrades over to the rooms.

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <memory>
#include <optional>

#include "accounts/account_api.h"
#include "rooms/room_admission.h"
#include "server_context.h"
#include "websocket/websocket_session.h"

namespace vellumora::server {

using PlainStream = boost::beast::tcp_stream;

template <class Stream>
class HttpSession : public std::enable_shared_from_this<HttpSession<Stream>> {
  public:
    HttpSession(Stream&& stream, ServerContext& context);
    // Starts with the TLS handshake when Stream is TlsStream.
    void run();

  private:
    using Request = boost::beast::http::request<boost::beast::http::string_body>;
    using Response = boost::beast::http::response<boost::beast::http::string_body>;

    void readRequest();
    void onRead(boost::beast::error_code ec);
    void route(Request request);
    void upgrade(Request request);
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
    std::string remoteAddress_;
};

extern template class HttpSession<PlainStream>;
extern template class HttpSession<TlsStream>;

}  // namespace vellumora::server
