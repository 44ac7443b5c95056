// Reads the version resource of each file we ship through the Windows API, as
// Explorer would, and checks it against the project's version. Also checks that
// nexlink.dll still has no import directory.
//
//   version_check VERSION FOLDER [luajit]
//
// With luajit, lua5.1.dll is LuaJIT's: its resource names LuaJIT and its author.
// Prints one line per file; exits 1 with the reason when anything differs.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Shipped {
    const char* file;
    const char* copyright_has;    // a piece the LegalCopyright must contain
    const char* description_has;  // and one the FileDescription must
};

const Shipped kShipped[] = {
    {"varnel.dll", "the varnel developers", "varnel"},
    {"nexlink.dll", "the varnel developers", "nexlink"},
    {"lua5.1.dll", "Lua.org, PUC-Rio", "Lua 5.1.5"},
    {"varnel-run.exe", "the varnel developers", "varnel-run"},
};
const Shipped kLuaJit = {"lua5.1.dll", "Mike Pall", "LuaJIT"};

int g_failures = 0;

void fail(const std::string& what) {
    std::printf("FAIL: %s\n", what.c_str());
    ++g_failures;
}

std::string string_value(const std::vector<char>& info, const char* name) {
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) || !value)
        return {};
    return std::string(value);
}

void check_file(const std::string& folder, const Shipped& shipped, const std::string& version, DWORD ms, DWORD ls) {
    const std::string path = folder + "\\" + shipped.file;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return fail(path + ": no version resource");
    std::vector<char> info(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, info.data())) return fail(path + ": GetFileVersionInfo failed");
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed)
        return fail(path + ": no fixed file info");
    if (fixed->dwFileVersionMS != ms || fixed->dwFileVersionLS != ls) fail(path + ": binary file version differs");
    if (fixed->dwProductVersionMS != ms || fixed->dwProductVersionLS != ls)
        fail(path + ": binary product version differs");
    const std::string file_version = string_value(info, "FileVersion");
    const std::string product_version = string_value(info, "ProductVersion");
    const std::string product = string_value(info, "ProductName");
    const std::string description = string_value(info, "FileDescription");
    const std::string copyright = string_value(info, "LegalCopyright");
    const std::string original = string_value(info, "OriginalFilename");
    if (file_version != version) fail(path + ": FileVersion is '" + file_version + "'");
    if (product_version != version) fail(path + ": ProductVersion is '" + product_version + "'");
    if (product != "varnel") fail(path + ": ProductName is '" + product + "'");
    if (description.find(shipped.description_has) == std::string::npos)
        fail(path + ": FileDescription '" + description + "' does not name " + shipped.description_has);
    if (copyright.find(shipped.copyright_has) == std::string::npos)
        fail(path + ": LegalCopyright '" + copyright + "' does not name " + shipped.copyright_has);
    if (original != shipped.file) fail(path + ": OriginalFilename is '" + original + "'");
    std::printf("%s: %s, %s, \"%s\", \"%s\"\n", shipped.file, file_version.c_str(), product.c_str(),
                description.c_str(), copyright.c_str());
}

// The import directory entry of a PE file, read from its headers.
void check_no_imports(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS32 nt;
    if (bytes.size() < sizeof dos) return fail(path + ": too short");
    std::memcpy(&dos, bytes.data(), sizeof dos);
    if (dos.e_lfanew < 0 || bytes.size() < static_cast<std::size_t>(dos.e_lfanew) + sizeof nt)
        return fail(path + ": no PE headers");
    std::memcpy(&nt, bytes.data() + dos.e_lfanew, sizeof nt);
    const IMAGE_DATA_DIRECTORY& imports = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress != 0 || imports.Size != 0) fail(path + ": has an import directory");
}

}  // namespace

int main(int argc, char** argv) {
    const bool luajit = argc == 4 && std::strcmp(argv[3], "luajit") == 0;
    if (argc != 3 && !luajit) {
        std::fprintf(stderr, "usage: version_check VERSION FOLDER [luajit]\n");
        return 2;
    }
    const std::string version = argv[1], folder = argv[2];
    unsigned major = 0, minor = 0, patch = 0;
    if (std::sscanf(argv[1], "%u.%u.%u", &major, &minor, &patch) != 3) {
        std::fprintf(stderr, "version_check: '%s' is not MAJOR.MINOR.PATCH\n", argv[1]);
        return 2;
    }
    const DWORD ms = (major << 16) | minor, ls = patch << 16;
    for (const Shipped& shipped : kShipped) {
        const bool engine = std::strcmp(shipped.file, kLuaJit.file) == 0;
        check_file(folder, engine && luajit ? kLuaJit : shipped, version, ms, ls);
    }
    check_no_imports(folder + "\\nexlink.dll");
    return g_failures ? 1 : 0;
}
