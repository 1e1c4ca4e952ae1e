#include "regapply.h"

#include <array>
#include <iterator>

namespace {

class KeyHandle {
public:
    KeyHandle() = default;
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;
    ~KeyHandle() { reset(); }

    HKEY get() const { return key_; }
    HKEY* put()
    {
        reset();
        return &key_;
    }
    void reset()
    {
        if (key_)
            RegCloseKey(key_);
        key_ = nullptr;
    }

private:
    HKEY key_ = nullptr;
};

// Keys that other software shares with us. A script may name them to reach
// its own keys below, but never takes them away with everything under them.
constexpr std::array<std::u16string_view, 12> kProtectedKeys{
    u"AppID",    u"CLSID",    u"Component Categories", u"FileType", u"Interface", u"Hardware",
    u"Mime",     u"SAM",      u"SECURITY",             u"SYSTEM",   u"Software",  u"TypeLib",
};

// The registry allows 512 levels; deeper means something is wrong.
constexpr int kMaxTreeDepth = 512;

constexpr REGSAM kKeyAccess = KEY_READ | KEY_WRITE;

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

bool IsProtected(std::u16string_view name)
{
    auto upper = [](char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - u'a' + u'A') : c; };
    for (std::u16string_view candidate : kProtectedKeys) {
        if (candidate.size() != name.size())
            continue;
        bool same = true;
        for (std::size_t i = 0; same && i < name.size(); ++i)
            same = upper(candidate[i]) == upper(name[i]);
        if (same)
            return true;
    }
    return false;
}

HKEY RootHandle(RegRootKey root)
{
    switch (root) {
    case RegRootKey::ClassesRoot: return HKEY_CLASSES_ROOT;
    case RegRootKey::CurrentUser: return HKEY_CURRENT_USER;
    case RegRootKey::LocalMachine: return HKEY_LOCAL_MACHINE;
    case RegRootKey::Users: return HKEY_USERS;
    case RegRootKey::PerformanceData: return HKEY_PERFORMANCE_DATA;
    case RegRootKey::DynData: return HKEY_DYN_DATA;
    case RegRootKey::CurrentConfig: return HKEY_CURRENT_CONFIG;
    }
    return nullptr;
}

LONG IgnoreMissing(LONG error) { return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error; }

LONG SetValue(HKEY key, const wchar_t* name, const RegValue& value)
{
    auto setText = [&](DWORD type) {
        // The stored data carries the terminating NUL (for m, the final one).
        DWORD bytes = DWORD((value.text.size() + 1) * sizeof(char16_t));
        return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(value.text.c_str()), bytes);
    };
    switch (value.type) {
    case RegValueType::String: return setText(REG_SZ);
    case RegValueType::MultiString: return setText(REG_MULTI_SZ);
    case RegValueType::Number:
        return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value.number),
                              sizeof value.number);
    case RegValueType::Binary:
        return RegSetValueExW(key, name, 0, REG_BINARY, value.bytes.data(), DWORD(value.bytes.size()));
    }
    return ERROR_INVALID_DATA;
}

// Deletes a key with everything below it; a missing key is no error.
LONG DeleteTree(HKEY parent, const wchar_t* name, int depth)
{
    if (depth > kMaxTreeDepth)
        return ERROR_BADKEY;
    KeyHandle key;
    LONG error = RegOpenKeyExW(parent, name, 0, kKeyAccess, key.put());
    if (error != ERROR_SUCCESS)
        return IgnoreMissing(error);
    for (;;) {
        DWORD subkeys = 0;
        error = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr);
        if (error != ERROR_SUCCESS)
            return error;
        if (subkeys == 0)
            break;
        // Key names are at most 255 characters; writing the registry takes no
        // heap, so a half-written block can always be rolled back.
        wchar_t child[256];
        DWORD length = DWORD(std::size(child));
        error = RegEnumKeyExW(key.get(), 0, child, &length, nullptr, nullptr, nullptr, nullptr);
        if (error == ERROR_NO_MORE_ITEMS)
            break;
        if (error != ERROR_SUCCESS)
            return error;
        if ((error = DeleteTree(key.get(), child, depth + 1)) != ERROR_SUCCESS)
            return error;
    }
    key.reset();
    return IgnoreMissing(RegDeleteKeyW(parent, name));
}

// Deletes a key only when no subkey is left below it (its values go with it).
LONG DeleteIfNoSubkeys(HKEY parent, const wchar_t* name)
{
    KeyHandle key;
    LONG error = RegOpenKeyExW(parent, name, 0, KEY_QUERY_VALUE, key.put());
    if (error != ERROR_SUCCESS)
        return IgnoreMissing(error);
    DWORD subkeys = 0;
    error = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr);
    if (error != ERROR_SUCCESS || subkeys != 0)
        return error;
    key.reset();
    return IgnoreMissing(RegDeleteKeyW(parent, name));
}

