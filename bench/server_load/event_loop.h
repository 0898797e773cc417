#pragma once
// The generator's one epoll set: every socket of a run, waited on from one thread.

#include <sys/epoll.h>

#include <array>
#include <cstdint>

namespace vellumora::bench {

class EpollHandler {
  public:
    virtual void onEvents(std::uint32_t events) = 0;

  protected:
    ~EpollHandler() = default;
};

class EventLoop {
  public:
    EventLoop();
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    void add(int fd, std::uint32_t events, EpollHandler& handler);
    void modify(int fd, std::uint32_t events, EpollHandler& handler);
    void remove(int fd);

    // One wait of at most `timeoutSeconds` (0: just look), then dispatches what is ready.
    void poll(double timeoutSeconds);
    // Dispatches events for `seconds`.
    void runFor(double seconds);

  private:
    int fd_ = -1;
    std::array<epoll_event, 512> ready_{};
};

}  // namespace vellumora::bench
