#pragma once
// Records what a NetworkClient publishes, with the time of each event.

#include <QElapsedTimer>
#include <QObject>
#include <QTest>

#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "net/network_client.h"

namespace vellumora::testing {

inline std::string kindOf(const NetworkEvent& event) {
    static constexpr std::array<const char*, 11> names{
        "closed",    "roomState", "peerJoined",  "peerLeft",      "strokeStart", "strokePoint",
        "strokeEnd", "cursor",    "pageChanged", "canvasCleared", "opened"};
    static_assert(std::variant_size_v<NetworkEvent::Value> == names.size());
    return names.at(event.value.index());
}

class EventRecorder {
  public:
    explicit EventRecorder(NetworkClient& client) {
        clock_.start();
        QObject::connect(&client, &NetworkClient::events, &context_, [this](const NetworkEvent& event) {
            events.push_back(event);
            times.push_back(clock_.elapsed());
        });
    }

    std::vector<std::string> kinds() const {
        std::vector<std::string> result;
        for (const NetworkEvent& event : events) {
            result.push_back(kindOf(event));
        }
        return result;
    }

    int count(const std::string& kind) const {
        int n = 0;
        for (const NetworkEvent& event : events) {
            n += kindOf(event) == kind ? 1 : 0;
        }
        return n;
    }

    // Waits until `kind` has been published `n` times in all.
    bool waitFor(const std::string& kind, int n = 1,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return QTest::qWaitFor([&] { return count(kind) >= n; }, int(timeout.count()));
    }

    std::vector<NetworkEvent> events;
    std::vector<qint64> times;  // ms since the recorder was made

  private:
    QObject context_;
    QElapsedTimer clock_;
};

}  // namespace vellumora::testing
