#pragma once
// The buffer a room connection reads into, and why it has a type of its own.
//
// Asio reads speculatively: when a read completes, the next one tries recv() at once, before it
// waits for epoll. A room connection receives one small message at a time, so that second
// recv() nearly always returns EAGAIN: one system call of three and a half per relayed message,
// about a tenth of the server's CPU per message. A TCP recv() that returns fewer bytes than
// asked has emptied the socket, and the edge-triggered epoll registration reports the next
// bytes, so after a short read the next read can wait without trying. Asio 1.74 (Boost 1.74,
// the one this server builds with) only stops trying after a read of nothing; its read
// operation is specialised below for this buffer type to stop after a short read too. With
// another Boost version the buffer is an ordinary one and reads behave as Asio's do.

#include <boost/asio/buffer.hpp>
#include <boost/version.hpp>

namespace vellumora::server::ws {

struct SocketReadBuffer {
    boost::asio::mutable_buffer buffer;
    const boost::asio::mutable_buffer* begin() const { return &buffer; }
    const boost::asio::mutable_buffer* end() const { return &buffer + 1; }
};

}  // namespace vellumora::server::ws

#if BOOST_VERSION == 107400
#include <boost/asio/detail/reactive_socket_recv_op.hpp>

namespace boost::asio::detail {

template <>
class reactive_socket_recv_op_base<vellumora::server::ws::SocketReadBuffer> : public reactor_op {
  public:
    reactive_socket_recv_op_base(const boost::system::error_code& success_ec, socket_type socket,
                                 socket_ops::state_type state, const vellumora::server::ws::SocketReadBuffer& buffers,
                                 socket_base::message_flags flags, func_type complete_func)
        : reactor_op(success_ec, &reactive_socket_recv_op_base::do_perform, complete_func),
          socket_(socket),
          state_(state),
          buffers_(buffers),
          flags_(flags) {}

    static status do_perform(reactor_op* base) {
        auto* o = static_cast<reactive_socket_recv_op_base*>(base);
        const mutable_buffer& b = o->buffers_.buffer;
        const bool stream = (o->state_ & socket_ops::stream_oriented) != 0;
        if (!socket_ops::non_blocking_recv1(o->socket_, b.data(), b.size(), o->flags_, stream, o->ec_,
                                            o->bytes_transferred_))
            return not_done;
        return stream && o->bytes_transferred_ < b.size() ? done_and_exhausted : done;
    }

  private:
    socket_type socket_;
    socket_ops::state_type state_;
    vellumora::server::ws::SocketReadBuffer buffers_;
    socket_base::message_flags flags_;
};

}  // namespace boost::asio::detail
#endif
