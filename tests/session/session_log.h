#pragma once
// Records, in order, every notification and canvas event a SessionModel publishes.

#include <QObject>

#include <array>
#include <string>
#include <vector>

#include "session/session_model.h"

namespace vellumora::testing {

inline std::string kindOf(const CanvasEvent& event) {
    static constexpr std::array<const char*, 6> names{"roomState",     "peerStrokeStart", "peerStrokePoint",
                                                      "peerStrokeEnd", "pageChanged",     "canvasCleared"};
    static_assert(std::variant_size_v<CanvasEvent::Value> == names.size());
    return names.at(event.value.index());
}

class SessionLog {
  public:
    explicit SessionLog(SessionModel& model) {
        watch(model, &SessionModel::toolChanged, "tool");
        watch(model, &SessionModel::colorChanged, "color");
        watch(model, &SessionModel::brushSizeChanged, "brushSize");
        watch(model, &SessionModel::isInCanvasModeChanged, "isInCanvasMode");
        watch(model, &SessionModel::currentPageChanged, "currentPage");
        watch(model, &SessionModel::zoomChanged, "zoom");
        watch(model, &SessionModel::panChanged, "pan");
        watch(model, &SessionModel::peerCountChanged, "peerCount");
        watch(model, &SessionModel::peerCursorsChanged, "peerCursors");
        watch(model, &SessionModel::peerColorByIdChanged, "peerColorById");
        watch(model, &SessionModel::currentUserChanged, "currentUser");
        watch(model, &SessionModel::roomIdChanged, "roomId");
        watch(model, &SessionModel::roomDisplayNameChanged, "roomDisplayName");
        QObject::connect(&model, &SessionModel::connectionStateChanged, &context_,
                         [this](const ConnectionState& state) {
                             entries.push_back("connectionState");
                             states.push_back(state);
                         });
        QObject::connect(&model, &SessionModel::canvasEvents, &context_, [this](const CanvasEvent& event) {
            entries.push_back("canvas:" + kindOf(event));
            canvas.push_back(event);
        });
    }

    void clear() {
        entries.clear();
        states.clear();
        canvas.clear();
    }

    std::vector<std::string> entries;
    std::vector<ConnectionState> states;
    std::vector<CanvasEvent> canvas;

  private:
    template <typename Signal>
    void watch(SessionModel& model, Signal signal, const char* name) {
        QObject::connect(&model, signal, &context_, [this, name] { entries.emplace_back(name); });
    }

    QObject context_;
};

}  // namespace vellumora::testing
