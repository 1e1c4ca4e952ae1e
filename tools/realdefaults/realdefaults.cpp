// realdefaults: stores the real default values that the IDL compiler marks
// but cannot write.
//
//   realdefaults.exe <in.tlb> <out.tlb> <value>
//
// widl accepts defaultvalue(-1) on a double parameter and flags the parameter
// as optional with a default, but writes no value ("can't write value of type
// 5"), and the platform's ICreateTypeLib2 cannot write a real default either.
// Without a value the platform's type information cannot even describe such a
// method, let alone apply the default. This program copies widl's library and
// gives every double parameter flagged that way the real <value>, stored the
// way the library format keeps 8-byte values: a VT_R8 entry in the
// custom-data segment that the parameter's default slot points to. It then
// loads the result with the platform's own reader and checks each such
// parameter; any mismatch fails the build.
#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// The parts of the library file this program reads and changes. Every file
// offset below is relative to the start of the file unless named relative.
constexpr uint32_t kMagic = 0x5446534D;             // "MSFT"
constexpr std::size_t kHeaderSize = 0x54;
constexpr std::size_t kTypeInfoCountAt = 0x20;
constexpr std::size_t kFlagsAt = 0x14;
constexpr uint32_t kHelpDllFlag = 0x100;             // one more header word
constexpr std::size_t kSegments = 15;
constexpr std::size_t kSegmentSize = 16;             // offset, length, two reserved words
constexpr std::size_t kTypeInfoSegment = 0;
constexpr std::size_t kCustomDataSegment = 11;
constexpr std::size_t kTypeInfoEntrySize = 0x64;
constexpr std::size_t kMembersAt = 0x04;             // in a type-info entry: file offset of its members
constexpr std::size_t kElementCountAt = 0x18;        // low word: functions
constexpr std::size_t kFunctionFlagsAt = 16;         // in a function record
constexpr std::size_t kArgumentCountAt = 20;
constexpr uint32_t kHasDefaults = 0x1000;            // the record carries one default slot per parameter
constexpr std::size_t kParameterSize = 12;           // type, name, flags
constexpr int32_t kNoValue = -1;
constexpr uint32_t kDoubleType = 0x80000000u | (VT_R8 << 16) | VT_R8;

// at() of a word's last byte: a library cut short throws instead of being
// read past its end.
uint32_t read32(const std::vector<uint8_t>& f, std::size_t at) {
    uint32_t v;
    std::memcpy(&v, &f.at(at + 3) - 3, 4);
    return v;
}
uint16_t read16(const std::vector<uint8_t>& f, std::size_t at) {
    uint16_t v;
    std::memcpy(&v, &f.at(at + 1) - 1, 2);
    return v;
}
void write32(std::vector<uint8_t>& f, std::size_t at, uint32_t v) { std::memcpy(&f.at(at + 3) - 3, &v, 4); }

struct Failure {
    std::string what;
};

// Where the segment directory starts: after the header, its optional word
// and one offset per type info.
std::size_t segmentDirectory(const std::vector<uint8_t>& f, std::size_t typeInfos) {
    return kHeaderSize + ((read32(f, kFlagsAt) & kHelpDllFlag) ? 4 : 0) + 4 * typeInfos;
}

// The slots (file offsets) of double parameters flagged with a default that
// widl could not write, with where the check finds them.
struct Slot {
    std::size_t at;
    unsigned typeInfo;
    MEMBERID member;
    unsigned parameter;
};

std::vector<Slot> unwrittenRealDefaults(const std::vector<uint8_t>& f, std::size_t typeInfos) {
    std::vector<Slot> slots;
    const std::size_t segments = segmentDirectory(f, typeInfos);
    const std::size_t infoSegment = read32(f, segments + kTypeInfoSegment * kSegmentSize);
    for (unsigned t = 0; t < typeInfos; ++t) {
        const std::size_t entry = infoSegment + t * kTypeInfoEntrySize;
        const unsigned functions = read16(f, entry + kElementCountAt);
        const std::size_t members = read32(f, entry + kMembersAt);
        if (!functions) continue;
        // The records, then the member identifiers, one per record.
        const std::size_t identifiers = members + 4 + read32(f, members);
        std::size_t record = members + 4;
        for (unsigned fn = 0; fn < functions; ++fn) {
            const std::size_t length = read16(f, record);
            const unsigned args = read16(f, record + kArgumentCountAt);
            if (read32(f, record + kFunctionFlagsAt) & kHasDefaults) {
                const std::size_t params = record + length - args * kParameterSize;
                const std::size_t defaults = params - args * 4;
                for (unsigned p = 0; p < args; ++p) {
                    const std::size_t param = params + p * kParameterSize;
                    const bool flagged = read32(f, param + 8) & PARAMFLAG_FHASDEFAULT;
                    if (flagged && read32(f, param) == kDoubleType &&
                        static_cast<int32_t>(read32(f, defaults + 4 * p)) == kNoValue)
                        slots.push_back({defaults + 4 * p, t, static_cast<MEMBERID>(read32(f, identifiers + 4 * fn)), p});
                }
            }
            record += length;
        }
    }
    return slots;
}

