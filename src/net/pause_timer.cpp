#include "net/pause_timer.h"

#include <QTimer>

#include <utility>

namespace vellumora {

namespace {

class PreciseTimer final : public PauseTimer {
  public:
    PreciseTimer() {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
            // Taken first: the callback may start the next wait.
            if (auto then = std::exchange(then_, nullptr)) {
                then();
            }
        });
    }

    void start(std::chrono::milliseconds delay, std::function<void()> then) override {
        then_ = std::move(then);
        timer_.start(delay);
    }
    void stop() override {
        timer_.stop();
        then_ = nullptr;
    }
    bool isActive() const override { return timer_.isActive(); }

  private:
    QTimer timer_;
    std::function<void()> then_;
};

}  // namespace

std::unique_ptr<PauseTimer> PauseTimer::precise() {
    return std::make_unique<PreciseTimer>();
}

}  // namespace vellumora
