#include "extension/engine/last_error.h"

#include <cstdarg>

#include "extension/engine/engine_registry.h"
#include "host/host_call.h"

void report_engine_text(Engine& engine, const char* text) noexcept {
    keep_last_error(engine.last_error, text);
    report_text(text);
}

void keep_last_error(LastError& last, const char* text) noexcept {
    try {
        last.text.assign(text ? text : "");
        last.held = true;
    } catch (...) {
        last.text.clear();
        last.held = false;
    }
}

bool take_last_error(LastError& last, std::string& out) noexcept {
    if (!last.held) return false;
    out.swap(last.text);
    last.text.clear();
    last.held = false;
    return true;
}

void report_engine_failure(Engine& engine, const char* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    const FailureText t = failure_text(format, args);
    va_end(args);
    report_engine_text(engine, t.text);
}

void report_engine_exception(Engine& engine, uint32_t code) noexcept {
    report_engine_text(engine, host_exception_text(code).text);
}