// Appends one VT_R8 entry to the custom-data segment, moving everything
// after it (later segments and the member blocks of the type infos), and
// points every slot at it.
void storeDefault(std::vector<uint8_t>& f, std::size_t typeInfos, const std::vector<Slot>& slots, double value) {
    const std::size_t segments = segmentDirectory(f, typeInfos);
    const std::size_t custom = segments + kCustomDataSegment * kSegmentSize;
    const uint32_t start = read32(f, custom), length = read32(f, custom + 4);
    if (start == 0xFFFFFFFFu) throw Failure{"the library has no custom-data segment"};

    // Type, value, and padding to keep the segments after it 4-byte aligned.
    uint8_t entry[12] = {};
    const uint16_t type = VT_R8;
    std::memcpy(entry, &type, 2);
    std::memcpy(entry + 2, &value, 8);
    const std::size_t end = start + length;

    if (end > f.size()) throw Failure{"the custom-data segment lies past the end"};

    for (const Slot& s : slots) write32(f, s.at, length);
    f.insert(f.begin() + end, std::begin(entry), std::end(entry));

    write32(f, custom + 4, length + sizeof entry);
    for (std::size_t i = 0; i < kSegments; ++i) {
        const std::size_t at = segments + i * kSegmentSize;
        const uint32_t offset = read32(f, at);
        if (i != kCustomDataSegment && offset != 0xFFFFFFFFu && offset >= end) write32(f, at, offset + sizeof entry);
    }
    const std::size_t infoSegment = read32(f, segments + kTypeInfoSegment * kSegmentSize);
    for (std::size_t t = 0; t < typeInfos; ++t) {
        const std::size_t at = infoSegment + t * kTypeInfoEntrySize + kMembersAt;
        const uint32_t members = read32(f, at);
        if (members >= end) write32(f, at, members + sizeof entry);
    }
}

// Reads the written library back with the platform's reader: every function
// must still be describable, and every slot must carry the value.
void check(const wchar_t* path, const std::vector<Slot>& slots, double value) {
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, &lib);
    if (FAILED(hr)) throw Failure{"the written library does not load: " + std::to_string(hr)};
    std::string problem;
    std::size_t found = 0;
    for (UINT t = 0; t < lib->GetTypeInfoCount() && problem.empty(); ++t) {
        ITypeInfo* info = nullptr;
        if (FAILED(lib->GetTypeInfo(t, &info))) { problem = "type " + std::to_string(t) + " unreadable"; break; }
        TYPEATTR* attr = nullptr;
        info->GetTypeAttr(&attr);
        for (UINT fn = 0; fn < attr->cFuncs && problem.empty(); ++fn) {
            FUNCDESC* desc = nullptr;
            if (FAILED(info->GetFuncDesc(fn, &desc))) { problem = "function " + std::to_string(fn) + " of type " + std::to_string(t) + " unreadable"; break; }
            for (const Slot& s : slots) {
                if (s.typeInfo != t || s.member != desc->memid) continue;
                ++found;
                const PARAMDESC& p = desc->lprgelemdescParam[s.parameter].paramdesc;
                const bool ok = (p.wParamFlags & PARAMFLAG_FHASDEFAULT) && p.pparamdescex &&
                                V_VT(&p.pparamdescex->varDefaultValue) == VT_R8 &&
                                V_R8(&p.pparamdescex->varDefaultValue) == value;
                if (!ok) problem = "parameter " + std::to_string(s.parameter) + " of member " + std::to_string(s.member) + " reads back wrong";
            }
            info->ReleaseFuncDesc(desc);
        }
        info->ReleaseTypeAttr(attr);
        info->Release();
    }
    lib->Release();
    if (problem.empty() && found != slots.size()) problem = "a parameter given a default is missing";
    if (!problem.empty()) throw Failure{problem};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: realdefaults <in.tlb> <out.tlb> <value>\n");
        return 2;
    }
    try {
        std::ifstream in(argv[1], std::ios::binary);
        std::vector<uint8_t> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (f.size() < kHeaderSize || read32(f, 0) != kMagic) throw Failure{"not a type library"};
        const double value = std::wcstod(argv[3], nullptr);
        const std::size_t typeInfos = read32(f, kTypeInfoCountAt);

        std::vector<Slot> slots = unwrittenRealDefaults(f, typeInfos);
        if (!slots.empty()) storeDefault(f, typeInfos, slots, value);

        std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(f.data()), static_cast<std::streamsize>(f.size()));
        out.close();
        if (!out) throw Failure{"cannot write the library"};

        CoInitialize(nullptr);
        check(argv[2], slots, value);
        std::printf("realdefaults: %u real defaults of %g stored\n", static_cast<unsigned>(slots.size()), value);
        return 0;
    } catch (const Failure& e) {
        std::fprintf(stderr, "realdefaults: %ls: %s\n", argv[1], e.what.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "realdefaults: %ls: malformed library (%s)\n", argv[1], e.what());
    }
    DeleteFileW(argv[2]);
    return 1;
}
