#include "shell.h"

namespace fakes {

namespace {

// What the real object raises for a value it cannot read (ERROR_FILE_NOT_FOUND).
constexpr HRESULT kNoValue = 0x80070002;

class Environment : public Fake {
public:
    Environment() : Fake("Environment") {}

protected:
    void answer(Call& c) override {
        if (c.member != "Item") return notFakedCall(c);
        std::wstring name;
        c.args.text(0, name);
        const EnvironmentEntry* v = machine().variable(name, c.at.run);
        c.reply.text(v ? v->value : L"");
    }
};

// %NAME% of a named variable is its value; any other stays as written.
std::wstring expand(const std::wstring& text, unsigned run) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t close = text[i] == L'%' ? text.find(L'%', i + 1) : std::wstring::npos;
        if (close == std::wstring::npos) {
            out += text[i++];
            continue;
        }
        const EnvironmentEntry* v = machine().variable(text.substr(i + 1, close - i - 1), run);
        if (v) {
            out += v->value;
            i = close + 1;
        } else {
            out += text.substr(i, close - i);   // the closing % may open the next name
            i = close;
        }
    }
    return out;
}

class Shell : public Fake {
public:
    Shell() : Fake("WScript.Shell") {}

protected:
    void answer(Call& c) override {
        std::wstring text;
        c.args.text(0, text);
        if (c.member == "RegRead") {
            if (registryKey(text).empty())
                return c.reply.fail({kNoValue, L"Invalid root in registry key \"" + text + L"\".", L"WshShell.RegRead"});
            const RegistryEntry* e = machine().registryValue(text, c.at.run);
            if (!e)
                return c.reply.fail(
                    {kNoValue, L"Unable to open registry key \"" + text + L"\" for reading.", L"WshShell.RegRead"});
            return c.reply.value(e->value);
        }
        if (c.member == "ExpandEnvironmentStrings") return c.reply.text(expand(text, c.at.run));
        if (c.member == "Environment") return give(c.reply, make<Environment>());
        notFakedCall(c);
    }
};

}  // namespace

Fake* newShell() { return make<Shell>(); }

}  // namespace fakes
