#include "errortext.h"

#include <cwchar>
#include <string>

#include "memory.h"

namespace {

enum class Kind { Runtime, Compilation };

constexpr const wchar_t* kSourceOf[] = {
    L"Microsoft VBScript runtime error",
    L"Microsoft VBScript compilation error",
};

struct EngineError {
    unsigned number;
    Kind kind;
    const wchar_t* text;
};

// The engine's error numbers and their documented texts.
constexpr EngineError kEngineErrors[] = {
    {5, Kind::Runtime, L"Invalid procedure call or argument"},
    {6, Kind::Runtime, L"Overflow"},
    {7, Kind::Runtime, L"Out of memory"},
    {9, Kind::Runtime, L"Subscript out of range"},
    {10, Kind::Runtime, L"This array is fixed or temporarily locked"},
    {11, Kind::Runtime, L"Division by zero"},
    {13, Kind::Runtime, L"Type mismatch"},
    {14, Kind::Runtime, L"Out of string space"},
    {17, Kind::Runtime, L"Can't perform requested operation"},
    {28, Kind::Runtime, L"Out of stack space"},
    {35, Kind::Runtime, L"Sub or Function not defined"},
    {48, Kind::Runtime, L"Error in loading DLL"},
    {51, Kind::Runtime, L"Internal error"},
    {52, Kind::Runtime, L"Bad file name or number"},
    {53, Kind::Runtime, L"File not found"},
    {54, Kind::Runtime, L"Bad file mode"},
    {55, Kind::Runtime, L"File already open"},
    {57, Kind::Runtime, L"Device I/O error"},
    {58, Kind::Runtime, L"File already exists"},
    {61, Kind::Runtime, L"Disk full"},
    {62, Kind::Runtime, L"Input past end of file"},
    {67, Kind::Runtime, L"Too many files"},
    {68, Kind::Runtime, L"Device unavailable"},
    {70, Kind::Runtime, L"Permission denied"},
    {71, Kind::Runtime, L"Disk not ready"},
    {74, Kind::Runtime, L"Can't rename with different drive"},
    {75, Kind::Runtime, L"Path/File access error"},
    {76, Kind::Runtime, L"Path not found"},
    {91, Kind::Runtime, L"Object variable not set"},
    {92, Kind::Runtime, L"For loop not initialized"},
    {94, Kind::Runtime, L"Invalid use of Null"},
    {322, Kind::Runtime, L"Can't create necessary temporary file"},
    {424, Kind::Runtime, L"Object required"},
    {429, Kind::Runtime, L"ActiveX component can't create object"},
    {430, Kind::Runtime, L"Class doesn't support Automation"},
    {432, Kind::Runtime, L"File name or class name not found during Automation operation"},
    {438, Kind::Runtime, L"Object doesn't support this property or method"},
    {440, Kind::Runtime, L"Automation error"},
    {445, Kind::Runtime, L"Object doesn't support this action"},
    {446, Kind::Runtime, L"Object doesn't support named arguments"},
    {447, Kind::Runtime, L"Object doesn't support current locale setting"},
    {448, Kind::Runtime, L"Named argument not found"},
    {449, Kind::Runtime, L"Argument not optional"},
    {450, Kind::Runtime, L"Wrong number of arguments or invalid property assignment"},
    {451, Kind::Runtime, L"Object not a collection"},
    {453, Kind::Runtime, L"Specified DLL function not found"},
    {455, Kind::Runtime, L"Code resource lock error"},
    {457, Kind::Runtime, L"This key is already associated with an element of this collection"},
    {458, Kind::Runtime, L"Variable uses an Automation type not supported in VBScript"},
    {462, Kind::Runtime, L"The remote server machine does not exist or is unavailable"},
    {481, Kind::Runtime, L"Invalid picture"},
    {500, Kind::Runtime, L"Variable is undefined"},
    {501, Kind::Runtime, L"Illegal assignment"},
    {502, Kind::Runtime, L"Object not safe for scripting"},
    {503, Kind::Runtime, L"Object not safe for initializing"},
    {504, Kind::Runtime, L"Object not safe for creating"},
    {505, Kind::Runtime, L"Invalid or unqualified reference"},
    {506, Kind::Runtime, L"Class not defined"},
    {507, Kind::Runtime, L"An exception occurred"},
    {1001, Kind::Compilation, L"Out of memory"},
    {1002, Kind::Compilation, L"Syntax error"},
    {1003, Kind::Compilation, L"Expected ':'"},
    {1005, Kind::Compilation, L"Expected '('"},
    {1006, Kind::Compilation, L"Expected ')'"},
    {1007, Kind::Compilation, L"Expected ']'"},
    {1010, Kind::Compilation, L"Expected identifier"},
    {1011, Kind::Compilation, L"Expected '='"},
    {1012, Kind::Compilation, L"Expected 'If'"},
    {1013, Kind::Compilation, L"Expected 'To'"},
    {1014, Kind::Compilation, L"Expected 'End'"},
    {1015, Kind::Compilation, L"Expected 'Function'"},
    {1016, Kind::Compilation, L"Expected 'Sub'"},
    {1017, Kind::Compilation, L"Expected 'Then'"},
    {1018, Kind::Compilation, L"Expected 'Wend'"},
    {1019, Kind::Compilation, L"Expected 'Loop'"},
    {1020, Kind::Compilation, L"Expected 'Next'"},
    {1021, Kind::Compilation, L"Expected 'Case'"},
    {1022, Kind::Compilation, L"Expected 'Select'"},
    {1023, Kind::Compilation, L"Expected expression"},
    {1024, Kind::Compilation, L"Expected statement"},
    {1025, Kind::Compilation, L"Expected end of statement"},
    {1026, Kind::Compilation, L"Expected integer constant"},
    {1027, Kind::Compilation, L"Expected 'While' or 'Until'"},
    {1028, Kind::Compilation, L"Expected 'While', 'Until' or end of statement"},
    {1029, Kind::Compilation, L"Expected 'With'"},
    {1030, Kind::Compilation, L"Identifier too long"},
    {1031, Kind::Compilation, L"Invalid number"},
    {1032, Kind::Compilation, L"Invalid character"},
    {1033, Kind::Compilation, L"Unterminated string constant"},
    {1034, Kind::Compilation, L"Unterminated comment"},
    {1037, Kind::Compilation, L"Invalid use of 'Me' keyword"},
    {1038, Kind::Compilation, L"'loop' without 'do'"},
    {1039, Kind::Compilation, L"Invalid 'exit' statement"},
    {1040, Kind::Compilation, L"Invalid 'for' loop control variable"},
    {1041, Kind::Compilation, L"Name redefined"},
    {1042, Kind::Compilation, L"Must be first statement on the line"},
    {1043, Kind::Compilation, L"Cannot assign to non-ByVal argument"},
    {1044, Kind::Compilation, L"Cannot use parentheses when calling a Sub"},
    {1045, Kind::Compilation, L"Expected literal constant"},
    {1046, Kind::Compilation, L"Expected 'In'"},
    {1047, Kind::Compilation, L"Expected 'Class'"},
    {1048, Kind::Compilation, L"Must be defined inside a Class"},
    {1049, Kind::Compilation, L"Expected Let or Set or Get in property declaration"},
    {1050, Kind::Compilation, L"Expected 'Property'"},
    {1051, Kind::Compilation, L"Number of arguments must be consistent across a property's Get, Let and Set"},
    {1052, Kind::Compilation, L"Cannot have multiple default property/method in a Class"},
    {1053, Kind::Compilation, L"Class initialize or terminate do not have arguments"},
    {1054, Kind::Compilation, L"Property Set or Let must have at least one argument"},
    {1055, Kind::Compilation, L"Unexpected 'Next'"},
    {1056, Kind::Compilation, L"'Default' can be specified only on 'Property' or 'Function' or 'Sub'"},
    {1057, Kind::Compilation, L"'Default' must come with 'Public'"},
    {1058, Kind::Compilation, L"'Default' can only be on Property Get"},
    {5016, Kind::Runtime, L"Regular Expression object expected"},
    {5017, Kind::Runtime, L"Syntax error in regular expression"},
    {5018, Kind::Runtime, L"Unexpected quantifier"},
    {5019, Kind::Runtime, L"Expected ']' in regular expression"},
    {5020, Kind::Runtime, L"Expected ')' in regular expression"},
    {5021, Kind::Runtime, L"Invalid range in character set"},
    {32811, Kind::Runtime, L"Element not found"},
    {32812, Kind::Runtime, L"The specified date is not available in the current locale's calendar"},
};

// Platform results that the engine passes on unchanged from an object or an
// operation, and the engine error each stands for.
struct Translation {
    HRESULT hr;
    unsigned number;
};
constexpr Translation kEngineNumberOf[] = {
    {E_INVALIDARG, 5},
    {DISP_E_OVERFLOW, 6},
    {E_OUTOFMEMORY, 7},
    {DISP_E_BADINDEX, 9},
    {TYPE_E_OUTOFBOUNDS, 9},
    {DISP_E_ARRAYISLOCKED, 10},
    {DISP_E_DIVBYZERO, 11},
    {DISP_E_TYPEMISMATCH, 13},
    {TYPE_E_TYPEMISMATCH, 13},
    {E_ACCESSDENIED, 70},
    {REGDB_E_CLASSNOTREG, 429},
    {CO_E_CLASSSTRING, 429},
    {E_NOINTERFACE, 430},
    {DISP_E_UNKNOWNNAME, 438},
    {DISP_E_MEMBERNOTFOUND, 438},
    {DISP_E_UNKNOWNINTERFACE, 438},
    {E_NOTIMPL, 445},
    {DISP_E_NONAMEDARGS, 446},
    {DISP_E_UNKNOWNLCID, 447},
    {DISP_E_PARAMNOTFOUND, 448},
    {DISP_E_PARAMNOTOPTIONAL, 449},
    {DISP_E_BADPARAMCOUNT, 450},
    {DISP_E_NOTACOLLECTION, 451},
    {DISP_E_BADVARTYPE, 458},
};

// A syntax error that the engine reports without a number of its own.
constexpr unsigned kSyntaxError = 1002;

const EngineError* engineError(unsigned number) {
    for (const EngineError& e : kEngineErrors)
        if (e.number == number) return &e;
    return nullptr;
}

// The engine's own error number behind a report, or 0: the VB-style code of
// an object's exception, the engine's facility, or a platform result it
// stands for.
unsigned engineNumber(WORD wCode, SCODE scode) {
    if (wCode) return wCode;
    if (HRESULT_FACILITY(scode) == FACILITY_CONTROL && FAILED(scode)) return HRESULT_CODE(scode);
    for (const Translation& t : kEngineNumberOf)
        if (t.hr == scode) return t.number;
    return 0;
}

std::wstring systemMessage(SCODE scode) {
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, static_cast<DWORD>(scode), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message(text && n ? text : L"");
    LocalFree(text);      // FormatMessage's own allocation
    while (!message.empty() && std::wcschr(L"\r\n \t", message.back())) message.pop_back();
    return message;
}

std::wstring numberText(unsigned number, SCODE scode) {
    wchar_t text[32];
    if (number) std::swprintf(text, 32, L"Error %u", number);
    else std::swprintf(text, 32, L"Error 0x%08lX", static_cast<unsigned long>(scode));
    return text;
}

bool isEmpty(const Bstr& text) { return !text || !text.get()[0]; }

}  // namespace

void completeErrorText(WORD wCode, SCODE scode, Bstr& source, Bstr& description) {
    if (!isEmpty(source) && !isEmpty(description)) return;
    const unsigned number = engineNumber(wCode, scode);
    const EngineError* known = engineError(number);
    // The engine names the kind where it gives a source at all.
    Kind kind = known ? known->kind : Kind::Runtime;
    if (!isEmpty(source) && !std::wcscmp(source.get(), kSourceOf[static_cast<int>(Kind::Compilation)]))
        kind = Kind::Compilation;

    if (isEmpty(source)) source.reset(memory::allocBstr(kSourceOf[static_cast<int>(kind)]));
    if (!isEmpty(description)) return;
    std::wstring text;
    if (known) text = known->text;
    // Every compilation error is a syntax error of some kind; an engine that
    // reports one without its number gets the general text.
    else if (kind == Kind::Compilation && !number) text = engineError(kSyntaxError)->text;
    else if (!number) text = systemMessage(scode);
    if (text.empty()) text = numberText(number, scode);
    description.reset(memory::allocBstr(text.c_str()));
}
