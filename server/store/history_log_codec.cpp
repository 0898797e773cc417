#include "store/history_log_codec.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "model/overloaded.h"

namespace vellumora::server {

namespace {

// `point` is what logs before packed points hold; a server still reads it.
enum class Kind : std::uint8_t { start, point, end, remove, clear, page, packedPoint = 0x10, undo = 0x40, redo };

// A point with its room, stroke and index as variable-length integers (7 bits a byte, low
// first): nearly every change is one, and 38-40 bytes instead of 57 leave a commit's log row
// a page or more smaller.
constexpr std::size_t kMaxPackedPoint = 1 + 3 * 10 + 4 * sizeof(double);

char* putVarint(char* at, std::int64_t value) {
    auto bits = static_cast<std::uint64_t>(value);
    for (; bits >= 0x80; bits >>= 7) *at++ = static_cast<char>((bits & 0x7F) | 0x80);
    *at++ = static_cast<char>(bits);
    return at;
}

char* putPacked(char* at, const HistoryOp& op, const HistoryOp::AppendPoint& c) {
    *at++ = static_cast<char>(Kind::packedPoint);
    at = putVarint(at, op.roomKey);
    at = putVarint(at, c.seq);
    at = putVarint(at, c.index);
    for (const double value : {c.point.x, c.point.y, c.point.pressure, c.point.t}) {
        std::memcpy(at, &value, sizeof value);
        at += sizeof value;
    }
    return at;
}

// Writes at `at` into `buffer`, which only ever grows: reused, it costs no allocation and no
// zeroing, and a point goes straight into place.
class Writer {
  public:
    explicit Writer(std::string& buffer) : buffer_(buffer) {}
    std::size_t size() const { return at_; }
    char* room(std::size_t n) {
        if (buffer_.size() - at_ < n) buffer_.resize(std::max(buffer_.size() * 2, at_ + n));
        return buffer_.data() + at_;
    }
    void wrote(const char* end) { at_ = static_cast<std::size_t>(end - buffer_.data()); }
    template <class T>
    void raw(T value) {
        std::memcpy(room(sizeof(T)), &value, sizeof(T));
        at_ += sizeof(T);
    }
    void text(std::string_view s) {
        raw(static_cast<std::uint32_t>(s.size()));
        std::memcpy(room(s.size()), s.data(), s.size());
        at_ += s.size();
    }
    void point(const StrokePoint& p) {
        raw(p.x);
        raw(p.y);
        raw(p.pressure);
        raw(p.t);
    }

  private:
    std::string& buffer_;
    std::size_t at_ = 0;
};

class Reader {
  public:
    explicit Reader(std::string_view in) : in_(in) {}
    bool done() const { return in_.empty(); }
    template <class T>
    T raw() {
        if (in_.size() < sizeof(T)) throw StoreError("truncated history log entry");
        T value;
        std::memcpy(&value, in_.data(), sizeof(T));
        in_.remove_prefix(sizeof(T));
        return value;
    }
    std::string text() {
        const auto n = raw<std::uint32_t>();
        if (in_.size() < n) throw StoreError("truncated history log entry");
        std::string s(in_.substr(0, n));
        in_.remove_prefix(n);
        return s;
    }
    std::int64_t varint() {
        std::uint64_t bits = 0;
        for (unsigned shift = 0; shift < 64; shift += 7) {
            const auto byte = raw<std::uint8_t>();
            bits |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
            if (!(byte & 0x80)) return static_cast<std::int64_t>(bits);
        }
        throw StoreError("overlong number in history log");
    }
    StrokePoint point() {
        StrokePoint p;
        p.x = raw<double>();
        p.y = raw<double>();
        p.pressure = raw<double>();
        p.t = raw<double>();
        return p;
    }

