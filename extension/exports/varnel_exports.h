// The exports the host calls by name, declared from export_list.h. cdecl, every
// argument a double or a NUL-terminated text, every result a double (returned in
// ST0) or a text (in EAX). Exported through varnel.def on Windows and varnel.map on Linux (both
// written from the same list), never by attribute.
#pragma once

#include "extension/exports/export_args.h"

#if defined(_WIN32)
#define VARNEL_CDECL __cdecl
#else
#define VARNEL_CDECL __attribute__((cdecl))
#endif

extern "C" {
#define EXPORTDEF(name, ordinal, result, ...) EXPORT_RESULT(result) VARNEL_CDECL name(EXPORT_ARGS(EXPORT_PARAM, __VA_ARGS__));
#include "extension/exports/export_list.h"
#undef EXPORTDEF
}
