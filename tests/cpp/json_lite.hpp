// A small JSON reader for the engine tests.
//
//   json::Value doc = json::parse_file(path);          // or json::parse(text)
//   for (const json::Value& c : doc["cases"].items()) {
//       std::uint64_t seed = c["seed"].as_u64();        // "123" or 123
//       double x = c["expect"][0].as_double();          // 0.5 or "0x1.8p-3"
//   }
//
// Numbers keep their source text, so 64-bit integers such as
// 18446744073709551615 convert exactly. Objects keep their member order.
// Every failure (bad syntax, missing key, wrong type, out-of-range index or
// value) throws json::Error.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace json {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parses a double written as Python's float.hex() writes it ("0x1.8p-3",
// "-0x0.0p+0", "inf", "-inf", "nan"); plain decimal text ("0.25", "1e-3") is
// accepted too. The whole text must be consumed.
inline double parse_float_hex(std::string_view text) {
    std::string_view s = text;
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    auto lower = [](std::string_view v) {
        std::string out(v);
        for (char& ch : out) ch = (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
        return out;
    };
    const std::string l = lower(s);
    double value;
    if (l == "inf" || l == "infinity") {
        value = std::numeric_limits<double>::infinity();
    } else if (l == "nan") {
        value = std::numeric_limits<double>::quiet_NaN();
    } else {
        std::chars_format format = std::chars_format::general;
        if (l.size() > 2 && l[0] == '0' && l[1] == 'x') {
            s.remove_prefix(2);
            format = std::chars_format::hex;
        }
        if (s.empty() || s.front() == '-' || s.front() == '+') throw Error("bad float text: " + std::string(text));
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, format);
        if (ec != std::errc() || end != s.data() + s.size()) throw Error("bad float text: " + std::string(text));
    }
    return negative ? -value : value;
}

class Value {
public:
    enum class Kind { Null, Bool, Number, String, Array, Object };
    using Member = std::pair<std::string, Value>;

    Value() = default;
    static Value null() { return Value(); }
    static Value boolean(bool b) {
        Value v(Kind::Bool);
        v.bool_ = b;
        return v;
    }
    static Value number(std::string text) {
        Value v(Kind::Number);
        v.text_ = std::move(text);
        return v;
    }
    static Value string(std::string text) {
        Value v(Kind::String);
        v.text_ = std::move(text);
        return v;
    }
    static Value array(std::vector<Value> items = {}) {
        Value v(Kind::Array);
        v.items_ = std::move(items);
        return v;
    }
    static Value object(std::vector<Member> members = {}) {
        Value v(Kind::Object);
        v.members_ = std::move(members);
        return v;
    }

    Kind kind() const { return kind_; }
    bool is_null() const { return kind_ == Kind::Null; }
    bool is_bool() const { return kind_ == Kind::Bool; }
    bool is_number() const { return kind_ == Kind::Number; }
    bool is_string() const { return kind_ == Kind::String; }
    bool is_array() const { return kind_ == Kind::Array; }
    bool is_object() const { return kind_ == Kind::Object; }

    // Element count of an array or member count of an object.
    std::size_t size() const {
        if (is_array()) return items_.size();
        if (is_object()) return members_.size();
        throw Error("size() of a JSON " + kind_name() + ", not an array or object");
    }

    const Value& operator[](std::size_t i) const {
        expect(Kind::Array);
        if (i >= items_.size())
            throw Error("index " + std::to_string(i) + " out of range (size " + std::to_string(items_.size()) + ")");
        return items_[i];
    }
    // Avoids ambiguity between v[0] and v["key"] for int literals.
    const Value& operator[](int i) const {
        if (i < 0) throw Error("negative index");
        return (*this)[static_cast<std::size_t>(i)];
    }
    const Value& operator[](std::string_view key) const {
        if (const Value* v = find(key)) return *v;
        throw Error("missing key \"" + std::string(key) + "\"");
    }
    const Value& operator[](const char* key) const { return (*this)[std::string_view(key)]; }

    // The member named key, or nullptr when there is none.
    const Value* find(std::string_view key) const {
        expect(Kind::Object);
        for (const Member& m : members_)
            if (m.first == key) return &m.second;
        return nullptr;
    }
    bool contains(std::string_view key) const { return find(key) != nullptr; }

    const std::vector<Value>& items() const {
        expect(Kind::Array);
        return items_;
    }
    const std::vector<Member>& members() const {
        expect(Kind::Object);
        return members_;
    }

    bool as_bool() const {
        expect(Kind::Bool);
        return bool_;
    }
    const std::string& as_string() const {
        expect(Kind::String);
        return text_;
    }
    // The number exactly as written in the source.
    const std::string& number_text() const {
        expect(Kind::Number);
        return text_;
    }

    // An integer number, or a string holding a decimal integer.
    std::uint64_t as_u64() const { return parse_integer<std::uint64_t>(); }
    std::int64_t as_i64() const { return parse_integer<std::int64_t>(); }

    // A number, or a string in float.hex form ("0x1.8p-3", "inf", "nan", ...).
    double as_double() const {
        if (is_string()) return parse_float_hex(text_);
        expect(Kind::Number);
        double value;
        const auto [end, ec] = std::from_chars(text_.data(), text_.data() + text_.size(), value);
        if (ec != std::errc() || end != text_.data() + text_.size()) throw Error("bad number: " + text_);
        return value;
    }

