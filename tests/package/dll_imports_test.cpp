// The three libraries the game loads, as loaded: none of them installs an
// exception handler for the whole process. The game's exceptions are the game's;
// varnel catches what the host raises in its own routines with a frame of its own.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The names a loaded module imports by name, from every DLL it imports.
std::vector<std::string> imported_names(const char* module) {
    std::vector<std::string> names;
    auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleA(module));
    if (!base) return names;
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    const auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return names;
    auto* desc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
    for (; desc->Name != 0; ++desc) {
        const DWORD lookup = desc->OriginalFirstThunk ? desc->OriginalFirstThunk : desc->FirstThunk;
        auto* thunk = reinterpret_cast<const IMAGE_THUNK_DATA32*>(base + lookup);
        for (; thunk->u1.AddressOfData != 0; ++thunk) {
            if (IMAGE_SNAP_BY_ORDINAL32(thunk->u1.Ordinal)) continue;
            auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + thunk->u1.AddressOfData);
            names.emplace_back(reinterpret_cast<const char*>(by_name->Name));
        }
    }
    return names;
}

TEST(DllImports, NoLibraryInstallsAProcessWideExceptionHandler) {
    for (const char* module : {"varnel.dll", "lua5.1.dll", "nexlink.dll"}) {
        ASSERT_NE(GetModuleHandleA(module), nullptr) << module;
        for (const std::string& name : imported_names(module)) {
            EXPECT_EQ(name.find("VectoredExceptionHandler"), std::string::npos) << module << ": " << name;
            EXPECT_EQ(name.find("VectoredContinueHandler"), std::string::npos) << module << ": " << name;
            EXPECT_NE(name, "SetUnhandledExceptionFilter") << module;
        }
    }
}

TEST(DllImports, TheReaderSeesImports) {
    // The check above reads real import tables: varnel's include Lua's API.
    bool lua_api = false;
    for (const std::string& name : imported_names("varnel.dll")) lua_api |= name == "lua_pcall";
    EXPECT_TRUE(lua_api);
}

}  // namespace
#endif
