#include "extension/engine/last_error.h"

#include <cstdarg>
#include <cstdio>

#include "extension/engine/engine_registry.h"
#include "host/fp_words.h"
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
    char text[320];  // as report_failure cuts it
    va_list args;
    va_start(args, format);
    ensure_runtime_x87();  // the runtime formats numbers with x87 code
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    report_engine_text(engine, text);
}

void report_engine_exception(Engine& engine, uint32_t code) noexcept {
    report_engine_text(engine, host_exception_text(code).text);
}
