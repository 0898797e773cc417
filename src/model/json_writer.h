#pragma once
// A small compact JSON writer: no whitespace, members in the order written, '/' escaped as
// "\/", doubles as the shortest text that reads back to the same value. A non-finite number
// cannot be written; the writer remembers it and the caller drops what it was building.

#include <string>
#include <string_view>

namespace vellumora::json {

class Writer {
  public:
    explicit Writer(std::string& out) : out_(out) {}

    void beginObject() {
        separate();
        out_.push_back('{');
        needComma_ = false;
    }
    void endObject() {
        out_.push_back('}');
        needComma_ = true;
    }
    void beginArray() {
        separate();
        out_.push_back('[');
        needComma_ = false;
    }
    void endArray() {
        out_.push_back(']');
        needComma_ = true;
    }
    // A member name; the next call writes its value.
    void key(std::string_view name) {
        separate();
        appendQuoted(name);
        out_.push_back(':');
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
        out_.append(value ? "true" : "false");
        needComma_ = true;
    }
    void null() {
        separate();
        out_.append("null", 4);
        needComma_ = true;
    }

    // False once a NaN or an infinity was offered.
    bool ok() const { return ok_; }

  private:
    void appendQuoted(std::string_view text);
    void separate() {
        if (needComma_) out_.push_back(',');
    }

    std::string& out_;
    bool needComma_ = false;
    bool ok_ = true;
};

}  // namespace vellumora::json
