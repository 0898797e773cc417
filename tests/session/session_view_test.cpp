// Zoom and pan rules: pinch about an anchor, clamped zoom, pan bounds.

#include <gtest/gtest.h>

#include "support/qt_printers.h"
#include "session/session_model.h"

namespace vellumora {
namespace {

constexpr double kEps = 1e-12;

struct View {
    double zoom;
    double panX;
    double panY;
};

void setView(SessionModel& model, View view) {
    model.setZoom(view.zoom);
    model.setPan(QSizeF(view.panX, view.panY));
}

void expectView(const SessionModel& model, View expected, const char* name) {
    EXPECT_NEAR(model.zoom(), expected.zoom, kEps) << name;
    EXPECT_NEAR(model.pan().width(), expected.panX, kEps) << name;
    EXPECT_NEAR(model.pan().height(), expected.panY, kEps) << name;
}

TEST(SessionView, pinchZoomsAboutTheAnchorWithinTheZoomLimits) {
    const double m6 = (1 - 1 / 6.0) * 0.5;
    const struct {
        const char* name;
        View before;
        double factor;
        QPointF anchor;
        View after;
    } cases[] = {
        {"centre anchor keeps the pan", {1, 0, 0}, 2, {0.5, 0.5}, {2, 0, 0}},
        {"corner anchor moves the pan", {1, 0, 0}, 2, {1, 1}, {2, 0.25, 0.25}},
        {"opposite corner", {1, 0, 0}, 2, {0, 0}, {2, -0.25, -0.25}},
        {"from a panned view", {2, -0.2, 0.1}, 2, {0, 1}, {4, -0.325, 0.225}},
        {"clamped at the top", {1, 0, 0}, 100, {0, 0.5}, {6, -m6, 0}},
        {"clamped at the bottom", {1, 0, 0}, 0.01, {1, 1}, {0.25, 0, 0}},
        {"at the top limit nothing moves", {6, 0.1, -0.1}, 2, {1, 1}, {6, 0.1, -0.1}},
        {"at the bottom limit nothing moves", {0.25, 0, 0}, 0.5, {0, 0}, {0.25, 0, 0}},
        {"zooming out to 1 recentres", {2, 0.25, 0.25}, 0.5, {1, 1}, {1, 0, 0}},
        {"zooming out is clamped to the smaller bound",
         {2, 0.25, -0.25},
         0.75,
         {0, 1},
         {1.5, 1 / 6.0, -1 / 6.0}},
    };
    for (const auto& c : cases) {
        SessionModel model(QUrl("http://127.0.0.1:1"));
        setView(model, c.before);
        model.applyPinchFactor(c.factor, c.anchor);
        expectView(model, c.after, c.name);
    }
}

TEST(SessionView, pinchKeepsTheCanvasPointUnderTheAnchor) {
    // With the canvas centred on (0.5 + pan) and 1/zoom of it visible, the view point u shows
    // canvas point 0.5 + pan + (u - 0.5) / zoom.
    const auto canvasPoint = [](double zoom, double pan, double u) { return 0.5 + pan + (u - 0.5) / zoom; };
    SessionModel model(QUrl("http://127.0.0.1:1"));
    setView(model, {1.5, 0.05, -0.1});
    const QPointF anchor(0.3, 0.8);
    const double beforeX = canvasPoint(model.zoom(), model.pan().width(), anchor.x());
    const double beforeY = canvasPoint(model.zoom(), model.pan().height(), anchor.y());
    model.applyPinchFactor(1.7, anchor);
    EXPECT_NEAR(canvasPoint(model.zoom(), model.pan().width(), anchor.x()), beforeX, kEps);
    EXPECT_NEAR(canvasPoint(model.zoom(), model.pan().height(), anchor.y()), beforeY, kEps);
}

TEST(SessionView, zoomIsAssignedEvenWhenThePinchCannotChangeIt) {
    SessionModel model(QUrl("http://127.0.0.1:1"));
    model.setZoom(SessionModel::kMaxZoom);
    int zoomNotifications = 0;
    QObject::connect(&model, &SessionModel::zoomChanged, &model, [&] { ++zoomNotifications; });
    model.applyPinchFactor(3, QPointF(0.5, 0.5));
    EXPECT_EQ(zoomNotifications, 1);
}

TEST(SessionView, panStaysWithinTheBoundOfTheZoom) {
    const struct {
        const char* name;
        double zoom;
        double dx;
        double dy;
        double panX;
        double panY;
    } cases[] = {
        {"zoom 2", 2, 1, -1, 0.25, -0.25},
        {"zoom 2 inside", 2, 0.1, -0.2, 0.1, -0.2},
        {"zoom 6", 6, -5, 5, -(1 - 1 / 6.0) * 0.5, (1 - 1 / 6.0) * 0.5},
        {"zoom 1 never pans", 1, 0.3, -0.3, 0, 0},
        {"zoomed out never pans", 0.25, 0.3, -0.3, 0, 0},
    };
    for (const auto& c : cases) {
        SessionModel model(QUrl("http://127.0.0.1:1"));
        model.setZoom(c.zoom);
        model.applyPanDelta(c.dx, c.dy);
        EXPECT_NEAR(model.pan().width(), c.panX, kEps) << c.name;
        EXPECT_NEAR(model.pan().height(), c.panY, kEps) << c.name;
    }
}

TEST(SessionView, clampPanAfterAZoomSetDirectly) {
    SessionModel model(QUrl("http://127.0.0.1:1"));
    model.setZoom(6);
    model.setPan(QSizeF(0.4, -0.4));
    model.setZoom(2);
    int panNotifications = 0;
    QObject::connect(&model, &SessionModel::panChanged, &model, [&] { ++panNotifications; });
    model.clampPan();
    EXPECT_EQ(model.pan(), QSizeF(0.25, -0.25));
    EXPECT_EQ(panNotifications, 1) << "assigned once with both components";
}

}  // namespace
}  // namespace vellumora
