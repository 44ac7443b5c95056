// The last error reported for an engine, kept until the host asks for it
// (last_error) and forgotten then. Every report for an engine goes out through
// here or LuaEntry::report_error, which keeps its text the same way; a failure
// of an id with no engine has nowhere to be kept.
#pragma once
#include <cstdint>
#include <string>

#include "extension/engine/error_report.h"

struct Engine;

// Per engine: the text of the most recent report, when it was not read yet.
struct LastError {
    std::string text;
    bool held = false;
};

// Keeps text (null: the empty text) as the engine's last error. When no memory
// can be had for it, the engine keeps none.
void keep_last_error(LastError& last, const char* text) noexcept;

// Moves the engine's last error out into out, leaving none kept. False when
// none was kept (out is then left alone).
bool take_last_error(LastError& last, std::string& out) noexcept;

// Reports text for engine, and keeps it as its last error.
void report_engine_text(Engine& engine, const char* text) noexcept;

// Reports one of varnel's own failures about engine, worded "<export>: <what>"
// as report_failure does, and keeps the text as its last error.
void report_engine_failure(Engine& engine, const char* format, ...) noexcept VARNEL_PRINTF(2, 3);

// Reports an exception a host routine raised, where no Lua code runs, for
// engine, and keeps the text as its last error.
void report_engine_exception(Engine& engine, uint32_t code) noexcept;
