#include "http/listener.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/strand.hpp>

#include "common/log.h"
#include "http/http_session.h"

namespace vellumora::server {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {
constexpr auto kFirstPause = std::chrono::milliseconds(10);
constexpr auto kLongestPause = std::chrono::milliseconds(1000);
}  // namespace

Listener::Listener(asio::io_context& ioc, const tcp::endpoint& endpoint, ServerContext& context,
                   std::shared_ptr<asio::ssl::context> tls, ListenerRole role)
    : ioc_(ioc),
      acceptor_(asio::make_strand(ioc)),
      retry_(acceptor_.get_executor()),
      context_(context),
      tls_(std::move(tls)),
      role_(role) {
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(asio::socket_base::reuse_address(true));
    acceptor_.bind(endpoint);
    acceptor_.listen(asio::socket_base::max_listen_connections);
}

void Listener::run() {
    asio::dispatch(acceptor_.get_executor(), [self = shared_from_this()] { self->acceptNext(); });
}

void Listener::stop() {
    asio::dispatch(acceptor_.get_executor(), [self = shared_from_this()] {
        boost::system::error_code ec;
        self->acceptor_.close(ec);
        self->retry_.cancel();
    });
}

void Listener::setTls(std::shared_ptr<asio::ssl::context> tls) {
    asio::dispatch(acceptor_.get_executor(), [self = shared_from_this(), tls = std::move(tls)]() mutable {
        self->tls_ = std::move(tls);
    });
}

tcp::endpoint Listener::localEndpoint() const {
    return acceptor_.local_endpoint();
}

void Listener::acceptNext() {
    acceptor_.async_accept(asio::make_strand(ioc_), [self = shared_from_this()](boost::system::error_code ec,
                                                                                tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !self->acceptor_.is_open()) return;
        if (ec) return self->backOff(ec);
        self->pause_ = {};
        boost::system::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        if (self->tls_) {
            std::make_shared<HttpSession<TlsStream>>(TlsStream(std::move(socket), *self->tls_),
                                                     self->context_, self->role_)
                ->run();
        } else {
            std::make_shared<HttpSession<PlainStream>>(PlainStream(std::move(socket)), self->context_,
                                                       self->role_)
                ->run();
        }
        self->acceptNext();
    });
}

void Listener::backOff(const boost::system::error_code& ec) {
    ++unreported_;
    const auto now = std::chrono::steady_clock::now();
    if (now >= nextLog_) {
        std::string line = "accept failed: " + ec.message();
        if (unreported_ > 1) line += " (" + std::to_string(unreported_ - 1) + " more since the last report)";
        logLine(line);
        unreported_ = 0;
        nextLog_ = now + kLogPeriod;
    }
    pause_ = pause_.count() == 0 ? kFirstPause : std::min(pause_ * 2, kLongestPause);
    retry_.expires_after(pause_);
    retry_.async_wait([self = shared_from_this()](boost::system::error_code waited) {
        if (!waited && self->acceptor_.is_open()) self->acceptNext();
    });
}

}  // namespace vellumora::server
