#pragma once
// A small compact JSON writer: no whitespace, members in the order written, '/' escaped as
// "\/", doubles as the shortest text that reads back to the same value. A non-finite number
// cannot be written; the writer remembers it and the caller drops what it was building.

#include <cstddef>
#include <string>
#include <string_view>

namespace vellumora::json {

// A sink that only counts: the byte length of what a Writer would write, so that every
// encoded size is the writer's own and cannot drift from the text actually sent.
struct ByteCount {
    std::size_t bytes = 0;
};

class Writer {
  public:
    explicit Writer(std::string& out) : out_(&out) {}
    explicit Writer(ByteCount& count) : count_(&count) {}

    void beginObject() {
        separate();
        put('{');
        needComma_ = false;
    }
    void endObject() {
        put('}');
        needComma_ = true;
    }
    void beginArray() {
        separate();
        put('[');
        needComma_ = false;
    }
    void endArray() {
        put(']');
        needComma_ = true;
    }
    // A member name; the next call writes its value.
    void key(std::string_view name) {
        separate();
        appendQuoted(name);
        put(':');
        needComma_ = false;
    }
    void string(std::string_view text);
    // A member name with its value.
    void member(std::string_view name, std::string_view text) {
        key(name);
        string(text);
    }
    void member(std::string_view name, double value) {
        key(name);
        number(value);
    }
    void member(std::string_view name, bool value) = delete;  // would silently pick the double
    void number(double value);
    void boolean(bool value) {
        separate();
        if (value) {
            put("true", 4);
        } else {
            put("false", 5);
        }
        needComma_ = true;
    }
    void null() {
        separate();
        put("null", 4);
        needComma_ = true;
    }

    // False once a NaN or an infinity was offered.
    bool ok() const { return ok_; }

  private:
    void appendQuoted(std::string_view text);
    void appendEscape(unsigned char c);
    void separate() {
        if (needComma_) put(',');
    }
    void put(char c) {
        if (out_) {
            out_->push_back(c);
        } else {
            ++count_->bytes;
        }
    }
    void put(const char* text, std::size_t size) {
        if (out_) {
            out_->append(text, size);
        } else {
            count_->bytes += size;
        }
    }

    std::string* out_ = nullptr;
    ByteCount* count_ = nullptr;
    bool needComma_ = false;
    bool ok_ = true;
};

}  // namespace vellumora::json
