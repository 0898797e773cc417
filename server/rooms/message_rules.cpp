#include "rooms/message_rules.h"

#include <cmath>

namespace vellumora::server {

namespace {

bool within(double value, double low, double high) {
    return std::isfinite(value) && value >= low && value <= high;
}

// Positions are canvas-normalised; a little outside the page is a stroke leaving the paper.
bool sanePosition(double x, double y) {
    return within(x, -1.0, 2.0) && within(y, -1.0, 2.0);
}

bool saneColor(const WireColor& c) {
    return within(c.r, 0, 1) && within(c.g, 0, 1) && within(c.b, 0, 1) && within(c.a, 0, 1);
}

bool saneText(std::string_view text, std::size_t maxBytes) {
    if (text.size() > maxBytes) return false;
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20) return false;
    }
    return true;
}

// Standard Base64 with padding: what the app decodes, and nothing a database could cut short
// (a NUL, say) or that would read differently once stored.
bool saneBase64(std::string_view text) {
    if (text.size() % 4 != 0) return false;
    const std::size_t padding = text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0;
    for (std::size_t i = 0; i + padding < text.size(); ++i) {
        const char c = text[i];
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                        c == '+' || c == '/';
        if (!ok) return false;
    }
    return true;
}

bool sanePage(const WirePage& page) {
    return saneText(page.pageId, kMaxPageTextBytes) && saneText(page.displayName, kMaxPageTextBytes) &&
           saneText(page.mimeType, kMaxPageTextBytes) && saneBase64(page.imageBase64);
}

void fold(double& value) {
    if (value == 0) value = 0;
}

void fold(StrokePoint& p) {
    fold(p.x);
    fold(p.y);
    fold(p.pressure);
    fold(p.t);
}

}  // namespace

bool saneStrokeId(std::string_view id) {
    return !id.empty() && saneText(id, kMaxIdBytes);
}

bool sanePoint(const StrokePoint& p) {
    return sanePosition(p.x, p.y) && within(p.pressure, 0.0, 64.0) && within(p.t, -1e12, 1e12);
}

bool saneMessage(const ClientMessage& message) {
    return std::visit(
        [](const auto& m) -> bool {
            using T = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<T, ClientMessage::StrokeStart>) {
                const StrokeStartPayload& s = m.stroke;
                return saneStrokeId(s.id) && saneText(s.userId, kMaxIdBytes) && saneColor(s.color) &&
                       within(s.brushSize, 0.01, 256.0) && sanePoint(s.point);
            } else if constexpr (std::is_same_v<T, ClientMessage::StrokePoint>) {
                return saneStrokeId(m.strokeId) && sanePoint(m.point);
            } else if constexpr (std::is_same_v<T, ClientMessage::StrokeEnd> ||
                                 std::is_same_v<T, ClientMessage::StrokeUndo> ||
                                 std::is_same_v<T, ClientMessage::StrokeRedo>) {
                return saneStrokeId(m.strokeId);
            } else if constexpr (std::is_same_v<T, ClientMessage::Cursor>) {
                return sanePosition(m.x, m.y);
            } else if constexpr (std::is_same_v<T, ClientMessage::SetPage>) {
                return !m.page || sanePage(*m.page);
            } else {
                return true;
            }
        },
        message.value);
}

void foldNegativeZero(ClientMessage& message) {
    std::visit(
        [](auto& m) {
            using T = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<T, ClientMessage::StrokeStart>) {
                StrokeStartPayload& s = m.stroke;
                fold(s.color.r);
                fold(s.color.g);
                fold(s.color.b);
                fold(s.color.a);
                fold(s.brushSize);
                fold(s.point);
            } else if constexpr (std::is_same_v<T, ClientMessage::StrokePoint>) {
                fold(m.point);
            } else if constexpr (std::is_same_v<T, ClientMessage::Cursor>) {
                fold(m.x);
                fold(m.y);
            }
        },
        message.value);
}

}  // namespace vellumora::server
