#include "rooms/relay_text.h"

#include <array>

#include "model/overloaded.h"

namespace vellumora::server {

namespace {
// Reads `bytes` from the front against the codec's layout, one piece at a time.
class Layout {
  public:
    explicit Layout(std::string_view bytes) : rest_(bytes) {}

    bool literal(std::string_view text) {
        if (!rest_.starts_with(text)) return false;
        rest_.remove_prefix(text.size());
        return true;
    }
    bool plainString() {
        if (rest_.empty() || rest_[0] != '"') return false;
        const auto close = rest_.find_first_of("\"\\", 1);
        if (close == std::string_view::npos || rest_[close] != '"') return false;
        rest_.remove_prefix(close + 1);
        return true;
    }
    // The text of a number whose grammar the decoder has checked and whose value is `value`.
    // A negative zero is refused: the room keeps it as 0, and peers must read what it keeps.
    bool number(double value) {
        std::size_t n = 0;
        while (n < rest_.size() && isNumberChar(rest_[n])) ++n;
        if (n == 0 || (rest_[0] == '-' && value == 0)) return false;
        rest_.remove_prefix(n);
        return true;
    }
    bool done() const { return rest_.empty(); }

  private:
    static bool isNumberChar(char c) { return kNumberChars[static_cast<unsigned char>(c)]; }
    static constexpr auto kNumberChars = [] {
        std::array<bool, 256> is{};
        for (const char c : std::string_view("0123456789+-.eE")) is[static_cast<unsigned char>(c)] = true;
        return is;
    }();
    std::string_view rest_;
};

// `{"type":"…",`: what the relay keeps of the front, before the sender's id goes in.
bool matches(std::string_view bytes, const ClientMessage& message, std::string_view& front) {
    return std::visit(Overloaded{
                          [&](const ClientMessage::StrokePoint& m) {
                              front = R"({"type":"stroke_point",)";
                              Layout l(bytes);
                              const StrokePoint& p = m.point;
                              return l.literal(front) && l.literal(R"("strokeId":)") && l.plainString() &&
                                     l.literal(R"(,"point":{"x":)") && l.number(p.x) &&
                                     l.literal(R"(,"y":)") && l.number(p.y) && l.literal(R"(,"pressure":)") &&
                                     l.number(p.pressure) && l.literal(R"(,"t":)") && l.number(p.t) &&
                                     l.literal("}}") && l.done();
                          },
                          [&](const ClientMessage::StrokeEnd&) {
                              front = R"({"type":"stroke_end",)";
                              Layout l(bytes);
                              return l.literal(front) && l.literal(R"("strokeId":)") && l.plainString() &&
                                     l.literal("}") && l.done();
                          },
                          [&](const ClientMessage::Cursor& m) {
                              front = R"({"type":"cursor",)";
                              Layout l(bytes);
                              return l.literal(front) && l.literal(R"("x":)") && l.number(m.x) &&
                                     l.literal(R"(,"y":)") && l.number(m.y) && l.literal("}") && l.done();
                          },
                          // The others are renamed or rewritten on the way, and rare.
                          [](const auto&) { return false; },
                      },
                      message.value);
}
}  // namespace

bool relayFromBytes(std::string_view bytes, const ClientMessage& message, std::string_view userIdJson,
                    std::string& out) {
    std::string_view front;
    if (!matches(bytes, message, front)) return false;
    out.reserve(out.size() + bytes.size() + userIdJson.size() + 10);
    out.append(front)
        .append(R"("userId":)")
        .append(userIdJson)
        .append(",")
        .append(bytes.substr(front.size()));
    return true;
}

}  // namespace vellumora::server
