#include "rooms/relay_text.h"

#include <array>
#include <cfloat>
#include <charconv>
#include <cstdint>
#include <cstring>

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
    // The same for a literal whose length the compiler knows: compared inline, eight bytes at a
    // time, not by a call.
    template <std::size_t N>
    [[gnu::always_inline]] bool literal(const char (&text)[N]) {
        constexpr std::size_t size = N - 1;
        if (rest_.size() < size || !same<size>(rest_.data(), text)) return false;
        rest_.remove_prefix(size);
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

    // A string of printable ASCII without escapes, as it reads.
    bool plainString(std::string& out) {
        if (rest_.empty() || rest_[0] != '"') return false;
        std::size_t n = 1;
        while (n < rest_.size() && kPlainChars[static_cast<unsigned char>(rest_[n])]) ++n;
        if (n == rest_.size() || rest_[n] != '"') return false;
        out.assign(rest_.substr(1, n - 1));
        rest_.remove_prefix(n + 1);
        return true;
    }
    // A number in JSON's grammar, read as the JSON parser reads it. False for any text it
    // might read differently or refuse: past the double's range, a negative zero, an integer
    // that needs more than 64 bits, or a long spelling. Only for text that ends in something
    // other than a digit, which stops every run of digits before the end. Inlined: four calls'
    // saving and restoring registers cost more than the body's few steps per number.
    [[gnu::always_inline]] bool readNumber(double& out) {
        const char* const begin = rest_.data();
        const char* const end = begin + rest_.size();
        const char* p = begin;
        const bool negative = p != end && *p == '-';
        if (negative) ++p;
        // Past 19 digits it wraps, and is not used.
        std::uint64_t mantissa = 0;
        const char* const intFrom = p;
        p = digits(p, mantissa);
        const auto intDigits = static_cast<std::size_t>(p - intFrom);
        if (intDigits == 0 || (intDigits > 1 && *intFrom == '0')) return false;
        std::size_t mantissaDigits = intDigits;
        bool integer = true;
        int exponent = 0;
        if (p != end && *p == '.') {
            const char* const fractionFrom = ++p;
            p = digits(p, mantissa);
            const auto fraction = static_cast<std::size_t>(p - fractionFrom);
            if (fraction == 0) return false;
            mantissaDigits += fraction;
            exponent = -static_cast<int>(fraction);
            integer = false;
        }
        if (p != end && (*p == 'e' || *p == 'E')) {
            ++p;
            const bool down = p != end && *p == '-';
            if (p != end && (*p == '+' || *p == '-')) ++p;
            std::uint64_t e = 0;
            const char* const from = p;
            p = digits(p, e);
            const auto written = static_cast<std::size_t>(p - from);
            if (written == 0) return false;
            // Anything longer is far outside the exact range below; the library reads it.
            const int magnitude = written <= 4 ? static_cast<int>(e) : 10'000;
            exponent += down ? -magnitude : magnitude;
            integer = false;
        }
        const auto n = static_cast<std::size_t>(p - begin);
        constexpr std::size_t kLongest = 32;
        if (n > kLongest || (integer && intDigits > 18)) return false;
        if (!exactQuotient(mantissa, mantissaDigits, exponent, out)) {
            const auto [stop, error] = std::from_chars(begin, p, out);
            if (error != std::errc{} || stop != p) return false;
        } else if (negative) {
            out = -out;
        }
        if (out == 0 && negative) return false;
        rest_.remove_prefix(n);
        return true;
    }

  private:
    // Most coordinates and times have few digits: a mantissa of at most 53 bits and a power of
    // ten that a double holds exactly make one correctly rounded division or multiplication,
    // the value the library's full algorithm gives, at a fraction of its cost.
    static bool exactQuotient(std::uint64_t mantissa, std::size_t digits, int exponent, double& out) {
        static_assert(FLT_EVAL_METHOD == 0, "the quotient must be rounded once, to double");
        static constexpr std::array<double, 23> kPowers = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                           1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                           1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
        if (digits > 19 || mantissa > (std::uint64_t{1} << 53) || exponent < -22 || exponent > 22)
            return false;
        const auto value = static_cast<double>(mantissa);
        out = exponent < 0 ? value / kPowers[static_cast<std::size_t>(-exponent)]
                           : value * kPowers[static_cast<std::size_t>(exponent)];
        return true;
    }
    // Reads decimal digits into `value`, which wraps when there are too many to keep. No end
    // check: the text's last byte is no digit.
    static const char* digits(const char* p, std::uint64_t& value) {
        for (unsigned d; (d = static_cast<unsigned char>(*p) - unsigned{'0'}) <= 9; ++p) value = value * 10 + d;
        return p;
    }
    template <std::size_t Size>
    static bool same(const char* a, const char* b) {
        if constexpr (Size < 8) {
            return std::memcmp(a, b, Size) == 0;
        } else {
            // The last word overlaps the one before when the size is no multiple of eight.
            std::uint64_t differ = 0;
            for (std::size_t i = 0; i < Size; i += 8) {
                const std::size_t at = i + 8 <= Size ? i : Size - 8;
                std::uint64_t x;
                std::uint64_t y;
                std::memcpy(&x, a + at, 8);
                std::memcpy(&y, b + at, 8);
                differ |= x ^ y;
            }
            return differ == 0;
        }
    }
    static bool isNumberChar(char c) { return kNumberChars[static_cast<unsigned char>(c)]; }
    static constexpr auto kPlainChars = [] {
        std::array<bool, 256> is{};
        for (int c = 0x20; c < 0x7F; ++c) is[static_cast<std::size_t>(c)] = c != '"' && c != '\\';
        return is;
    }();
    static constexpr auto kNumberChars = [] {
        std::array<bool, 256> is{};
        for (const char c : std::string_view("0123456789+-.eE")) is[static_cast<unsigned char>(c)] = true;
        return is;
    }();
    std::string_view rest_;
};

