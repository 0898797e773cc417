#include "http/room_upgrade.h"

#include <unistd.h>

#include <stdexcept>

namespace vellumora::server {

namespace {
template <class Socket>
void start(Socket socket, boost::asio::ip::tcp protocol, int fd, std::string response, Admission admission,
           std::string early, ServerContext& context) {
    boost::system::error_code ec;
    socket.assign(protocol, fd, ec);
    if (ec) {
        ::close(fd);
        return;
    }
    auto session = std::make_shared<WebSocketSession<Socket>>(std::move(socket), context,
                                                              std::move(admission), std::move(early));
    context.rooms.track(session);
    session->start(std::move(response));
}
}  // namespace

void startRoomSession(PlainStream&& stream, std::string response, Admission admission, std::string early,
                      ServerContext& context) {
    // Room traffic goes straight to the socket, without the HTTP stream's timeout machinery.
    auto plain = stream.release_socket();
    const RoomStrand* strand = plain.get_executor().target<RoomStrand>();
    if (!strand) throw std::logic_error("room connections must be accepted on a strand of the io_context");
    boost::system::error_code ec;
    const auto protocol = plain.local_endpoint(ec).protocol();
    if (ec) return;  // already gone
    const auto fd = plain.release(ec);
    if (ec) return;
    // Not the throwing constructor: out of epoll watches, this connection fails, not the server.
    if (context.config.threads == 1) {
        start(OneThreadSocket(strand->get_inner_executor()), protocol, fd, std::move(response),
              std::move(admission), std::move(early), context);
    } else {
        start(RawSocket(*strand), protocol, fd, std::move(response), std::move(admission), std::move(early),
              context);
    }
}

void startRoomSession(TlsStream&& stream, std::string response, Admission admission, std::string early,
                      ServerContext& context) {
    auto session = std::make_shared<WebSocketSession<TlsStream>>(std::move(stream), context,
                                                                 std::move(admission), std::move(early));
    context.rooms.track(session);
    session->start(std::move(response));
}

}  // namespace vellumora::server
