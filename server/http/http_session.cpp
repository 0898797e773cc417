#include "http/http_session.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/read.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include "common/json_text.h"
#include "common/log.h"
#include "common/address.h"
#include "http/proxy_header.h"
#include "http/room_upgrade.h"
#include "websocket/ws_handshake.h"

namespace vellumora::server {

namespace beast = boost::beast;
namespace http = beast::http;

namespace {
constexpr std::size_t kBodyLimit = 64 * 1024;
constexpr std::size_t kHeaderLimit = 16 * 1024;
constexpr auto kReadTimeout = std::chrono::seconds(30);
}  // namespace

template <class Stream>
HttpSession<Stream>::HttpSession(Stream&& stream, ServerContext& context, ListenerRole role)
    : stream_(std::move(stream)), context_(context), role_(role) {
    boost::system::error_code ec;
    const auto endpoint = beast::get_lowest_layer(stream_).socket().remote_endpoint(ec);
    remoteAddress_ = ec ? "unknown" : endpoint.address().to_string();
}

template <class Stream>
void HttpSession<Stream>::run() {
    boost::asio::dispatch(stream_.get_executor(), [self = this->shared_from_this()] {
        const auto peer = IpAddress::parse(self->remoteAddress_);
        const auto& trusted = self->context_.config.trustedProxies;
        const bool proxied =
            peer && std::ranges::any_of(trusted, [&](const Network& n) { return n.contains(*peer); });
        if (proxied && self->role_ == ListenerRole::service) return self->readProxyHeader();
        self->begin();
    });
}

template <class Stream>
void HttpSession<Stream>::readProxyHeader() {
    // Exactly the header's bytes, so that whatever follows (a request, a TLS handshake) stays in
    // the socket for the reader after us.
    const std::size_t have = proxyBytes_.size();
    const std::size_t want = proxy::parse(proxyBytes_).needed;
    proxyBytes_.resize(want);
    auto& lowest = beast::get_lowest_layer(stream_);
    lowest.expires_after(kReadTimeout);
    boost::asio::async_read(lowest, boost::asio::buffer(proxyBytes_.data() + have, want - have),
                            [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                                if (ec) return;
                                const proxy::Header header = proxy::parse(self->proxyBytes_);
                                using S = proxy::Header::Status;
                                if (header.status == S::incomplete) return self->readProxyHeader();
                                if (header.status == S::invalid) {
                                    logLine("refused a connection from the trusted proxy " + self->remoteAddress_ +
                                            ": no valid PROXY v2 header");
                                    beast::error_code ignored;
                                    beast::get_lowest_layer(self->stream_).socket().close(ignored);
                                    return;
                                }
                                if (header.status == S::proxied) self->remoteAddress_ = header.address;
                                self->proxyBytes_ = {};
                                self->begin();
                            });
}

template <class Stream>
void HttpSession<Stream>::begin() {
    if constexpr (std::is_same_v<Stream, TlsStream>) {
        beast::get_lowest_layer(stream_).expires_after(kReadTimeout);
        stream_.async_handshake(boost::asio::ssl::stream_base::server,
                                [self = this->shared_from_this()](beast::error_code ec) {
                                    if (!ec) self->readRequest();
                                });
    } else {
        readRequest();
    }
}

template <class Stream>
void HttpSession<Stream>::readRequest() {
    parser_.emplace();
    parser_->body_limit(kBodyLimit);
    parser_->header_limit(kHeaderLimit);
    beast::get_lowest_layer(stream_).expires_after(kReadTimeout);
    http::async_read(
        stream_, buffer_, *parser_,
        [self = this->shared_from_this()](beast::error_code ec, std::size_t) { self->onRead(ec); });
}

template <class Stream>
void HttpSession<Stream>::onRead(beast::error_code ec) {
    if (ec == http::error::end_of_stream) return close();
    if (ec == http::error::body_limit)
        return send(413, errorBody("Request body too large"), "application/json", false);
    if (ec == http::error::header_limit)
        return send(431, errorBody("Request headers too large"), "application/json", false);
    if (ec) {
        // A malformed request gets an answer; a timed-out or vanished peer does not.
        if (ec.category() == beast::error_code(http::error::bad_target).category())
            return send(400, errorBody("Malformed request"), "application/json", false);
        return close();
    }
    route(parser_->release());
}

template <class Stream>
void HttpSession<Stream>::route(Request request) {
    if (role_ == ListenerRole::service && beast::websocket::is_upgrade(request)) return upgrade(std::move(request));

    context_.metrics.httpRequests.fetch_add(1, std::memory_order_relaxed);
    const bool keepAlive = request.keep_alive();
    std::string_view target = request.target();
    const std::string path(target.substr(0, target.find('?')));

    const bool get = request.method() == http::verb::get;
    if (path == "/healthz" && get) return health(keepAlive);
    if (role_ == ListenerRole::metrics) {
        if (path == "/metrics" && get)
            return send(200, context_.metrics.render(), "text/plain; version=0.0.4", keepAlive);
        return send(404, errorBody("Not found"), "application/json", keepAlive);
    }
    if (!AccountApi::handles(path)) return send(404, errorBody("Not found"), "application/json", keepAlive);

    ApiRequest api{std::string(request.method_string()), path, std::move(request.body()),
                   std::string(request[http::field::authorization]), remoteAddress_};
    context_.accounts.handle(
        std::move(api), [self = this->shared_from_this(), keepAlive](ApiResponse response) {
            boost::asio::post(
                self->stream_.get_executor(), [self, keepAlive, response = std::move(response)]() mutable {
                    self->send(response.status, std::move(response.body), "application/json", keepAlive);
                });
        });
}

template <class Stream>
void HttpSession<Stream>::health(bool keepAlive) {
    auto answer = [self = this->shared_from_this(), keepAlive](bool ok) {
        boost::asio::post(self->stream_.get_executor(), [self, keepAlive, ok] {
            self->send(ok ? 200 : 503, ok ? "ok" : "store unavailable", "text/plain", keepAlive);
        });
    };
    if (!context_.disk.post([this, answer] { answer(context_.store.healthy()); })) answer(false);
}

template <class Stream>
void HttpSession<Stream>::upgrade(Request request) {
    const ws::Handshake handshake = ws::checkHandshake(request);
    if (!handshake.ok()) return send(handshake.status, errorBody(handshake.error), "application/json", false);
    beast::get_lowest_layer(stream_).expires_never();
    // Admission reads the store: decide it on the disk pool, go on here with the answer.
    auto decide = [self = this->shared_from_this(), target = std::string(request.target()),
                   authorization = std::string(request[http::field::authorization]),
                   acceptKey = handshake.acceptKey] {
        ServerContext& c = self->context_;
        Admission admission = admit(target, authorization, self->remoteAddress_, c.accounts, c.store, c.metrics);
        boost::asio::post(self->stream_.get_executor(),
                          [self, admission = std::move(admission), acceptKey]() mutable {
                              self->admitted(std::move(admission), acceptKey);
                          });
    };
    if (!context_.disk.post(std::move(decide)))
        send(503, errorBody("Server is busy, try again"), "application/json", false);
}

template <class Stream>
void HttpSession<Stream>::admitted(Admission admission, const std::string& acceptKey) {
    if (!admission.ok())
        return send(admission.status, errorBody(admission.message), "application/json", false);
    // A client may send its first frames right behind the request.
    const auto rest = buffer_.cdata();
    std::string early(static_cast<const char*>(rest.data()), rest.size());
    startRoomSession(std::move(stream_), ws::switchingProtocols(acceptKey), std::move(admission),
                     std::move(early), context_);
}

template <class Stream>
void HttpSession<Stream>::send(unsigned status, std::string body, std::string_view contentType,
                               bool keepAlive) {
    response_ = std::make_shared<Response>(static_cast<http::status>(status), 11);
    response_->set(http::field::server, "vellumora-server");
    response_->set(http::field::content_type, contentType);
    response_->set(http::field::cache_control, "no-store");
    response_->keep_alive(keepAlive);
    response_->body() = std::move(body);
    response_->prepare_payload();
    beast::get_lowest_layer(stream_).expires_after(kReadTimeout);
    http::async_write(stream_, *response_,
                      [self = this->shared_from_this(), keepAlive](beast::error_code ec, std::size_t) {
                          self->onWritten(keepAlive, ec);
                      });
}

template <class Stream>
void HttpSession<Stream>::onWritten(bool keepAlive, beast::error_code ec) {
    response_.reset();
    if (ec || !keepAlive) return close();
    readRequest();
}

template <class Stream>
void HttpSession<Stream>::close() {
    beast::error_code ec;
    beast::get_lowest_layer(stream_).socket().shutdown(boost::asio::ip::tcp::socket::shutdown_send, ec);
    if (ec) return;
    // Read what the peer still sends (say, the rest of an oversized body) until it closes:
    // closing with unread data would reset the connection and lose our answer.
    beast::get_lowest_layer(stream_).expires_after(std::chrono::seconds(5));
    drain();
}

template <class Stream>
void HttpSession<Stream>::drain() {
    buffer_.clear();
    beast::get_lowest_layer(stream_).async_read_some(
        buffer_.prepare(4096), [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
            if (!ec) self->drain();
        });
}

template class HttpSession<PlainStream>;
template class HttpSession<TlsStream>;

}  // namespace vellumora::server
