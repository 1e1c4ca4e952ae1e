#include "engine_gaps.h"

namespace {

// What a missing built-in answers. The runner's error line shows it for the
// probe's job; SetLocale is not even a name to the engine.
constexpr const char* kNoAction = "Object doesn't support this action";
constexpr const char* kNoMember = "Object doesn't support this property or method";
constexpr const char* kMissing = "missing from the platform's engine: calling it fails with \"Object doesn't support this action\"";

#define MISSING(name, use) \
    {EngineGap::MissingBuiltin, L## #name, kMissing, L"Sub main()\r\n  Dim x\r\n  " use L"\r\nEnd Sub\r\n", kNoAction}

const std::vector<EngineGap> kGaps = {
    MISSING(AscB, L"x = AscB(\"a\")"),
    MISSING(AscW, L"x = AscW(\"a\")"),
    MISSING(ChrB, L"x = ChrB(65)"),
    MISSING(ChrW, L"x = ChrW(65)"),
    MISSING(DateDiff, L"x = DateDiff(\"d\", Now, Now)"),
    MISSING(DatePart, L"x = DatePart(\"d\", Now)"),
    MISSING(DateValue, L"x = DateValue(\"2020-01-01\")"),
    MISSING(Escape, L"x = Escape(\"a b\")"),
    MISSING(Eval, L"x = Eval(\"1 + 1\")"),
    MISSING(Execute, L"Execute \"x = 1\""),
    MISSING(ExecuteGlobal, L"ExecuteGlobal \"Dim y\""),
    MISSING(Filter, L"x = Filter(Array(\"a\", \"b\"), \"a\")"),
    MISSING(GetRef, L"Set x = GetRef(\"main\")"),
    MISSING(InStrB, L"x = InStrB(1, \"ab\", \"b\")"),
    MISSING(Join, L"x = Join(Array(\"a\", \"b\"), \",\")"),
    MISSING(LeftB, L"x = LeftB(\"ab\", 1)"),
    MISSING(LenB, L"x = LenB(\"ab\")"),
    MISSING(MidB, L"x = MidB(\"ab\", 1)"),
    MISSING(RightB, L"x = RightB(\"ab\", 1)"),
    MISSING(TimeValue, L"x = TimeValue(\"10:00\")"),
    MISSING(Unescape, L"x = Unescape(\"a%20b\")"),
    {EngineGap::MissingBuiltin, L"SetLocale",
     "missing from the platform's engine: calling it fails with \"Object doesn't support this property or method\"",
     L"Sub main()\r\n  SetLocale 1033\r\nEnd Sub\r\n", kNoMember},
    {EngineGap::ReDimOfEmptyDim, L"ReDim after Dim a()",
     "ReDim of an array declared with empty parentheses crashes the platform's engine and ends the jobs' process "
     "(ReDim Preserve, or Dim a then ReDim a(n), works)",
     L"Sub main()\r\n  Dim a()\r\n  ReDim a(2)\r\nEnd Sub\r\n", nullptr},
    {EngineGap::ReDimUndeclared, L"ReDim of an undeclared name",
     "ReDim of a name not declared with Dim fails on the platform's engine with \"Call failed.\"",
     L"Sub main()\r\n  ReDim b(2)\r\nEnd Sub\r\n", "Call failed."},
    {EngineGap::LongProcedure, L"long procedure",
     "the platform's engine refuses a procedure of about 9,990 lines of statements with \"Syntax error\"",
     L"Sub main()\r\n  Dim x\r\n@End Sub\r\n", "Syntax error", L"  x = 1\r\n", 9990},
    {EngineGap::BareCrLines, L"CR line ends",
     "the platform's engine does not count a line that ends in a CR alone, so the lines of its errors are off",
     L"Sub main()\r  Dim x\r  x = 1 / 0\rEnd Sub\r", "at line 1:"},
    // A procedure is a level of its own: in global code one If more compiles.
    {EngineGap::DeepNesting, L"If",
     "the platform's engine refuses If blocks nested 2,497 deep in a procedure (2,498 in global code) with \"Syntax error\"",
     L"Sub main()\r\n  Dim x\r\n@~End Sub\r\n", "Syntax error", L"If x Then\r\n", 2497, L"End If\r\n"},
    {EngineGap::DeepNesting, L"With",
     "the platform's engine refuses With blocks nested 3,330 deep in a procedure (3,331 in global code) with \"Syntax error\"",
     L"Sub main()\r\n  Dim x\r\n@~End Sub\r\n", "Syntax error", L"With x\r\n", 3330, L"End With\r\n"},
    {EngineGap::RunTimeOnly, L"Err after a division by zero",
     "under On Error Resume Next a division by zero leaves Err.Number -2147352558 (DISP_E_DIVBYZERO) and no "
     "Err.Description, where 11 and \"Division by zero\" are documented",
     L"Sub main()\r\n  On Error Resume Next\r\n  Dim x\r\n  x = 1 / 0\r\n"
     L"  CVEXT.ZTrace CStr(Err.Number) & \"|\" & Err.Description\r\nEnd Sub\r\n",
     "ZTrace(\"-2147352558|\")"},
    {EngineGap::Undeclared, L"undeclared variable",
     "under Option Explicit an undeclared variable fails with \"Call failed.\", not \"Variable is undefined\"",
     L"Option Explicit\r\nSub main()\r\n  undeclared = 1\r\nEnd Sub\r\n", "Call failed."},
    {EngineGap::RunTimeOnly, L"undefined procedure",
     "a call of a procedure that does not exist fails with \"Object doesn't support this property or method\", "
     "not \"Type mismatch\"",
     L"Sub main()\r\n  NoSuchProcedure 1\r\nEnd Sub\r\n", kNoMember},
};

#undef MISSING

}  // namespace

const std::vector<EngineGap>& engineGaps() { return kGaps; }

std::wstring probeText(const EngineGap& gap) {
    std::wstring text = gap.probe;
    auto expand = [&](wchar_t marker, const wchar_t* piece) {
        std::size_t at = text.find(marker);
        if (at == std::wstring::npos || !piece) return;
        std::wstring body;
        for (unsigned i = 0; i < gap.limit; ++i) body += piece;
        text.replace(at, 1, body);
    };
    expand(L'@', gap.repeated);
    expand(L'~', gap.closing);
    return text;
}
