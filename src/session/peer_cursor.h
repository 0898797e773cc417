#pragma once
// The last known cursor of a peer, drawn as a ring in the peer's colour.

#include <QString>

namespace vellumora {

struct PeerCursor {
    QString userId;
    double x = 0;  // canvas-normalized
    double y = 0;
    QString colorHex;
    bool operator==(const PeerCursor&) const = default;
};

}  // namespace vellumora
