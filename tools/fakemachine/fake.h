// What every fake object shares: IDispatch over the member table, argument
// reading, the answer or script error of a call, and its journal line.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "machine.h"
#include "owners.h"

namespace fakes {

// The machine and the workbench's callbacks, as activation set them.
const Machine& machine();
struct Where {
    unsigned long job = 0;
    unsigned run = 0;
};
Where where();
void journalLine(const std::string& json);

// An error as the script sees it: Err.Number, Err.Description, Err.Source.
struct ScriptError {
    HRESULT scode;
    std::wstring description;
    std::wstring source;
};
// "OBJECT.MEMBER is not faked".
ScriptError notFaked(const std::string& object, const std::string& member);
// The script runtime's own errors the file system objects raise (53 "File not found", ...).
ScriptError runtimeError(int number, const wchar_t* description);

// A call's arguments in the script's order, references read through.
class Args {
public:
    explicit Args(const DISPPARAMS* params);
    std::size_t count() const { return values_.size(); }
    // Present: given, and not left out between commas.
    bool given(std::size_t i) const;
    bool text(std::size_t i, std::wstring& out) const;
    bool integer(std::size_t i, long& out) const;
    bool boolean(std::size_t i, bool& out) const;
    Json journal() const;

private:
    // The platform's conversions take their source without const.
    VARIANT* source(std::size_t i) const { return const_cast<Variant*>(&values_[i]); }
    std::deque<Variant> values_;
};

// What a call gives the script: a value (with its journal form) or an error.
class Reply {
public:
    void text(const std::wstring& value);
    void number(double value);   // VT_I4 when it fits, else VT_R8
    void boolean(bool value);
    void date(double value);
    void nothing();              // a call that gives no value
    void value(const Json& machineValue);
    // Takes over a new reference; the journal shows the object's name.
    void object(IUnknown* object, const char* name);
    void fail(ScriptError error) { error_ = std::move(error); }

    bool failed() const { return error_.has_value(); }
    const ScriptError& error() const { return *error_; }
    const Json& answer() const { return answer_; }
    Variant& result() { return result_; }

private:
    Variant result_;
    Json answer_;
    std::optional<ScriptError> error_;
};

// The call as a member sees it.
struct Call {
    std::string member;   // the table's spelling, or the script's for a name not in it
    Where at;
    Args& args;
    Reply& reply;
};

// The reference count of every object of this DLL, on the COM interface
// `Base` it derives from: made with one reference, deleted with the last.
template <class Base>
class Counted : public Base {
public:
    Counted() = default;
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;
    virtual ~Counted() = default;

    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return ULONG(left);
    }

private:
    LONG refs_ = 1;
};

class Fake : public Counted<IDispatch> {
public:
    explicit Fake(const char* object) : object_(object) {}
    ~Fake() override;

    // IUnknown (AddRef and Release: Counted)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excep, UINT* argErr) override;

    const char* objectName() const { return object_; }

protected:
    // Answers one call; a member it does not know fails as not faked.
    virtual void answer(Call& call) = 0;
    void notFakedCall(Call& call) { call.reply.fail(notFaked(object_, call.member)); }

private:
    const char* object_;
    IUnknown* marshaler_ = nullptr;   // the free-threaded marshaler, made on first use
};

// A new fake of type T with one reference, or null when memory ran out.
template <class T, class... A>
T* make(A&&... args) {
    try {
        return new T(std::forward<A>(args)...);
    } catch (...) {
        return nullptr;
    }
}

// Writes the journal line of one call: {"job","fake","args","answer"|"error"}.
void journalCall(const char* object, const std::string& member, const Where& at, const Json& args, const Reply& reply);

// Hands `object` to the reply (which takes the reference), or fails it for lack of memory.
void give(Reply& reply, Fake* object);

// The enumerator For Each walks: the items made when it was asked for.
IEnumVARIANT* makeEnumerator(std::vector<ComPtr<IDispatch>> items);
void giveEnumerator(Reply& reply, std::vector<ComPtr<IDispatch>> items);

// Member texts compared as VBScript compares names.
bool sameName(const std::string& a, const char* b);

}  // namespace fakes
