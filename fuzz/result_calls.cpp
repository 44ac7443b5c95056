// The driver's calls of the exports that give the game results: run, call_real,
// call_text, the global_* exports and last_error, with hostile code strings and
// paths (NUL bytes, dots only, 100 KB of code, code that never ends under a time
// limit). Each checks what the model says: a call on an id with no engine is
// reported, a text result is a readable text, last_error never reports.
#include <cmath>

#include "fuzz/driver.h"
#include "fuzz/lua_gen.h"
#include "standin/exports.h"

namespace {

bool handle_fits(double list) { return list > -2147483649.0 && list < 2147483648.0; }

}  // namespace

std::string Driver::random_code() {
    switch (rng_.weighted({6, 2, 2, 1, 2, 2})) {
        case 0: return random_script(rng_, names_);
        case 1: return std::string("x = 1\0 error('after the NUL')", 29);
        case 2: return rng_.pick<std::string>({"", " ", "return", "error()", "error(nil)", "error({})", "(", "\x1bLua",
                                               "return ...", "KEEP = {} KEEP.x = KEEP", "collectgarbage()"});
        case 3: {
            std::string big;
            while (big.size() < 100000) big += "fz_big = (fz_big or 0) + 1\n";
            return big;
        }
        case 4: return random_text();
        default: return "fz_cfg = {volume = 0.5, list = {1, 'two', {three = 3}}, [''] = 'empty'}";
    }
}

std::string Driver::random_global_path() {
    switch (rng_.weighted({4, 3, 2, 2, 1})) {
        case 0: return rng_.pick<std::string>({"fz_cfg.volume", "fz_cfg.list.2", "fz_cfg.list.3.three", "fz_cfg.",
                                               "fz_big", "string.len", "_G._G._G.fz_cfg", "KEEP.x.x.x"});
        case 1: return rng_.pick<std::string>({"", ".", "..", "...", "a..b", ".a", "1", "1.2.3", "-1", "1e5",
                                               "99999999999999999999"});
        case 2: return random_name();
        case 3: return std::string(rng_.range(1, 3000), '.');
        default: return random_text();
    }
}

void Driver::call_results(double id) {
    ++counts_.results;
    const size_t kind = rng_.weighted({4, 3, 3, 3, 3, 2, 2, 2, 1});
    const double h = kind == 1 || kind == 2 ? random_handle() : 0.0;
    EngineModel* m = model(id);
    // A list handle that does not fit is refused before the engine is looked at.
    const bool runs = m && !m->closing && handle_fits(h);
    const uint64_t before = reports();
    const std::string sid = show_number(id);
    std::string what;
    bool reported_when_not_running = true;
    if (runs) ++m->running;
    {
        Active a(active_, depth_, id);
        switch (kind) {
            case 0: {
                const std::string code = random_code();
                what = "run(" + sid + ", " + shown(code) + ")";
                note(what);
                const double r = run(id, code.c_str());
                check(r == 1.0, what + " returned " + show_number(r));
                break;
            }
            case 1:
            case 2: {
                set_up_list(h);
                const std::string name = rng_.chance(70) ? event_function_name(rng_.below(kEventFunctions))
                                                         : random_name();
                what = std::string(rng_.chance(50) ? "call_real(" : "call_text(") + sid + ", " + shown(name) + ")";
                note(what);
                if (what[5] == 'r') {
                    call_real(id, name.c_str(), h);
                } else {
                    const char* t = call_text(id, name.c_str(), h);
                    check(t != nullptr, what + " returned a null pointer");
                    note("  -> " + shown(t ? std::string(t) : std::string()));
                }
                if (!handle_fits(h)) check(reports() > before, what + " with a handle that does not fit was not reported");
                break;
            }
            case 3:
            case 4: {
                const std::string path = random_global_path();
                what = std::string(rng_.chance(50) ? "global_real(" : "global_text(") + sid + ", " + shown(path) + ")";
                note(what);
                if (what[7] == 'r') {
                    global_real(id, path.c_str());
                } else {
                    const char* t = global_text(id, path.c_str());
                    check(t != nullptr, what + " returned a null pointer");
                }
                break;
            }
            case 5:
            case 6: {
                const std::string path = random_global_path();
                const bool text = rng_.chance(50);
                what = std::string(text ? "global_set_text(" : "global_set_real(") + sid + ", " + shown(path) + ")";
                note(what);
                const double r = text ? global_set_text(id, path.c_str(), rng_.chance(20) ? nullptr : "v")
                                      : global_set_real(id, path.c_str(), rng_.pick<double>({0.0, -1.5, 1e300, NAN}));
                check(r == 1.0, what + " returned " + show_number(r));
                break;
            }
            case 7: {
                what = "last_error(" + sid + ")";
                note(what);
                const char* t = last_error(id);
                check(t != nullptr, what + " returned a null pointer");
                if (!runs && !m) check(t && *t == '\0', what + " without an engine gave a text");
                check(reports() == before, what + " reported");
                reported_when_not_running = false;
                break;
            }
            default: {
                // Code that never ends, stopped by a time limit, in an engine of
                // its own: a script's finalizer may have replaced the limit's hook
                // with one of its own in the others. Nothing reenters meanwhile.
                if (depth_ > 1) {
                    what = "last_error(" + sid + ")";
                    last_error(id);
                    reported_when_not_running = false;
                    break;
                }
                const double own = 8191.5;  // never one of the game's ids
                what = "run(" + show_number(own) + ", never-ending code under a time limit)";
                note(what);
                const bool reenter = reenter_;
                reenter_ = false;
                state(own);
                time_limit(own, 0.01);
                run(own, "while true do end");
                check(reports() == before + 1, what + " was not stopped with one report");
                check(std::string(last_error(own)).rfind("script ran longer than 0.01 seconds", 0) == 0,
                      what + ": last_error does not say why");
                destroy(own);
                reenter_ = reenter;
                reported_when_not_running = false;
                break;
            }
        }
    }
    if (runs) --m->running;
    if (!runs && reported_when_not_running) check(reports() > before, what + " without an engine was not reported");
}
