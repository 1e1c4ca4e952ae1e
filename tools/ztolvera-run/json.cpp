#include "json.h"

#include <cstdlib>
#include <cstring>

namespace {

class Reader {
public:
    explicit Reader(const std::string& text) : p_(text.c_str()), end_(text.c_str() + text.size()) {}

    bool document(JsonValue& v) {
        if (!value(v, 0)) return false;
        skipSpace();
        return p_ == end_;
    }

private:
    // Journal lines nest two levels; anything far deeper is not one of them.
    static constexpr int kMaxDepth = 32;

    void skipSpace() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\r' || *p_ == '\n')) ++p_;
    }
    bool take(char c) {
        skipSpace();
        if (p_ < end_ && *p_ == c) {
            ++p_;
            return true;
        }
        return false;
    }
    bool word(const char* w) {
        std::size_t n = std::strlen(w);
        if (static_cast<std::size_t>(end_ - p_) < n || std::strncmp(p_, w, n)) return false;
        p_ += n;
        return true;
    }

    bool value(JsonValue& v, int depth) {
        if (depth > kMaxDepth) return false;
        skipSpace();
        if (p_ == end_) return false;
        switch (*p_) {
        case '"': v.kind = JsonValue::String; return string(v.text);
        case '[': return array(v, depth);
        case '{': return object(v, depth);
        case 'n': v.kind = JsonValue::Null; return word("null");
        case 't': v.kind = JsonValue::Bool; v.text = "true"; return word("true");
        case 'f': v.kind = JsonValue::Bool; v.text = "false"; return word("false");
        default: return number(v);
        }
    }

    bool number(JsonValue& v) {
        const char* start = p_;
        if (p_ < end_ && *p_ == '-') ++p_;
        while (p_ < end_ && (std::strchr("0123456789.eE+-", *p_) || *p_ == 'n' || *p_ == 'a' || *p_ == 'i' || *p_ == 'f'))
            ++p_;
        if (p_ == start) return false;
        v.kind = JsonValue::Number;
        v.text.assign(start, p_);
        return true;
    }

    static void putUtf8(std::string& out, unsigned long c) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }

    bool hex4(unsigned long& c) {
        if (end_ - p_ < 4) return false;
        char digits[5] = {p_[0], p_[1], p_[2], p_[3], 0};
        char* stop = nullptr;
        c = std::strtoul(digits, &stop, 16);
        if (stop != digits + 4) return false;
        p_ += 4;
        return true;
    }

    bool string(std::string& out) {
        ++p_;  // the opening quote
        out.clear();
        while (p_ < end_ && *p_ != '"') {
            char c = *p_++;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (p_ == end_) return false;
            char e = *p_++;
            switch (e) {
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'u': {
                unsigned long c1 = 0;
                if (!hex4(c1)) return false;
                // The core's texts are UTF-16 escaped unit by unit.
                if (c1 >= 0xD800 && c1 < 0xDC00 && end_ - p_ >= 6 && p_[0] == '\\' && p_[1] == 'u') {
                    const char* back = p_;
                    p_ += 2;
                    unsigned long c2 = 0;
                    if (hex4(c2) && c2 >= 0xDC00 && c2 < 0xE000) c1 = 0x10000 + ((c1 - 0xD800) << 10) + (c2 - 0xDC00);
                    else p_ = back;
                }
                putUtf8(out, c1);
                break;
            }
            default: out += e; break;
            }
        }
        if (p_ == end_) return false;
        ++p_;
        return true;
    }

    bool array(JsonValue& v, int depth) {
        ++p_;
        v.kind = JsonValue::Array;
        if (take(']')) return true;
        do {
            v.items.emplace_back();
            if (!value(v.items.back(), depth + 1)) return false;
        } while (take(','));
        return take(']');
    }

    bool object(JsonValue& v, int depth) {
        ++p_;
        v.kind = JsonValue::Object;
        if (take('}')) return true;
        do {
            skipSpace();
            if (p_ == end_ || *p_ != '"') return false;
            std::string name;
            if (!string(name) || !take(':')) return false;
            v.members.emplace_back(std::move(name), JsonValue{});
            if (!value(v.members.back().second, depth + 1)) return false;
        } while (take(','));
        return take('}');
    }

    const char* p_;
    const char* end_;
};

}  // namespace

double JsonValue::number() const { return kind == Number ? std::strtod(text.c_str(), nullptr) : 0; }

long JsonValue::integer() const { return kind == Number ? std::strtol(text.c_str(), nullptr, 10) : 0; }

const JsonValue* JsonValue::member(const char* name) const {
    for (const auto& m : members)
        if (m.first == name) return &m.second;
    return nullptr;
}

const JsonValue* JsonValue::at(std::size_t index) const { return index < items.size() ? &items[index] : nullptr; }

bool parseJson(const std::string& text, JsonValue& value) {
    value = JsonValue{};
    return Reader(text).document(value);
}
