#include "json.h"

#include "format.h"

#include <cmath>
#include <cstring>

namespace {

// Stands for a non-finite number while the library reads the line: a string
// that begins with a NUL, which no journal string can (the core's strings
// end at their first NUL, and the journal escapes every control character).
const char kMark = '\0';

// The text with each bare nan/inf outside strings turned into a marked string.
std::string markNonFinite(const std::string& text) {
    std::string out;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (inString) {
            out += c;
            if (c == '\\' && i + 1 < text.size()) out += text[++i];
            else if (c == '"') inString = false;
            continue;
        }
        if (c == '"') inString = true;
        bool marked = false;
        for (const jnl::NonFinite& w : jnl::kNonFinite) {
            std::size_t n = std::strlen(w.word);
            if (text.compare(i, n, w.word) != 0) continue;
            out += std::string("\"\\u0000") + w.word + "\"";
            i += n - 1;
            marked = true;
            break;
        }
        if (!marked) out += c;
    }
    return out;
}

void restoreNonFinite(Json& v) {
    if (v.is_string()) {
        const std::string& s = v.get_ref<const std::string&>();
        if (s.empty() || s[0] != kMark) return;
        for (const jnl::NonFinite& w : jnl::kNonFinite)
            if (s.compare(1, std::string::npos, w.word) == 0) v = w.value;
        return;
    }
    if (v.is_structured())
        for (Json& item : v) restoreNonFinite(item);
}

}  // namespace

bool parseJson(const std::string& text, Json& value) {
    bool bare = text.find_first_of("ni") != std::string::npos;
    value = Json::parse(bare ? markNonFinite(text) : text, nullptr, false);
    if (value.is_discarded()) return false;
    if (bare) restoreNonFinite(value);
    return true;
}

std::string jsonLine(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

const Json* member(const Json& value, const char* name) {
    if (!value.is_object()) return nullptr;
    auto it = value.find(name);
    return it == value.end() ? nullptr : &*it;
}

const Json* element(const Json* value, std::size_t index) {
    return value && value->is_array() && index < value->size() ? &(*value)[index] : nullptr;
}

bool isString(const Json* v) { return v && v->is_string(); }

const std::string& textOf(const Json* v) {
    static const std::string none;
    return isString(v) ? v->get_ref<const std::string&>() : none;
}

double numberOf(const Json* v) { return v && v->is_number() ? v->get<double>() : 0; }

long integerOf(const Json* v) {
    if (!v || !v->is_number()) return 0;
    if (v->is_number_float()) {
        double d = v->get<double>();
        return std::isfinite(d) ? static_cast<long>(d) : 0;
    }
    return v->get<long>();
}

std::string numberText(const Json* v) {
    if (!v || !v->is_number()) return "?";
    if (v->is_number_float()) {
        double d = v->get<double>();
        if (!std::isfinite(d)) return jnl::number(d);
    }
    return v->dump();
}
