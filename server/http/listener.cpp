#include "http/listener.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/strand.hpp>

#include "http/http_session.h"
#include "common/log.h"

namespace vellumora::server {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

Listener::Listener(asio::io_context& ioc, const tcp::endpoint& endpoint, ServerContext& context,
                   asio::ssl::context* tls)
    : ioc_(ioc), acceptor_(asio::make_strand(ioc)), context_(context), tls_(tls) {
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
    });
}

tcp::endpoint Listener::localEndpoint() const {
    return acceptor_.local_endpoint();
}

void Listener::acceptNext() {
    acceptor_.async_accept(asio::make_strand(ioc_), [self = shared_from_this()](boost::system::error_code ec,
                                                                                tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !self->acceptor_.is_open()) return;
        if (ec) {
            // Out of descriptors and the like: keep serving the connections we have.
            logLine("accept failed: " + ec.message());
        } else {
            boost::system::error_code ignored;
            socket.set_option(tcp::no_delay(true), ignored);
            if (self->tls_) {
                std::make_shared<HttpSession<TlsStream>>(TlsStream(std::move(socket), *self->tls_),
                                                         self->context_)
                    ->run();
            } else {
                std::make_shared<HttpSession<PlainStream>>(PlainStream(std::move(socket)), self->context_)
                    ->run();
            }
        }
        self->acceptNext();
    });
}

}  // namespace vellumora::server
