#include "floor_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "process_usage.h"

namespace vellumora::bench {

namespace {

constexpr std::size_t kMaxRequestHead = 64 * 1024;

struct Connection {
    int fd = -1;
    int partner = -1;      // fd of the other connection of the room, once it has come
    bool open = false;     // the upgrade has been answered
    bool reading = true;   // EPOLLIN is in the interest set
    bool writing = false;  // EPOLLOUT is in the interest set
    std::string room;      // pairing key: the request target's `room` parameter
    std::string head;      // request bytes before the answer, then bytes held until the partner comes
    std::string out;       // bytes the socket would not take yet: out[outAt, end)
    std::size_t outAt = 0;
    bool pending() const { return outAt < out.size(); }
};

std::string roomOf(std::string_view request) {
    const auto line = request.substr(0, request.find("\r\n"));
    auto at = line.find("room=");
    if (at == std::string_view::npos) return std::string(line);
    at += 5;
    const auto end = line.find_first_of("& ", at);
    return std::string(line.substr(at, end == std::string_view::npos ? line.size() - at : end - at));
}

class Relay {
  public:
    explicit Relay(int listener) : listener_(listener), epoll_(epoll_create1(EPOLL_CLOEXEC)) {
        watch(listener_, EPOLLIN, EPOLL_CTL_ADD);
    }

    [[noreturn]] void run() {
        std::vector<epoll_event> ready(512);
        for (;;) {
            const int n = epoll_wait(epoll_, ready.data(), static_cast<int>(ready.size()), -1);
            for (int i = 0; i < n; ++i) {
                const auto& ev = ready[static_cast<std::size_t>(i)];
                if (ev.data.fd == listener_)
                    acceptAll();
                else
                    onEvents(ev.data.fd, ev.events);
            }
        }
    }

  private:
    void watch(int fd, std::uint32_t events, int op) {
        epoll_event ev{};
        ev.events = events;
        ev.data.fd = fd;
        epoll_ctl(epoll_, op, fd, &ev);
    }

    void update(Connection& c, bool reading, bool writing) {
        if (c.reading == reading && c.writing == writing) return;
        c.reading = reading;
        c.writing = writing;
        watch(c.fd, (reading ? EPOLLIN : 0u) | (writing ? EPOLLOUT : 0u), EPOLL_CTL_MOD);
    }

    void acceptAll() {
        for (;;) {
            const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) return;
            const int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            if (conns_.size() <= static_cast<std::size_t>(fd))
                conns_.resize(static_cast<std::size_t>(fd) + 1);
            conns_[static_cast<std::size_t>(fd)] = Connection{};
            conns_[static_cast<std::size_t>(fd)].fd = fd;
            watch(fd, EPOLLIN, EPOLL_CTL_ADD);
        }
    }

    Connection& at(int fd) { return conns_[static_cast<std::size_t>(fd)]; }

    void onEvents(int fd, std::uint32_t events) {
        Connection& c = at(fd);
        if (c.fd < 0) return;  // closed earlier in this batch
        if (events & EPOLLOUT) flush(c);
        if (c.fd >= 0 && (events & (EPOLLIN | EPOLLHUP | EPOLLERR))) {
            if (c.open && (events & (EPOLLHUP | EPOLLERR)))
                drop(c);
            else if (c.open)
                forward(c);
            else
                answer(c);
        }
    }

    // One recv, one send: what a relay with nothing else to do costs.
    void forward(Connection& c) {
        if (c.partner < 0 || at(c.partner).pending()) return update(c, false, c.writing);
        char buffer[64 * 1024];
        const ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
        if (n > 0)
            deliver(at(c.partner), buffer, static_cast<std::size_t>(n));
        else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            drop(c);
    }

    void answer(Connection& c) {
        char buffer[4096];
        const ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return drop(c);
        if (n < 0) return;
        c.head.append(buffer, static_cast<std::size_t>(n));
        const auto end = c.head.find("\r\n\r\n");
        if (end == std::string::npos) {
            if (c.head.size() > kMaxRequestHead) drop(c);
            return;
        }
        c.room = roomOf(c.head);
        c.head.erase(0, end + 4);  // anything behind the request waits for the partner
        c.open = true;
        static constexpr std::string_view reply =
            "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n"
            "\x81\x15{\"type\":\"room_state\"}";
        deliver(c, reply.data(), reply.size());
        if (c.fd < 0) return;
        const auto waiting = waiting_.find(c.room);
        if (waiting == waiting_.end()) {
            waiting_.emplace(c.room, c.fd);
            return update(c, false, c.writing);  // nothing to forward to yet
        }
        Connection& p = at(waiting->second);
        waiting_.erase(waiting);
        c.partner = p.fd;
        p.partner = c.fd;
        for (Connection* side : {&c, &p}) {
            Connection& other = at(side->partner);
            if (!side->head.empty()) deliver(other, side->head.data(), side->head.size());
            side->head.clear();
        }
        if (c.fd >= 0 && p.fd >= 0) {
            update(c, !p.pending(), c.writing);
            update(p, !c.pending(), p.writing);
        }
    }

    void deliver(Connection& to, const char* data, std::size_t size) {
        if (to.fd < 0) return;
        if (to.pending()) {
            to.out.append(data, size);
            return;
        }
        ssize_t n = send(to.fd, data, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return drop(to);
            n = 0;
        }
        if (static_cast<std::size_t>(n) == size) return;
        to.out.assign(data + n, size - static_cast<std::size_t>(n));
        to.outAt = 0;
        update(to, to.reading, true);
        // Hold the sender back until this backlog is gone: bytes wait in its socket, not here.
        if (to.partner >= 0) update(at(to.partner), false, at(to.partner).writing);
    }

    void flush(Connection& c) {
        while (c.pending()) {
            const ssize_t n = send(c.fd, c.out.data() + c.outAt, c.out.size() - c.outAt, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK) return;
                if (errno != EINTR) return drop(c);
                continue;
            }
            c.outAt += static_cast<std::size_t>(n);
        }
        c.out.clear();
        c.outAt = 0;
        update(c, c.reading, false);
        if (c.partner >= 0 && at(c.partner).open) update(at(c.partner), true, at(c.partner).writing);
    }

    // A room ends with either of its connections.
    void drop(Connection& c) {
        const int partner = c.partner;
        close(c);
        if (partner >= 0) close(at(partner));
    }

    void close(Connection& c) {
        if (c.fd < 0) return;
        const auto waiting = waiting_.find(c.room);
        if (waiting != waiting_.end() && waiting->second == c.fd) waiting_.erase(waiting);
        epoll_ctl(epoll_, EPOLL_CTL_DEL, c.fd, nullptr);
        ::close(c.fd);
        c = Connection{};
    }

    int listener_;
    int epoll_;
    std::vector<Connection> conns_;  // by fd
    std::unordered_map<std::string, int> waiting_;
};

}  // namespace

FloorRelay::FloorRelay(int cpu) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener < 0) throw std::system_error(errno, std::generic_category(), "socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 4096) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int error = errno;
        ::close(listener);
        throw std::system_error(error, std::generic_category(), "relay listener");
    }
    port_ = ntohs(address.sin_port);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0) {
        ::close(listener);
        throw std::system_error(errno, std::generic_category(), "fork");
    }
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(0);
        pinToCpu(cpu);
        Relay(listener).run();
    }
    ::close(listener);
}

}  // namespace vellumora::bench