// wholeTree: the script owns everything below the key (it is ForceRemove or
// Delete, or the script lists no subkeys of it).
LONG RemoveKey(HKEY parent, const RegKey& key, bool wholeTree)
{
    if (wholeTree && !IsProtected(key.name))
        return DeleteTree(parent, Wide(key.name), 0);
    return DeleteIfNoSubkeys(parent, Wide(key.name));
}

LONG RegisterKey(HKEY parent, const RegKey& key)
{
    if (key.modifier == RegModifier::Delete)
        return RemoveKey(parent, key, true);
    if (key.modifier == RegModifier::ForceRemove) {
        if (LONG error = RemoveKey(parent, key, true); error != ERROR_SUCCESS)
            return error;
    }
    KeyHandle handle;
    LONG error = RegCreateKeyExW(parent, Wide(key.name), 0, nullptr, REG_OPTION_NON_VOLATILE, kKeyAccess, nullptr,
                                 handle.put(), nullptr);
    if (error != ERROR_SUCCESS)
        return error;
    if (key.defaultValue && (error = SetValue(handle.get(), nullptr, *key.defaultValue)) != ERROR_SUCCESS)
        return error;
    for (const RegNamedValue& value : key.values)
        if ((error = SetValue(handle.get(), Wide(value.name), value.value)) != ERROR_SUCCESS)
            return error;
    for (const RegKey& subkey : key.subkeys)
        if ((error = RegisterKey(handle.get(), subkey)) != ERROR_SUCCESS)
            return error;
    return ERROR_SUCCESS;
}

// Removes as much as it can, deepest first, and reports the first failure:
// it also serves to roll back a half-written block.
LONG UnregisterKey(HKEY parent, const RegKey& key)
{
    KeyHandle handle;
    LONG error = RegOpenKeyExW(parent, Wide(key.name), 0, kKeyAccess, handle.put());
    if (error != ERROR_SUCCESS)
        return IgnoreMissing(error);
    LONG first = ERROR_SUCCESS;
    auto note = [&first](LONG result) {
        if (first == ERROR_SUCCESS)
            first = result;
    };
    for (const RegKey& subkey : key.subkeys)
        note(UnregisterKey(handle.get(), subkey));
    for (const RegNamedValue& value : key.values)
        note(IgnoreMissing(RegDeleteValueW(handle.get(), Wide(value.name))));
    handle.reset();
    if (key.modifier != RegModifier::NoRemove) {
        bool wholeTree = key.modifier != RegModifier::None || key.subkeys.empty();
        note(RemoveKey(parent, key, wholeTree));
    }
    return first;
}

HRESULT RegisterBlock(HKEY root, const RegRootBlock& block)
{
    for (const RegKey& key : block.keys)
        if (LONG error = RegisterKey(root, key); error != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(error);
    return S_OK;
}

HRESULT UnregisterBlock(HKEY root, const RegRootBlock& block)
{
    LONG first = ERROR_SUCCESS;
    for (const RegKey& key : block.keys) {
        LONG error = UnregisterKey(root, key);
        if (first == ERROR_SUCCESS)
            first = error;
    }
    return HRESULT_FROM_WIN32(first);
}

}  // namespace

HRESULT ApplyRegScript(const RegScript& script, RegApplyMode mode, HKEY baseKey)
{
    // Unregistering goes on past a failure, so one stuck key does not leave
    // the rest of the registration behind.
    HRESULT first = S_OK;
    for (const RegRootBlock& block : script.roots) {
        HKEY root = baseKey ? baseKey : RootHandle(block.root);
        if (mode == RegApplyMode::Unregister) {
            if (HRESULT hr = UnregisterBlock(root, block); SUCCEEDED(first))
                first = hr;
            continue;
        }
        if (HRESULT hr = RegisterBlock(root, block); FAILED(hr)) {
            UnregisterBlock(root, block);
            return hr;
        }
    }
    return first;
}

HRESULT RunRegScript(std::u16string_view text, const RegReplacements& replacements, RegApplyMode mode, HKEY baseKey,
                     RegScriptStatus* status)
{
    RegScript script;
    RegScriptStatus parsed = ProcessRegScript(text, replacements, script);
    if (status)
        *status = parsed;
    if (!parsed.ok())
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    return ApplyRegScript(script, mode, baseKey);
}
