// The driver's calls of the exports. Each one keeps the model of engines up
// to date and checks what the model says the call must do: every export returns
// 1.0 (script_event 1.0 or 0.0), a call on an id with no engine, or on an engine
// being closed, is reported, and destroy of an engine that is running Lua code is
// refused with a report.
#include <cmath>
#include <cstdio>

#include "standin/exports.h"
#include "fuzz/driver.h"

std::string show_number(double d) {
    char b[40];
    if (d == 0 && std::signbit(d)) return "-0";
    std::snprintf(b, sizeof b, "%.17g", d);
    return b;
}

namespace {

// A list handle the host can be given: truncated toward zero it fits 32 bits.
bool handle_fits(double list) { return list > -2147483649.0 && list < 2147483648.0; }

}  // namespace

std::string shown(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s.substr(0, 40)) {
        if (c >= 0x20 && c < 0x7F && c != '"') {
            out += static_cast<char>(c);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", c);
            out += esc;
        }
    }
    if (s.size() > 40) out += "...(" + std::to_string(s.size()) + " bytes)";
    return out + "\"";
}

Driver::EngineModel* Driver::model(double id) {
    if (std::isnan(id)) return nullptr;
    auto it = engines_.find(id);
    return it == engines_.end() ? nullptr : &it->second;
}

uint64_t Driver::reports() const { return standin::call_count(R_REPORT_ERROR); }

void Driver::note(const std::string& what) {
    std::string line(static_cast<size_t>(depth_) * 2, ' ');
    line += what;
    if (verbose_) std::printf("%s\n", line.c_str());
    if (trace_.size() < 400) trace_.push_back(line);
}

void Driver::check(bool ok, const std::string& what) {
    if (!ok && failure_.empty()) failure_ = what;
}

void Driver::call_state(double id) {
    note("state(" + show_number(id) + ")");
    ++counts_.state;
    const EngineModel* m = model(id);
    const bool creates = !m && !std::isnan(id);
    const bool refused = std::isnan(id) || (m && m->closing);
    const uint64_t before = reports();
    double r;
    {
        Active a(active_, depth_, id);
        r = state(id);
    }
    check(r == 1.0, "state(" + show_number(id) + ") returned " + show_number(r));
    if (refused) check(reports() > before, "state(" + show_number(id) + ") was not reported");
    if (creates) engines_[id] = EngineModel{};
}

template <typename Call>
void Driver::call_on_engine(const char* what, double id, Call call) {
    EngineModel* m = model(id);
    const bool runs = m && !m->closing;
    const uint64_t before = reports();
    if (runs) ++m->running;
    double r;
    {
        Active a(active_, depth_, id);
        r = call();
    }
    if (runs) --m->running;
    check(r == 1.0, std::string(what) + "(" + show_number(id) + ") returned " + show_number(r));
    if (!runs) check(reports() > before, std::string(what) + "(" + show_number(id) + ") without an engine was not reported");
}

void Driver::call_load(double id, const std::string& path) {
    note("load(" + show_number(id) + ", " + shown(path) + ")");
    ++counts_.load;
    call_on_engine("load", id, [&] { return load(id, path.c_str()); });
}

void Driver::call_destroy(double id) {
    note("destroy(" + show_number(id) + ")");
    ++counts_.destroy;
    EngineModel* m = model(id);
    const bool closes = m && m->running == 0 && !m->closing;
    if (m && m->running > 0) ++counts_.refused_destroys;
    const uint64_t before = reports();
    if (closes) m->closing = true;
    double r;
    {
        Active a(active_, depth_, id);
        r = destroy(id);
    }
    check(r == 1.0, "destroy(" + show_number(id) + ") returned " + show_number(r));
    if (closes) {
        engines_.erase(id);
    } else {
        check(reports() > before, "destroy(" + show_number(id) + ") was not refused with a report" +
                                      (m ? " (the engine is running or closing)" : " (no engine)"));
    }
}

void Driver::call_register(double id, const std::string& name, double index) {
    note("script_register(" + show_number(id) + ", " + shown(name) + ", " + show_number(index) + ")");
    ++counts_.script_register;
    call_on_engine("script_register", id, [&] { return script_register(id, name.c_str(), index); });
}

void Driver::call_event(double id, const std::string& name, double list) {
    note("script_event(" + show_number(id) + ", " + shown(name) + ", " + show_number(list) + ")");
    ++counts_.script_event;
    EngineModel* m = model(id);
    const bool runs = handle_fits(list) && m && !m->closing;
    const uint64_t before = reports();
    if (runs) ++m->running;
    double r;
    {
        Active a(active_, depth_, id);
        r = script_event(id, name.c_str(), list);
    }
    if (runs) --m->running;
    note("  -> " + show_number(r));
    check(r == 1.0 || r == 0.0, "script_event(" + show_number(id) + ") returned " + show_number(r));
    if (!runs) {
        check(r == 1.0, "script_event(" + show_number(id) + ") that cannot run returned " + show_number(r));
        check(reports() > before, "script_event(" + show_number(id) + ", " + show_number(list) +
                                      ") that cannot run was not reported");
    }
}

void Driver::call_time_limit(double id, double seconds) {
    note("time_limit(" + show_number(id) + ", " + show_number(seconds) + ")");
    ++counts_.time_limit;
    const EngineModel* m = model(id);
    const bool refused = !m || m->closing || std::isnan(seconds) || seconds < 0;
    const uint64_t before = reports();
    double r;
    {
        Active a(active_, depth_, id);
        r = time_limit(id, seconds);
    }
    check(r == 1.0, "time_limit(" + show_number(id) + ") returned " + show_number(r));
    // It runs no Lua code and calls the host only to report (where a hook may call
    // more exports, which may report too).
    const std::string call = "time_limit(" + show_number(id) + ", " + show_number(seconds) + ")";
    if (refused)
        check(reports() > before, call + " was not reported");
    else
        check(reports() == before, call + " reported");
}

void Driver::call_memory_limit(double id, double bytes) {
    note("memory_limit(" + show_number(id) + ", " + show_number(bytes) + ")");
    ++counts_.memory_limit;
    const EngineModel* m = model(id);
    const bool refused = !m || m->closing || std::isnan(bytes) || bytes < 0;
    const uint64_t before = reports();
    double r;
    {
        Active a(active_, depth_, id);
        r = memory_limit(id, bytes);
    }
    const std::string call = "memory_limit(" + show_number(id) + ", " + show_number(bytes) + ")";
    check(r == 1.0, call + " returned " + show_number(r));
    if (refused)
        check(reports() > before, call + " was not reported");
    else
        check(reports() == before, call + " reported");
}

void Driver::call_memory_used(double id) {
    note("memory_used(" + show_number(id) + ")");
    const EngineModel* m = model(id);
    const uint64_t before = reports();
    double r;
    {
        Active a(active_, depth_, id);
        r = memory_used(id);
    }
    note("  -> " + show_number(r));
    const std::string call = "memory_used(" + show_number(id) + ")";
    if (!m || m->closing) {
        check(r == 0.0 && reports() > before, call + " without an engine returned " + show_number(r) +
                                                  " or was not reported");
    } else {
        check(r > 0.0 && r < 4294967296.0, call + " returned " + show_number(r));
    }
}

void Driver::call_sandbox(double id) {
    note("sandbox(" + show_number(id) + ")");
    ++counts_.sandbox;
    call_on_engine("sandbox", id, [&] { return sandbox(id); });
}
