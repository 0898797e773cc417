#include "load_client.h"

#include <boost/asio/ip/tcp.hpp>

#include <charconv>
#include <chrono>
#include <cstdio>

namespace vellumora::bench {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;

double monotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

LoadClient::LoadClient(asio::io_context& ioc, LoadStats& stats, std::uint16_t port, std::string target,
                       std::string strokeId)
    : ws_(ioc), stats_(stats), port_(port), target_(std::move(target)), strokeId_(std::move(strokeId)) {}

void LoadClient::connect(std::function<void(bool)> done) {
    ready_ = std::move(done);
    const asio::ip::tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), port_);
    beast::get_lowest_layer(ws_).async_connect(endpoint, [self = shared_from_this()](beast::error_code ec) {
        if (ec) return self->ready_(false);
        asio::ip::tcp::no_delay noDelay(true);
        beast::get_lowest_layer(self->ws_).socket().set_option(noDelay, ec);
        self->ws_.read_message_max(64 * 1024 * 1024);
        self->ws_.async_handshake("127.0.0.1", self->target_, [self](beast::error_code ec2) {
            if (ec2) return self->ready_(false);
            self->readNext();
        });
    });
}

void LoadClient::readNext() {
    ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
        if (ec) {
            if (self->ready_) std::exchange(self->ready_, nullptr)(false);
            return;
        }
        const auto data = self->buffer_.cdata();
        self->onMessage(std::string_view(static_cast<const char*>(data.data()), data.size()));
        self->buffer_.consume(self->buffer_.size());
        self->readNext();
    });
}

void LoadClient::onMessage(std::string_view text) {
    if (ready_ && text.find("\"type\":\"room_state\"") != std::string_view::npos) {
        std::exchange(ready_, nullptr)(true);
        return;
    }
    if (text.find("\"type\":\"stroke_point\"") == std::string_view::npos) return;
    const auto at = text.rfind("\"t\":");
    if (at == std::string_view::npos) return;
    double t = 0;
    std::from_chars(text.data() + at + 4, text.data() + text.size(), t);
    ++stats_.receivedTotal;
    if (stats_.measuring) {
        ++stats_.received;
        stats_.latencyMicros.push_back((monotonicSeconds() - t) * 1e6);
    }
}

void LoadClient::sendPoint() {
    char text[320];
    int n;
    const double t = monotonicSeconds();
    const double x = static_cast<double>(points_ % 1000) / 1000.0;
    if (!started_) {
        started_ = true;
        n = std::snprintf(text, sizeof text,
                          R"({"type":"stroke_start","stroke":{"id":"%s","userId":"u","tool":"pencil",)"
                          R"("color":{"r":0.9,"g":0.2,"b":0.1,"a":1},"brushSize":4,)"
                          R"("point":{"x":%.17g,"y":0.5,"pressure":1,"t":%.17g}}})",
                          strokeId_.c_str(), x, t);
    } else {
        n = std::snprintf(
            text, sizeof text,
            R"({"type":"stroke_point","strokeId":"%s","point":{"x":%.17g,"y":0.5,"pressure":1,"t":%.17g}})",
            strokeId_.c_str(), x, t);
        ++stats_.sentTotal;
        if (stats_.measuring) ++stats_.sent;
    }
    ++points_;
    enqueue(std::string(text, static_cast<std::size_t>(n)));
}

void LoadClient::enqueue(std::string text) {
    queue_.push_back(std::move(text));
    if (!writing_) writeNext();
}

void LoadClient::writeNext() {
    if (queue_.empty()) {
        writing_ = false;
        return;
    }
    writing_ = true;
    ws_.text(true);
    ws_.async_write(asio::buffer(queue_.front()),
                    [self = shared_from_this()](beast::error_code ec, std::size_t) {
                        if (ec) {
                            self->queue_.clear();
                            self->writing_ = false;
                            return;
                        }
                        self->queue_.pop_front();
                        self->writeNext();
                    });
}

void LoadClient::close() {
    beast::error_code ec;
    beast::get_lowest_layer(ws_).socket().close(ec);
}

}  // namespace vellumora::bench
