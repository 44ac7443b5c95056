// varnel's exports, written once: one line each, in ordinal order, giving the
// name, the ordinal in varnel.dll, the result's kind, and each argument in cdecl
// order as its kind and name: real(x) is a double, text(x) a NUL-terminated text.
// A real result comes back in ST0, a text result (a pointer) in EAX.
//
// Expanded by defining EXPORTDEF(name, ordinal, result, ...) and including this file:
// the declarations (varnel_exports.h) and the stand-in's wrappers
// (standin/exports.h); cmake/ExportFiles.cmake reads the same lines to write
// varnel.def and varnel.map into the build tree. Adding an export is one line here
// and its own .cpp file. A shipped ordinal never changes.
//
// No include guard: each expansion includes it again.

EXPORTDEF(state, 1, real, real(id))
EXPORTDEF(load, 2, real, real(id), text(path))
EXPORTDEF(destroy, 3, real, real(id))
EXPORTDEF(script_register, 4, real, real(id), text(name), real(index))
EXPORTDEF(script_event, 5, real, real(id), text(name), real(list))
EXPORTDEF(time_limit, 6, real, real(id), real(seconds))
EXPORTDEF(run, 7, real, real(id), text(code))
EXPORTDEF(call_real, 8, real, real(id), text(name), real(list))
EXPORTDEF(call_text, 9, text, real(id), text(name), real(list))
EXPORTDEF(global_real, 10, real, real(id), text(path))
EXPORTDEF(global_text, 11, text, real(id), text(path))
EXPORTDEF(global_set_real, 12, real, real(id), text(path), real(value))
EXPORTDEF(global_set_text, 13, real, real(id), text(path), text(value))
EXPORTDEF(last_error, 14, text, real(id))
EXPORTDEF(memory_limit, 15, real, real(id), real(bytes))
EXPORTDEF(memory_used, 16, real, real(id))
EXPORTDEF(sandbox, 17, real, real(id))
