#include "wmi.h"

#include <cwctype>
#include <memory>

#include "wql.h"

namespace fakes {

namespace {

constexpr HRESULT kNotFound = 0x80041002;        // wbemErrNotFound
constexpr HRESULT kInvalidQuery = 0x80041017;    // wbemErrInvalidQuery
constexpr HRESULT kInvalidPath = 0x8004103A;     // wbemErrInvalidObjectPath
constexpr HRESULT kQuotaViolation = 0x8004106C;  // wbemErrQuotaViolation
constexpr HRESULT kNoServer = 0x800706BA;        // the RPC server is unavailable
constexpr HRESULT kNoMember = 0x800A01B6;        // the script runtime's 438
const wchar_t* const kSource = L"SWbemServicesEx";

ScriptError wmiError(HRESULT scode, const std::wstring& description) { return {scode, description, kSource}; }

// The rows an object may show: the query's properties, or all for none.
bool shown(const std::vector<std::wstring>& properties, const std::wstring& name) {
    if (properties.empty()) return true;
    std::wstring folded = foldCase(name);
    for (auto& p : properties)
        if (p == folded) return true;
    return false;
}

class Property : public Fake {
public:
    Property(std::wstring name, const Json* value) : Fake("SWbemProperty"), name_(std::move(name)), value_(value) {}

protected:
    void answer(Call& c) override {
        if (c.member == "Name") return c.reply.text(name_);
        if (c.member == "Value") return c.reply.value(*value_);
        notFakedCall(c);
    }

private:
    std::wstring name_;
    const Json* value_;
};

class PropertySet : public Fake {
public:
    PropertySet(const Json* row, std::vector<std::wstring> properties)
        : Fake("SWbemPropertySet"), row_(row), properties_(std::move(properties)) {}

protected:
    void answer(Call& c) override {
        if (c.member == "_NewEnum") {
            std::vector<ComPtr<IDispatch>> items;
            for (auto& [name, value] : row_->items())
                if (shown(properties_, wide(name))) {
                    Fake* p = make<Property>(wide(name), &value);
                    if (!p) throw std::bad_alloc();
                    items.emplace_back();
                    items.back().attach(p);
                }
            return giveEnumerator(c.reply, std::move(items));
        }
        if (c.member == "Count") {
            double n = 0;
            for (auto& [name, value] : row_->items()) n += shown(properties_, wide(name));
            return c.reply.number(n);
        }
        if (c.member == "Item") {
            std::wstring name;
            const Json* v = c.args.text(0, name) && shown(properties_, name) ? property(*row_, name) : nullptr;
            if (!v) return c.reply.fail(wmiError(kNotFound, L"Not found"));
            for (auto& [key, value] : row_->items())
                if (&value == v) return give(c.reply, make<Property>(wide(key), v));
        }
        notFakedCall(c);
    }

private:
    const Json* row_;
    std::vector<std::wstring> properties_;
};

class Object : public Fake {
public:
    Object(std::wstring cls, const Json* row, std::vector<std::wstring> properties)
        : Fake("SWbemObject"), cls_(std::move(cls)), row_(row), properties_(std::move(properties)) {}

protected:
    // Besides Properties_, a name is one of the row's properties; the
    // object's own members end in "_" and are not faked.
    void answer(Call& c) override {
        if (c.member == "Properties_") return give(c.reply, make<PropertySet>(row_, properties_));
        std::wstring name = wide(c.member);
        if (name.empty() || name.back() == L'_') return notFakedCall(c);
        const Json* v = shown(properties_, name) ? property(*row_, name) : nullptr;
        if (!v)
            return c.reply.fail({kNoMember, L"Object doesn't support this property or method: '" + cls_ + L"." + name + L"'",
                                 L"Microsoft VBScript runtime error"});
        c.reply.value(*v);
    }

private:
    std::wstring cls_;
    const Json* row_;
    std::vector<std::wstring> properties_;
};

Fake* newObject(const std::wstring& cls, const Json* row, const std::vector<std::wstring>& properties) {
    return make<Object>(cls, row, properties);
}

class ObjectSet : public Fake {
public:
    ObjectSet(std::wstring cls, std::vector<const Json*> rows, std::vector<std::wstring> properties)
        : Fake("SWbemObjectSet"), cls_(std::move(cls)), rows_(std::move(rows)), properties_(std::move(properties)) {}

protected:
    void answer(Call& c) override {
        if (c.member == "_NewEnum") {
            std::vector<ComPtr<IDispatch>> items;
            for (const Json* row : rows_) {
                Fake* o = newObject(cls_, row, properties_);
                if (!o) throw std::bad_alloc();
                items.emplace_back();
                items.back().attach(o);
            }
            return giveEnumerator(c.reply, std::move(items));
        }
        if (c.member == "Count") return c.reply.number(double(rows_.size()));
        if (c.member == "ItemIndex") {
            long i = -1;
            if (!c.args.integer(0, i) || i < 0 || std::size_t(i) >= rows_.size())
                return c.reply.fail(wmiError(kNotFound, L"Not found"));
            return give(c.reply, newObject(cls_, rows_[i], properties_));
        }
        notFakedCall(c);
    }

private:
    std::wstring cls_;
    std::vector<const Json*> rows_;
    std::vector<std::wstring> properties_;
};

// The rows of `cls` in `ns` for the run, as the machine's class spells its name.
std::vector<const Json*> rowsOf(const std::wstring& ns, std::wstring& cls, unsigned run) {
    std::vector<const Json*> rows;
    if (const WmiClass* c = machine().wmiClass(ns, cls, run)) {
        cls = c->cls;
        for (auto& row : c->rows) rows.push_back(&row);
    }
    return rows;
}

// "Class.Key='value'" or "Class.Key=5": the first row whose key has that value.
void getObject(const std::wstring& ns, const std::wstring& path, unsigned run, Reply& reply) {
    std::size_t dot = path.find(L'.'), eq = path.find(L'=');
    if (dot == std::wstring::npos || eq == std::wstring::npos || eq < dot)
        return reply.fail(wmiError(kInvalidPath, L"Invalid object path: \"" + path + L"\""));
    std::wstring cls = path.substr(0, dot), key = path.substr(dot + 1, eq - dot - 1), value = path.substr(eq + 1);
    bool tooComplex = false;
    std::unique_ptr<Query> q = parseQuery(L"SELECT * FROM " + cls + L" WHERE " + key + L" = " + value, tooComplex);
    if (!q) return reply.fail(wmiError(kInvalidPath, L"Invalid object path: \"" + path + L"\""));
    for (const Json* row : rowsOf(ns, cls, run))
        if (q->selects(*row)) return give(reply, newObject(cls, row, {}));
    reply.fail(wmiError(kNotFound, L"Not found"));
}

class Services : public Fake {
public:
    explicit Services(std::wstring ns) : Fake("SWbemServices"), ns_(std::move(ns)) {}

protected:
    void answer(Call& c) override {
        std::wstring text;
        if (c.member == "ExecQuery" || c.member == "InstancesOf") {
            c.args.text(0, text);
            bool tooComplex = false;
            std::unique_ptr<Query> q = parseQuery(c.member == "ExecQuery" ? text : L"SELECT * FROM " + text, tooComplex);
            if (tooComplex) return c.reply.fail(wmiError(kQuotaViolation, L"Quota violation"));
            if (!q) return c.reply.fail(wmiError(kInvalidQuery, L"Invalid query: \"" + text + L"\""));
            std::vector<const Json*> rows;
            for (const Json* row : rowsOf(ns_, q->cls, c.at.run))
                if (q->selects(*row)) rows.push_back(row);
            return give(c.reply, make<ObjectSet>(q->cls, std::move(rows), q->properties));
        }
        if (c.member == "Get") {
            c.args.text(0, text);
            return getObject(ns_, text, c.at.run, c.reply);
        }
        notFakedCall(c);
    }

private:
    std::wstring ns_;
};

// "." and this computer's own names; any other server is out of the fakes' reach.
bool isLocal(const std::wstring& server) {
    if (server.empty() || server == L"." || foldCase(server) == L"LOCALHOST") return true;
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) && foldCase(server) == foldCase(name);
}

void connect(const std::wstring& server, std::wstring ns, Reply& reply) {
    if (!isLocal(server))
        return reply.fail(wmiError(kNoServer, L"The RPC server is unavailable: the fakes answer for this computer only, not \"" +
                                                  server + L"\""));
    for (wchar_t& ch : ns)
        if (ch == L'/') ch = L'\\';
    give(reply, make<Services>(ns.empty() ? L"root\\cimv2" : ns));
}

class Locator : public Fake {
public:
    Locator() : Fake("WMI") {}

protected:
    void answer(Call& c) override {
        if (c.member != "ConnectServer") return notFakedCall(c);
        std::wstring server, ns;
        c.args.text(0, server);
        c.args.text(1, ns);
        connect(server, ns, c.reply);
    }
};

}  // namespace

