/* The wrappers the engine's calls into the C runtime's x87 code go through.
   varnel leaves the host's x87 control word in place while it works (Lua itself
   is SSE2 code, which the x87 word does not touch): each wrapper loads the
   runtime's word first, when another is in place, and varnel gives the host its
   word back at its next host call or when the export returns.
   Lua 5.1.5 reaches them by name (lua_x87.h renames its call sites); LuaJIT,
   whose virtual machine and compiled code call the math functions by symbol, is
   linked with ld's --wrap for each (LX_LINKER_WRAP, cmake/LuaJIT.cmake). */
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "host/runtime_x87.h"

/* The word the wrappers load: varnel finds it by name, and so knows that this
   engine loads the x87 word itself where it needs it. */
__declspec(dllexport) unsigned lua_x87_word(void) { return VARNEL_RUNTIME_X87; }

#define LX_ENSURE() varnel_ensure_runtime_x87()

#ifdef LX_LINKER_WRAP
#define LX_NAME(name) __wrap_##name
#define LX_REAL(name) __real_##name
#else
#define LX_NAME(name) lx_##name
#define LX_REAL(name) name
#endif

#define LX_WRAP1(name) \
    double LX_REAL(name)(double x); \
    double LX_NAME(name)(double x); \
    double LX_NAME(name)(double x) { \
        LX_ENSURE(); \
        return LX_REAL(name)(x); \
    }
#define LX_WRAP2(name) \
    double LX_REAL(name)(double x, double y); \
    double LX_NAME(name)(double x, double y); \
    double LX_NAME(name)(double x, double y) { \
        LX_ENSURE(); \
        return LX_REAL(name)(x, y); \
    }

LX_WRAP2(pow)
LX_WRAP2(fmod)
LX_WRAP1(exp)
LX_WRAP1(log)
LX_WRAP1(log10)
LX_WRAP1(sin)
LX_WRAP1(cos)
LX_WRAP1(tan)
LX_WRAP1(asin)
LX_WRAP1(acos)
LX_WRAP1(atan)
LX_WRAP2(atan2)
LX_WRAP1(sinh)
LX_WRAP1(cosh)
LX_WRAP1(tanh)

/* The square root is an SSE2 instruction; the runtime is called for a negative
   argument only. */
double LX_REAL(sqrt)(double x);
double LX_NAME(sqrt)(double x);
double LX_NAME(sqrt)(double x) {
    if (x >= 0) return __builtin_sqrt(x);
    LX_ENSURE();
    return LX_REAL(sqrt)(x);
}

double LX_REAL(ldexp)(double x, int e);
double LX_NAME(ldexp)(double x, int e);
double LX_NAME(ldexp)(double x, int e) {
    LX_ENSURE();
    return LX_REAL(ldexp)(x, e);
}

#ifdef LX_LINKER_WRAP
/* io.read("*n") reads through the runtime's scanf, whose number parsing is x87
   code. */
int __real___mingw_vfscanf(FILE *f, const char *format, va_list args);
int __wrap___mingw_vfscanf(FILE *f, const char *format, va_list args);
int __wrap___mingw_vfscanf(FILE *f, const char *format, va_list args) {
    LX_ENSURE();
    return __real___mingw_vfscanf(f, format, args);
}
#else
LX_WRAP1(floor)
LX_WRAP1(ceil)

double lx_modf(double x, double *ip) {
    LX_ENSURE();
    return modf(x, ip);
}

double lx_frexp(double x, int *e) {
    LX_ENSURE();
    return frexp(x, e);
}

double lx_strtod(const char *s, char **end) {
    LX_ENSURE();
    return strtod(s, end);
}

double lx_difftime(time_t a, time_t b) {
    LX_ENSURE();
    return difftime(a, b);
}

int lx_sprintf(char *out, const char *format, ...) {
    va_list args;
    int n;
    LX_ENSURE();
    va_start(args, format);
    n = vsprintf(out, format, args);
    va_end(args);
    return n;
}

int lx_fprintf(FILE *f, const char *format, ...) {
    va_list args;
    int n;
    LX_ENSURE();
    va_start(args, format);
    n = vfprintf(f, format, args);
    va_end(args);
    return n;
}

int lx_fscanf(FILE *f, const char *format, void *out) {
    LX_ENSURE();
    return fscanf(f, format, out);
}
#endif
