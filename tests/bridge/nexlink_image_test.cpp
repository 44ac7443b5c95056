// nexlink as a file: what it exports, what it imports (nothing), its constant table,
// and its entry point.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bridge/nexlink.h"
#include "bridge/nexlink_table.h"
#include "tests/probe.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <elf.h>
#endif

namespace {

const uint32_t kTable[NEX_TABLE_WORDS] = {STRING_TYPE_DESCRIPTOR, VALUE_TYPE_DESCRIPTOR, HOST_NEW_CELL,
                                          HOST_ASSIGN_STRING,     HOST_CLEAR_STRING,     HOST_DISPOSE_CELL,
                                          HOST_FINALIZE_RECORD};
const char* const kExports[6] = {"NexAllocateString",   "NexCallFunction",     "NexClearString",
                                 "NexDeallocateResult", "NexDeallocateString", "NexSetString"};

size_t count_table(const unsigned char* p, size_t n) {
    size_t found = 0;
    for (size_t i = 0; i + sizeof kTable <= n; ++i)
        if (std::memcmp(p + i, kTable, sizeof kTable) == 0) ++found;
    return found;
}

[[maybe_unused]] bool contains_word(const unsigned char* p, size_t n, uint32_t w) {
    for (size_t i = 0; i + 4 <= n; ++i)
        if (std::memcmp(p + i, &w, 4) == 0) return true;
    return false;
}

#if defined(_WIN32)

const unsigned char* module_base() {
    return reinterpret_cast<const unsigned char*>(GetModuleHandleA("nexlink.dll"));
}

const IMAGE_NT_HEADERS32* nt_headers(const unsigned char* base) {
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    return reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
}

TEST(NexlinkImage, ExportsSixUndecoratedNamesWithAlphabeticalOrdinals) {
    const unsigned char* base = module_base();
    ASSERT_NE(base, nullptr);
    const auto& dir = nt_headers(base)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto* exp = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    ASSERT_EQ(exp->NumberOfNames, 6u);
    ASSERT_EQ(exp->NumberOfFunctions, 6u);
    EXPECT_EQ(exp->Base, 1u);
    auto* names = reinterpret_cast<const DWORD*>(base + exp->AddressOfNames);
    auto* ordinals = reinterpret_cast<const WORD*>(base + exp->AddressOfNameOrdinals);
    for (int i = 0; i < 6; ++i) {
        EXPECT_STREQ(reinterpret_cast<const char*>(base + names[i]), kExports[i]);
        EXPECT_EQ(ordinals[i] + exp->Base, DWORD(i + 1)) << kExports[i];
        FARPROC by_name = GetProcAddress(reinterpret_cast<HMODULE>(const_cast<unsigned char*>(base)), kExports[i]);
        FARPROC by_ordinal = GetProcAddress(reinterpret_cast<HMODULE>(const_cast<unsigned char*>(base)),
                                            MAKEINTRESOURCEA(i + 1));
        EXPECT_NE(by_name, nullptr);
        EXPECT_EQ(by_name, by_ordinal) << kExports[i];
    }
}

TEST(NexlinkImage, HasNoImportDirectory) {
    const auto* nt = nt_headers(module_base());
    const auto& imp = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    EXPECT_EQ(imp.VirtualAddress, 0u);
    EXPECT_EQ(imp.Size, 0u);
    const auto& iat = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
    EXPECT_EQ(iat.Size, 0u);
    const auto& delay = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT];
    EXPECT_EQ(delay.Size, 0u);
}

TEST(NexlinkImage, TableIsReadOnlyAndCodeHoldsNoHostAddress) {
    const unsigned char* base = module_base();
    const auto* nt = nt_headers(base);
    auto* sec = IMAGE_FIRST_SECTION(nt);
    size_t tables = 0;
    for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++sec) {
        const unsigned char* p = base + sec->VirtualAddress;
        size_t n = sec->Misc.VirtualSize;
        size_t here = count_table(p, n);
        tables += here;
        if (here) {
            EXPECT_EQ(sec->Characteristics & IMAGE_SCN_MEM_WRITE, 0u) << "the table is read-only";
        }
        if (sec->Characteristics & IMAGE_SCN_MEM_EXECUTE) {
            for (uint32_t w : kTable) EXPECT_FALSE(contains_word(p, n, w)) << std::hex << w;
        }
    }
    EXPECT_EQ(tables, 1u);
}

TEST(NexlinkImage, EntryPointReturnsOneForEveryReasonAndPopsItsArguments) {
    const unsigned char* base = module_base();
    const unsigned char* entry = base + nt_headers(base)->OptionalHeader.AddressOfEntryPoint;
    for (uint32_t reason = 0; reason <= 3; ++reason) {
        Probe p = make_probe(reinterpret_cast<void (*)()>(const_cast<unsigned char*>(entry)),
                             {u32(base), reason, 0});
        probe_call(&p);
        EXPECT_EQ(p.out.eax, 1u) << "reason " << reason;
        EXPECT_EQ(p.esp_delta, 0) << "reason " << reason;
        EXPECT_EQ(p.out.ebx, p.in.ebx);
        EXPECT_EQ(p.out.esi, p.in.esi);
        EXPECT_EQ(p.out.edi, p.in.edi);
        EXPECT_EQ(p.out.ebp, p.in.ebp);
    }
}

#else

std::vector<unsigned char> library_file() {
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(&NexCallFunction), &info);
    std::ifstream in(info.dli_fname, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(NexlinkImage, ExportsTheSixNamesAndNeedsNothing) {
    std::vector<unsigned char> f = library_file();
    ASSERT_GT(f.size(), sizeof(Elf32_Ehdr));
    auto* eh = reinterpret_cast<const Elf32_Ehdr*>(f.data());
    auto* ph = reinterpret_cast<const Elf32_Phdr*>(f.data() + eh->e_phoff);
    bool dynamic = false;
    for (int i = 0; i < eh->e_phnum; ++i) {
        if (ph[i].p_type != PT_DYNAMIC) continue;
        dynamic = true;
        auto* d = reinterpret_cast<const Elf32_Dyn*>(f.data() + ph[i].p_offset);
        for (; d->d_tag != DT_NULL; ++d) {
            EXPECT_NE(d->d_tag, DT_NEEDED) << "nexlink depends on no library";
            EXPECT_NE(d->d_tag, DT_TEXTREL) << "nexlink's code is not patched at load";
        }
    }
    EXPECT_TRUE(dynamic);
    EXPECT_EQ(count_table(f.data(), f.size()), 1u);
    void* lib = dlopen(nullptr, RTLD_NOW);
    for (const char* name : kExports) EXPECT_NE(dlsym(lib, name), nullptr) << name;
}

#endif

}  // namespace