Fake* newLocator() { return make<Locator>(); }

// winmgmts:[{security}[!]][\\server\namespace | namespace][:Class.Key=value]
void openMoniker(const std::wstring& name, Reply& reply) {
    std::wstring rest = name;
    std::size_t colon = rest.find(L':');
    rest = colon == std::wstring::npos ? L"" : rest.substr(colon + 1);
    if (!rest.empty() && rest[0] == L'{') {
        std::size_t close = rest.find(L'}');
        if (close == std::wstring::npos) return reply.fail(wmiError(kInvalidPath, L"Invalid moniker: \"" + name + L"\""));
        rest = rest.substr(close + 1);
        if (!rest.empty() && rest[0] == L'!') rest = rest.substr(1);
    }
    std::wstring server;
    if (rest.size() >= 2 && (rest[0] == L'\\' || rest[0] == L'/') && (rest[1] == L'\\' || rest[1] == L'/')) {
        std::size_t end = rest.find_first_of(L"\\/", 2);
        server = rest.substr(2, end == std::wstring::npos ? std::wstring::npos : end - 2);
        rest = end == std::wstring::npos ? L"" : rest.substr(end + 1);
    }
    std::size_t objectAt = rest.find(L':');
    std::wstring ns = rest.substr(0, objectAt);
    if (objectAt == std::wstring::npos) return connect(server, ns, reply);
    Reply services;
    connect(server, ns, services);
    if (services.failed()) return reply.fail(services.error());
    getObject(ns.empty() ? L"root\\cimv2" : ns, rest.substr(objectAt + 1), where().run, reply);
}

}  // namespace fakes
