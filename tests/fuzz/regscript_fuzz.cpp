// Coverage-guided fuzzing of the registry-script processor: any text, with
// the replacements DllRegisterServer gives, must yield a tree or an error,
// never a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <string>

#include "regscript.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The bytes as UTF-16 code units, the way the script reaches the parser.
    std::u16string text(size / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    const RegReplacements replacements = {
        {u"APPID", u""},
        {u"Module", u"C:\\Program Files\\it''s\\zTolvera.dll"},
        {u"Module_Raw", u"C:\\Program Files\\it''s\\zTolvera.dll"},
    };
    RegScript script;
    ProcessRegScript(text, replacements, script);
    return 0;
}
