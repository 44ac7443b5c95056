// The exports the host calls by name. cdecl, every argument a double or a
// NUL-terminated text, every result a double (returned in ST0). Exported through
// varnel.def on Windows and varnel.map on Linux, never by attribute.
#pragma once

#if defined(_WIN32)
#define VARNEL_CDECL __cdecl
#else
#define VARNEL_CDECL __attribute__((cdecl))
#endif

extern "C" {
double VARNEL_CDECL state(double id);
double VARNEL_CDECL load(double id, const char* path);
double VARNEL_CDECL destroy(double id);
double VARNEL_CDECL script_register(double id, const char* name, double index);
double VARNEL_CDECL script_event(double id, const char* name, double list);
double VARNEL_CDECL time_limit(double id, double seconds);
double VARNEL_CDECL memory_limit(double id, double bytes);
double VARNEL_CDECL memory_used(double id);
double VARNEL_CDECL sandbox(double id);
}
