// varnel as a file: its export table holds the names of extension/exports/
// export_list.h and nothing else, each (on Windows) under its ordinal there.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "standin/exports.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <elf.h>
#endif

namespace {

struct ListedExport {
    const char* name;
    unsigned ordinal;
};

const ListedExport kListed[] = {
#define EXPORTDEF(name, ordinal, ...) {#name, ordinal},
#include "extension/exports/export_list.h"
#undef EXPORTDEF
};

std::vector<std::string> listed_names() {
    std::vector<std::string> names;
    for (const ListedExport& e : kListed) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    return names;
}

#if defined(_WIN32)

TEST(VarnelImage, ExportsTheListedNamesUndecoratedUnderTheirOrdinals) {
    auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleA("varnel.dll"));
    ASSERT_NE(base, nullptr);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    const auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto* exp = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    const DWORD count = sizeof kListed / sizeof kListed[0];
    EXPECT_EQ(exp->Base, 1u);
    EXPECT_EQ(exp->NumberOfFunctions, count);
    ASSERT_EQ(exp->NumberOfNames, count);
    auto* names = reinterpret_cast<const DWORD*>(base + exp->AddressOfNames);
    auto* ordinals = reinterpret_cast<const WORD*>(base + exp->AddressOfNameOrdinals);
    std::vector<std::string> found;
    for (DWORD i = 0; i < count; ++i) {
        std::string name = reinterpret_cast<const char*>(base + names[i]);
        found.push_back(name);
        auto listed = std::find_if(std::begin(kListed), std::end(kListed),
                                   [&](const ListedExport& e) { return name == e.name; });
        ASSERT_NE(listed, std::end(kListed)) << name;
        EXPECT_EQ(ordinals[i] + exp->Base, listed->ordinal) << name;
    }
    EXPECT_EQ(found, listed_names());
    HMODULE module = reinterpret_cast<HMODULE>(const_cast<unsigned char*>(base));
    for (const ListedExport& e : kListed) {
        FARPROC by_name = GetProcAddress(module, e.name);
        EXPECT_NE(by_name, nullptr) << e.name;
        EXPECT_EQ(by_name, GetProcAddress(module, MAKEINTRESOURCEA(e.ordinal))) << e.name;
    }
}

#else

// The names varnel.so defines in its dynamic symbol table, sorted.
std::vector<std::string> defined_dynamic_symbols() {
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(&varnel_export_state), &info);
    std::ifstream in(info.dli_fname, std::ios::binary);
    std::vector<unsigned char> f{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<std::string> names;
    if (f.size() < sizeof(Elf32_Ehdr)) return names;
    auto* eh = reinterpret_cast<const Elf32_Ehdr*>(f.data());
    auto* sh = reinterpret_cast<const Elf32_Shdr*>(f.data() + eh->e_shoff);
    for (int i = 0; i < eh->e_shnum; ++i) {
        if (sh[i].sh_type != SHT_DYNSYM) continue;
        auto* syms = reinterpret_cast<const Elf32_Sym*>(f.data() + sh[i].sh_offset);
        const char* strings = reinterpret_cast<const char*>(f.data() + sh[sh[i].sh_link].sh_offset);
        for (size_t k = 0; k < sh[i].sh_size / sizeof(Elf32_Sym); ++k) {
            int bind = ELF32_ST_BIND(syms[k].st_info);
            if (syms[k].st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK)) continue;
            names.push_back(strings + syms[k].st_name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(VarnelImage, DefinesTheListedNamesAndNothingElse) {
    EXPECT_EQ(defined_dynamic_symbols(), listed_names());
}

#endif

}  // namespace
