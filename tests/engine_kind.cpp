// Which engine library the test program loaded, asked of the library itself.
#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

bool engine_is_luajit() {
#if defined(_WIN32)
    const HMODULE engine = GetModuleHandleA("lua5.1.dll");
    return engine && GetProcAddress(engine, "luaJIT_setmode");
#else
    return dlsym(RTLD_DEFAULT, "luaJIT_setmode") != nullptr;
#endif
}