constexpr std::string_view kStrokePointFront = R"({"type":"stroke_point",)";
constexpr char kStrokePointHead[] = R"({"type":"stroke_point","strokeId":)";

// `{"type":"…",`: what the relay keeps of the front, before the sender's id goes in.
bool matches(std::string_view bytes, const ClientMessage& message, std::string_view& front) {
    return std::visit(Overloaded{
                          [&](const ClientMessage::StrokePoint& m) {
                              front = kStrokePointFront;
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

// The relay's head: the front and the name of the sender's id. Written with a size the compiler
// knows, so that no call copies it.
template <std::size_t N>
void appendRelay(std::string_view bytes, std::size_t frontSize, const char (&head)[N], std::string_view userIdJson,
                 std::string& out) {
    constexpr std::size_t headSize = N - 1;
    const std::string_view rest = bytes.substr(frontSize);
    // Sized once and written in place: appends would each check and grow the string.
    const std::size_t at = out.size();
    out.resize(at + headSize + userIdJson.size() + 1 + rest.size());
    char* p = out.data() + at;
    std::memcpy(p, head, headSize);
    p += headSize;
    std::memcpy(p, userIdJson.data(), userIdJson.size());
    p += userIdJson.size();
    *p++ = ',';
    std::memcpy(p, rest.data(), rest.size());
}
}  // namespace

bool readPlainStrokePoint(std::string_view bytes, ClientMessage& out) {
    auto* m = std::get_if<ClientMessage::StrokePoint>(&out.value);
    if (!m) m = &out.value.emplace<ClientMessage::StrokePoint>();
    // Its numbers are read up to the closing brace at the latest.
    if (!bytes.ends_with("}}")) return false;
    Layout l(bytes);
    StrokePoint& p = m->point;
    return l.literal(kStrokePointHead) && l.plainString(m->strokeId) && l.literal(R"(,"point":{"x":)") &&
           l.readNumber(p.x) && l.literal(R"(,"y":)") && l.readNumber(p.y) && l.literal(R"(,"pressure":)") &&
           l.readNumber(p.pressure) && l.literal(R"(,"t":)") && l.readNumber(p.t) && l.literal("}}") && l.done();
}

void relayPlainStrokePoint(std::string_view bytes, std::string_view userIdJson, std::string& out) {
    appendRelay(bytes, kStrokePointFront.size(), R"({"type":"stroke_point","userId":)", userIdJson, out);
}

bool relayFromBytes(std::string_view bytes, const ClientMessage& message, std::string_view userIdJson,
                    std::string& out) {
    std::string_view front;
    if (!matches(bytes, message, front)) return false;
    if (std::holds_alternative<ClientMessage::StrokePoint>(message.value)) {
        relayPlainStrokePoint(bytes, userIdJson, out);
    } else if (std::holds_alternative<ClientMessage::StrokeEnd>(message.value)) {
        appendRelay(bytes, front.size(), R"({"type":"stroke_end","userId":)", userIdJson, out);
    } else {
        appendRelay(bytes, front.size(), R"({"type":"cursor","userId":)", userIdJson, out);
    }
    return true;
}

}  // namespace vellumora::server