  private:
    std::string_view in_;
};

}  // namespace

std::string encodeHistoryOps(const std::vector<HistoryOp>& ops) {
    std::string out;
    out.resize(encodeHistoryOpsInto(ops, out));
    return out;
}

std::size_t encodeHistoryOpsInto(const std::vector<HistoryOp>& ops, std::string& buffer) {
    Writer w(buffer);
    for (const HistoryOp& op : ops) {
        if (const auto* c = std::get_if<HistoryOp::AppendPoint>(&op.change)) {
            w.wrote(putPacked(w.room(kMaxPackedPoint), op, *c));
            continue;
        }
        std::visit(Overloaded{
                       [&](const HistoryOp::StartStroke& c) {
                           w.raw(Kind::start);
                           w.raw(op.roomKey);
                           w.raw(c.seq);
                           w.text(c.header.id);
                           w.text(c.header.userId);
                           w.raw(static_cast<std::uint8_t>(c.header.tool));
                           w.raw(c.header.color.r);
                           w.raw(c.header.color.g);
                           w.raw(c.header.color.b);
                           w.raw(c.header.color.a);
                           w.raw(c.header.brushSize);
                           w.point(c.first);
                       },
                       [&](const HistoryOp::AppendPoint&) {},
                       [&](const HistoryOp::EndStroke& c) {
                           w.raw(Kind::end);
                           w.raw(op.roomKey);
                           w.raw(c.seq);
                       },
                       [&](const HistoryOp::RemoveStroke& c) {
                           w.raw(Kind::remove);
                           w.raw(op.roomKey);
                           w.raw(c.seq);
                       },
                       [&](const HistoryOp::Clear&) {
                           w.raw(Kind::clear);
                           w.raw(op.roomKey);
                       },
                       [&](const HistoryOp::SetUndone& c) {
                           w.raw(c.undone ? Kind::undo : Kind::redo);
                           w.raw(op.roomKey);
                           w.raw(c.seq);
                       },
                       [&](const HistoryOp::SetPage& c) {
                           w.raw(Kind::page);
                           w.raw(op.roomKey);
                           w.raw(static_cast<std::uint8_t>(c.page ? 1 : 0));
                           if (c.page) {
                               w.text(c.page->pageId);
                               w.text(c.page->displayName);
                               w.text(c.page->mimeType);
                               w.text(c.page->imageBase64);
                           }
                       },
                   },
                   op.change);
    }
    return w.size();
}

std::vector<HistoryOp> decodeHistoryOps(std::string_view bytes) {
    std::vector<HistoryOp> ops;
    Reader r(bytes);
    while (!r.done()) {
        const auto kind = r.raw<Kind>();
        HistoryOp op;
        if (kind == Kind::packedPoint) {
            op.roomKey = r.varint();
            HistoryOp::AppendPoint c;
            c.seq = r.varint();
            c.index = r.varint();
            c.point = r.point();
            op.change = c;
            ops.push_back(std::move(op));
            continue;
        }
        op.roomKey = r.raw<std::int64_t>();
        switch (kind) {
            case Kind::start: {
                HistoryOp::StartStroke c;
                c.seq = r.raw<std::int64_t>();
                c.header.id = r.text();
                c.header.userId = r.text();
                const auto tool = r.raw<std::uint8_t>();
                if (tool >= toolAllCases.size()) throw StoreError("bad tool in history log");
                c.header.tool = toolAllCases[tool];
                c.header.color.r = r.raw<double>();
                c.header.color.g = r.raw<double>();
                c.header.color.b = r.raw<double>();
                c.header.color.a = r.raw<double>();
                c.header.brushSize = r.raw<double>();
                c.first = r.point();
                op.change = std::move(c);
                break;
            }
            case Kind::point: {
                HistoryOp::AppendPoint c;
                c.seq = r.raw<std::int64_t>();
                c.index = r.raw<std::int64_t>();
                c.point = r.point();
                op.change = c;
                break;
            }
            case Kind::end:
                op.change = HistoryOp::EndStroke{r.raw<std::int64_t>()};
                break;
            case Kind::remove:
                op.change = HistoryOp::RemoveStroke{r.raw<std::int64_t>()};
                break;
            case Kind::clear:
                op.change = HistoryOp::Clear{};
                break;
            case Kind::undo:
            case Kind::redo:
                op.change = HistoryOp::SetUndone{r.raw<std::int64_t>(), kind == Kind::undo};
                break;
            case Kind::page: {
                HistoryOp::SetPage c;
                if (r.raw<std::uint8_t>() != 0) {
                    WirePage page;
                    page.pageId = r.text();
                    page.displayName = r.text();
                    page.mimeType = r.text();
                    page.imageBase64 = r.text();
                    c.page = std::make_shared<const WirePage>(std::move(page));
                }
                op.change = std::move(c);
                break;
            }
            default:
                throw StoreError("unknown entry in history log");
        }
        ops.push_back(std::move(op));
    }
    return ops;
}

}  // namespace vellumora::server
