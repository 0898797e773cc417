#pragma once
// Accepts TCP connections and gives each its own strand and HttpSession (over TLS when
// given a context). When accepting fails (out of descriptors, say) the waiting connection
// stays in the backlog and an immediate retry would fail again: the listener pauses, longer
// each time up to a second, logs once per period, and the connections it has keep being
// served.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <memory>

#include "http/http_session.h"
#include "server_context.h"

namespace vellumora::server {

class Listener : public std::enable_shared_from_this<Listener> {
  public:
    // Binds and listens; throws boost::system::system_error when the address is unusable.
    Listener(boost::asio::io_context& ioc, const boost::asio::ip::tcp::endpoint& endpoint,
             ServerContext& context, std::shared_ptr<boost::asio::ssl::context> tls,
             ListenerRole role = ListenerRole::service);

    void run();
    void stop();
    // Connections accepted from now on use `tls`; those open keep theirs.
    void setTls(std::shared_ptr<boost::asio::ssl::context> tls);
    boost::asio::ip::tcp::endpoint localEndpoint() const;

    static constexpr auto kLogPeriod = std::chrono::seconds(10);

  private:
    void acceptNext();
    void backOff(const boost::system::error_code& ec);

    boost::asio::io_context& ioc_;
    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer retry_;
    ServerContext& context_;
    std::shared_ptr<boost::asio::ssl::context> tls_;  // on the acceptor's strand
    ListenerRole role_;
    std::chrono::milliseconds pause_{0};
    std::chrono::steady_clock::time_point nextLog_{};
    unsigned unreported_ = 0;  // failures since the last log line
};

}  // namespace vellumora::server
