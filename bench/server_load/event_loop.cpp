#include "event_loop.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <ctime>
#include <system_error>

#include "load_client.h"

namespace vellumora::bench {

namespace {
[[noreturn]] void throwErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void control(int epoll, int op, int fd, std::uint32_t events, EpollHandler* handler) {
    epoll_event ev{};
    ev.events = events;
    ev.data.ptr = handler;
    if (epoll_ctl(epoll, op, fd, &ev) != 0) throwErrno("epoll_ctl");
}
}  // namespace

EventLoop::EventLoop() : fd_(epoll_create1(EPOLL_CLOEXEC)) {
    if (fd_ < 0) throwErrno("epoll_create1");
}

EventLoop::~EventLoop() {
    ::close(fd_);
}

void EventLoop::add(int fd, std::uint32_t events, EpollHandler& handler) {
    control(fd_, EPOLL_CTL_ADD, fd, events, &handler);
}

void EventLoop::modify(int fd, std::uint32_t events, EpollHandler& handler) {
    control(fd_, EPOLL_CTL_MOD, fd, events, &handler);
}

void EventLoop::remove(int fd) {
    epoll_ctl(fd_, EPOLL_CTL_DEL, fd, nullptr);
}

void EventLoop::poll(double timeoutSeconds) {
    // Nanosecond timeouts: the send tick is 1 ms, and a millisecond-rounded wait would stretch it.
    timespec timeout{};
    if (timeoutSeconds > 0) {
        const double whole = std::floor(timeoutSeconds);
        timeout.tv_sec = static_cast<time_t>(whole);
        timeout.tv_nsec = static_cast<long>((timeoutSeconds - whole) * 1e9);
    }
    const int n = epoll_pwait2(fd_, ready_.data(), static_cast<int>(ready_.size()), &timeout, nullptr);
    if (n < 0) {
        if (errno == EINTR) return;
        throwErrno("epoll_pwait2");
    }
    for (int i = 0; i < n; ++i)
        static_cast<EpollHandler*>(ready_[static_cast<std::size_t>(i)].data.ptr)
            ->onEvents(ready_[static_cast<std::size_t>(i)].events);
}

void EventLoop::runFor(double seconds) {
    const double end = monotonicSeconds() + seconds;
    for (double now = monotonicSeconds(); now < end; now = monotonicSeconds()) poll(end - now);
}

}  // namespace vellumora::bench