    std::string kind_name() const {
        switch (kind_) {
            case Kind::Null: return "null";
            case Kind::Bool: return "bool";
            case Kind::Number: return "number";
            case Kind::String: return "string";
            case Kind::Array: return "array";
            case Kind::Object: return "object";
        }
        return "?";
    }

private:
    explicit Value(Kind k) : kind_(k) {}

    void expect(Kind k) const {
        if (kind_ != k) throw Error("expected a JSON " + Value(k).kind_name() + ", found a " + kind_name());
    }

    template <class Int>
    Int parse_integer() const {
        if (!is_number() && !is_string()) expect(Kind::Number);
        Int value{};
        const auto [end, ec] = std::from_chars(text_.data(), text_.data() + text_.size(), value);
        if (ec != std::errc() || end != text_.data() + text_.size() || text_.empty())
            throw Error("not an integer in range: " + text_);
        return value;
    }

    Kind kind_ = Kind::Null;
    bool bool_ = false;
    std::string text_;
    std::vector<Value> items_;
    std::vector<Member> members_;
};

namespace detail {

class Parser {
public:
    explicit Parser(std::string_view text) : s_(text) {}

    Value parse_document() {
        Value v = parse_value(0);
        skip_space();
        if (pos_ != s_.size()) fail("trailing characters");
        return v;
    }

private:
    static constexpr int kMaxDepth = 512;

    [[noreturn]] void fail(const std::string& what) const {
        throw Error("JSON parse error at offset " + std::to_string(pos_) + ": " + what);
    }

    void skip_space() {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
            ++pos_;
    }

    char peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }

    void expect_char(char c) {
        if (peek() != c) fail(std::string("expected '") + c + "'");
        ++pos_;
    }

    void expect_word(std::string_view w) {
        if (s_.substr(pos_, w.size()) != w) fail("expected " + std::string(w));
        pos_ += w.size();
    }

    Value parse_value(int depth) {
        if (depth > kMaxDepth) fail("nesting too deep");
        skip_space();
        switch (peek()) {
            case '{': return parse_object(depth);
            case '[': return parse_array(depth);
            case '"': return Value::string(parse_string());
            case 't': expect_word("true"); return Value::boolean(true);
            case 'f': expect_word("false"); return Value::boolean(false);
            case 'n': expect_word("null"); return Value::null();
            default:
                if (peek() == '-' || (peek() >= '0' && peek() <= '9')) return parse_number();
                fail(pos_ < s_.size() ? "unexpected character" : "unexpected end of input");
        }
    }

    Value parse_object(int depth) {
        expect_char('{');
        std::vector<Value::Member> members;
        skip_space();
        if (peek() == '}') {
            ++pos_;
            return Value::object(std::move(members));
        }
        for (;;) {
            skip_space();
            if (peek() != '"') fail("expected a member name");
            std::string key = parse_string();
            skip_space();
            expect_char(':');
            members.emplace_back(std::move(key), parse_value(depth + 1));
            skip_space();
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            expect_char('}');
            return Value::object(std::move(members));
        }
    }

    Value parse_array(int depth) {
        expect_char('[');
        std::vector<Value> items;
        skip_space();
        if (peek() == ']') {
            ++pos_;
            return Value::array(std::move(items));
        }
        for (;;) {
            items.push_back(parse_value(depth + 1));
            skip_space();
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            expect_char(']');
            return Value::array(std::move(items));
        }
    }

    Value parse_number() {
        const std::size_t start = pos_;
        auto digits = [&] {
            const std::size_t from = pos_;
            while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
            return pos_ - from;
        };
        if (peek() == '-') ++pos_;
        if (peek() == '0') {
            ++pos_;
        } else if (digits() == 0) {
            fail("bad number");
        }
        if (peek() == '.') {
            ++pos_;
            if (digits() == 0) fail("bad number fraction");
        }
        if (peek() == 'e' || peek() == 'E') {
            ++pos_;
            if (peek() == '+' || peek() == '-') ++pos_;
            if (digits() == 0) fail("bad number exponent");
        }
        return Value::number(std::string(s_.substr(start, pos_ - start)));
    }

    unsigned read_hex4() {
        if (pos_ + 4 > s_.size()) fail("short \\u escape");
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[pos_++];
            v <<= 4;
            if (c >= '0' && c <= '9') v |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') v |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') v |= static_cast<unsigned>(c - 'A' + 10);
            else fail("bad \\u escape");
        }
        return v;
    }

    static void append_utf8(std::string& out, unsigned cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    std::string parse_string() {
        expect_char('"');
        std::string out;
        for (;;) {
            if (pos_ >= s_.size()) fail("unterminated string");
            const char c = s_[pos_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) fail("control character in string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= s_.size()) fail("unterminated escape");
            const char e = s_[pos_++];
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    unsigned cp = read_hex4();
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        if (s_.substr(pos_, 2) != "\\u") fail("lone high surrogate");
                        pos_ += 2;
                        const unsigned low = read_hex4();
                        if (low < 0xDC00 || low > 0xDFFF) fail("bad low surrogate");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                        fail("lone low surrogate");
                    }
                    append_utf8(out, cp);
                    break;
                }
                default: fail("bad escape");
            }
        }
    }

    std::string_view s_;
    std::size_t pos_ = 0;
};

}  // namespace detail

inline Value parse(std::string_view text) { return detail::Parser(text).parse_document(); }

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error("cannot open " + path);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline Value parse_file(const std::string& path) { return parse(read_file(path)); }

}  // namespace json
