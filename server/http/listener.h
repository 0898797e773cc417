#pragma once
// Accepts TCP connections and gives each its own strand and HttpSession (over TLS when
// given a context).

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

#include <memory>

#include "server_context.h"

namespace vellumora::server {

class Listener : public std::enable_shared_from_this<Listener> {
  public:
    // Binds and listens; throws boost::system::system_error when the address is unusable.
    Listener(boost::asio::io_context& ioc, const boost::asio::ip::tcp::endpoint& endpoint,
             ServerContext& context, boost::asio::ssl::context* tls);

    void run();
    void stop();
    boost::asio::ip::tcp::endpoint localEndpoint() const;

  private:
    void acceptNext();

    boost::asio::io_context& ioc_;
    boost::asio::ip::tcp::acceptor acceptor_;
    ServerContext& context_;
    boost::asio::ssl::context* tls_;
};

}  // namespace vellumora::server
