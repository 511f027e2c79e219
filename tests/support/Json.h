#pragma once

// A small JSON reader for tests that compare with the peers' JSON output
// (qpdf --json). Numbers keep their source text, so that a test can tell
// integers from reals as the producer wrote them.
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace rendova::test {

struct Json {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    // Numbers: the source text; strings: the decoded UTF-8 text.
    std::string text;
    std::vector<Json> items;
    // Object members in their order in the source.
    std::vector<std::pair<std::string, Json>> members;

    bool isNumber() const { return type == Type::Number; }
    bool isString() const { return type == Type::String; }
    bool isArray() const { return type == Type::Array; }
    bool isObject() const { return type == Type::Object; }
    double number() const { return std::strtod(text.c_str(), nullptr); }
    // A member by name, or null.
    const Json* find(std::string_view name) const {
        for (const auto& [key, value] : members)
            if (key == name)
                return &value;
        return nullptr;
    }

    // Throws std::runtime_error on malformed input.
    static Json parse(std::string_view input) {
        Reader reader{input, 0};
        Json value = reader.value();
        reader.skipSpace();
        if (reader.pos != input.size())
            throw std::runtime_error("json: trailing bytes");
        return value;
    }

private:
    struct Reader {
        std::string_view in;
        size_t pos;

        void skipSpace() {
            while (pos < in.size() &&
                   (in[pos] == ' ' || in[pos] == '\n' || in[pos] == '\r' || in[pos] == '\t'))
                ++pos;
        }
        char peek() {
            skipSpace();
            if (pos >= in.size())
                throw std::runtime_error("json: unexpected end");
            return in[pos];
        }
        void expect(char c) {
            if (peek() != c)
                throw std::runtime_error(std::string("json: expected ") + c);
            ++pos;
        }
        bool literal(std::string_view word) {
            if (in.substr(pos, word.size()) != word)
                return false;
            pos += word.size();
            return true;
        }
        static void appendUtf8(std::string& out, uint32_t cp) {
            if (cp < 0x80) {
                out += char(cp);
            } else if (cp < 0x800) {
                out += char(0xc0 | cp >> 6);
                out += char(0x80 | (cp & 0x3f));
            } else if (cp < 0x10000) {
                out += char(0xe0 | cp >> 12);
                out += char(0x80 | ((cp >> 6) & 0x3f));
                out += char(0x80 | (cp & 0x3f));
            } else {
                out += char(0xf0 | cp >> 18);
                out += char(0x80 | ((cp >> 12) & 0x3f));
                out += char(0x80 | ((cp >> 6) & 0x3f));
                out += char(0x80 | (cp & 0x3f));
            }
        }
        uint32_t hex4() {
            if (pos + 4 > in.size())
                throw std::runtime_error("json: short \\u escape");
            uint32_t v = uint32_t(std::stoul(std::string(in.substr(pos, 4)), nullptr, 16));
            pos += 4;
            return v;
        }
        std::string string() {
            expect('"');
            std::string out;
            while (pos < in.size() && in[pos] != '"') {
                char c = in[pos++];
                if (c != '\\') {
                    out += c;
                    continue;
                }
                if (pos >= in.size())
                    break;
                char e = in[pos++];
                switch (e) {
                    case 'n':
                        out += '\n';
                        break;
                    case 'r':
                        out += '\r';
                        break;
                    case 't':
                        out += '\t';
                        break;
                    case 'b':
                        out += '\b';
                        break;
                    case 'f':
                        out += '\f';
                        break;
                    case 'u': {
                        uint32_t cp = hex4();
                        if (cp >= 0xd800 && cp < 0xdc00 && literal("\\u")) {
                            uint32_t low = hex4();
                            cp = 0x10000 + ((cp - 0xd800) << 10) + (low - 0xdc00);
                        }
                        appendUtf8(out, cp);
                        break;
                    }
                    default:
                        out += e;
                        break;
                }
            }
            expect('"');
            return out;
        }
        Json value() {
            Json v;
            char c = peek();
            if (c == '{') {
                ++pos;
                v.type = Type::Object;
                if (peek() == '}') {
                    ++pos;
                    return v;
                }
                for (;;) {
                    std::string key = string();
                    expect(':');
                    v.members.emplace_back(std::move(key), value());
                    if (peek() == ',') {
                        ++pos;
                        continue;
                    }
                    expect('}');
                    return v;
                }
            }
            if (c == '[') {
                ++pos;
                v.type = Type::Array;
                if (peek() == ']') {
                    ++pos;
                    return v;
                }
                for (;;) {
                    v.items.push_back(value());
                    if (peek() == ',') {
                        ++pos;
                        continue;
                    }
                    expect(']');
                    return v;
                }
            }
            if (c == '"') {
                v.type = Type::String;
                v.text = string();
                return v;
            }
            if (literal("true")) {
                v.type = Type::Bool;
                v.boolean = true;
                return v;
            }
            if (literal("false")) {
                v.type = Type::Bool;
                return v;
            }
            if (literal("null"))
                return v;
            size_t start = pos;
            while (pos < in.size() &&
                   std::string_view("+-0123456789.eE").find(in[pos]) != std::string_view::npos)
                ++pos;
            if (pos == start)
                throw std::runtime_error("json: unexpected character");
            v.type = Type::Number;
            v.text = std::string(in.substr(start, pos - start));
            return v;
        }
    };
};

}  // namespace rendova::test
