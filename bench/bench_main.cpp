// varnel's hot paths timed against their floors.
//
//   varnel_bench [--reps N] [--min-ms M] [--ops K] [--only TEXT] [--frames F]
//
// Every export call goes through the stand-in's caller, as the host makes it; so
// does each of the floor's operations. Cases marked [pascal] or [direct3d] call
// varnel and the floor from a host with those floating-point words
// (standin/fp_env.h), and hold them to the plain case's target.
//
// For each case: nanoseconds per operation through varnel (median of N
// repetitions, default 15), the same for the floor (bench/floor.h) measured in
// turns with it, and their ratio (the median of each pair's ratio: on a busy
// machine it holds steadier than a ratio of medians). A repetition runs as many
// operations as take varnel about M milliseconds (default 10), or K when given
// (for a profiler, which makes calibrating slow). --only checks and times just the
// cases whose name holds TEXT. Before timing, each case is run once with the
// stand-in's call log on: varnel and the floor must make exactly the same host
// calls, and leave no fault, report, cell or host string behind; if not, the
// program says so and exits with 1. Then the game-like frame (bench/game.h), F
// frames of each part (default 31), unless --only leaves it out ("game" keeps it),
// and the counting allocator's cost on the frame's Lua parts ("allocator" keeps
// that alone).
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

extern "C" {
#include <lua.h>
}

#include "bench/floor.h"
#include "bench/game.h"
#include "bench/timing.h"
#include "standin/exports.h"
#include "standin/fp_env.h"
#include "standin/standin.h"

namespace {

constexpr double kEngine = 1;
constexpr double kLimited = 2;  // the same, with a time limit that the cases never reach
constexpr int32_t kDriveBase = 1000000;  // list handle kDriveBase + n: the list {n}

// The same text runs in varnel's engine, where the bench_script_* names are bound
// by script_register, and in the floor's state, where they are floor_forward.
const char kSource[] = R"lua(
function loop_script_0(n)
  local f = bench_script_0
  for i = 1, n do f() end
  return 0
end
function loop_script_3(n)
  local f = bench_script_3
  for i = 1, n do f(1.5, 2.5, 3.5) end
  return 0
end
function loop_script_t(n)
  local f = bench_script_t
  for i = 1, n do f("alpha", "beta") end
  return 0
end
function loop_draw_text(n)
  local f = draw_text
  for i = 1, n do f(1, 2, "hello") end
  return 0
end
-- Lua work alone, for the cost of a time limit's count hook: bare arithmetic (the
-- hook's worst case, a few cheap instructions a turn), then a game's kind of work.
function loop_lua(n)
  local x = 0
  for i = 1, n do x = x + i % 7 * 0.5 end
  return 0
end
bench_units = {}
for i = 1, 16 do bench_units[i] = {x = i, vx = i * 0.5} end
function loop_game(n)
  local units, floor, sum = bench_units, math.floor, 0
  for i = 1, n do
    local u = units[i % 16 + 1]
    u.x = u.x + u.vx * 0.016
    if u.x > 100 then u.x = 0 end
    sum = sum + floor(u.x)
  end
  return 0
end
-- Receives the entries and leaves them be: a vararg function would build a table
-- of them at each call, and the figures would measure Lua's collector.
function on_event()
  return 0
end
-- A value three parts down, for global_real.
bench_cfg = {a = {b = 1}}
)lua";

const FloorScript kScripts[] = {{"bench_script_0", 10}, {"bench_script_3", 11}, {"bench_script_t", 12}};

struct Case {
    std::string label;
    double target;          // the ratio the case should stay within
    Runner varnel, floor;
    bool loop;              // a Lua loop, which varnel runs inside a driving event
    int entries;            // an event's list length
};

double g_verdicts = 0;  // every side adds its verdicts: 1.0 per operation when all is well
lua_State* g_floor = nullptr;
std::set<int> g_drives;

// Runs the Lua loop in one of varnel's engines, driven by one event whose list is {n}.
void engine_loop(double engine, const char* loop, int n) {
    const int32_t h = kDriveBase + n;
    if (g_drives.insert(n).second) standin::set_list(h, {standin::Value::number(n)});
    g_verdicts += script_event(engine, loop, h) * n;
}

void varnel_loop(const char* loop, int n) { engine_loop(kEngine, loop, n); }

// The host calls of the event that drives a loop of n in varnel's engine, which
// come before the loop's own.
std::vector<std::string> drive_calls(int n) {
    const std::string h = std::to_string(kDriveBase + n);
    return {"list_size " + h, "list_get " + h + ", 0", "finalize", "list_done " + h};
}

// The floor's operations as exports of their own, called through the stand-in's
// caller as varnel's are (always with the runtime's words), so that both sides pay
// for the host's side of an export call alike.
struct FloorCall {
    const char* loop;
    bool protect;
};
FloorCall g_floor_call;

// Entered with the stack misaligned, as varnel's exports are: realigned likewise.
__attribute__((force_align_arg_pointer)) double STANDIN_CDECL floor_loop_export(double n) {
    return floor_loop(g_floor, g_floor_call.loop, static_cast<int>(n));
}

__attribute__((force_align_arg_pointer)) double STANDIN_CDECL floor_event_export(double h) {
    return floor_event(g_floor, "on_event", h, g_floor_call.protect);
}

__attribute__((force_align_arg_pointer)) double STANDIN_CDECL floor_global_export(double) {
    return floor_global(g_floor, "bench_cfg", "a", "b");
}

double call_floor(double (STANDIN_CDECL* fn)(double), double x) {
    uint32_t words[2];
    std::memcpy(words, &x, sizeof x);
    return standin::call_export(reinterpret_cast<const void*>(fn), words, 2);
}

Case loop_case(const char* label, const char* loop, double target) {
    return Case{label, target, [loop](int n) { varnel_loop(loop, n); },
                [loop](int n) {
                    g_floor_call = FloorCall{loop, false};
                    g_verdicts += call_floor(floor_loop_export, n) * n;
                },
                true, 0};
}

Case event_case(const char* label, int32_t h, std::vector<standin::Value> entries, double target,
               bool protect = false) {
    const int count = static_cast<int>(entries.size());
    standin::set_list(h, std::move(entries));
    return Case{label, target,
                [h](int n) { for (int i = 0; i < n; ++i) g_verdicts += script_event(kEngine, "on_event", h); },
                [h, protect](int n) {
                    g_floor_call = FloorCall{nullptr, protect};
                    for (int i = 0; i < n; ++i) g_verdicts += call_floor(floor_event_export, h);
                },
                false, count};
}

// call_real or call_text of on_event (which answers 0) with list h, 1.0 for each
// "0" it gives back.
double call_for_result(bool text, int32_t h) {
    if (text) {
        const char* t = call_text(kEngine, "on_event", h);
        return t[0] == '0' && t[1] == '\0' ? 1.0 : 0.0;
    }
    return call_real(kEngine, "on_event", h) == 0.0 ? 1.0 : 0.0;
}

// call_real or call_text against the floor of an event, or (versus_event)
// against script_event itself, with the list h already set up.
Case call_case(const char* label, bool text, int32_t h, double target, bool versus_event) {
    Runner floor = [h](int n) {
        g_floor_call = FloorCall{nullptr, false};
        for (int i = 0; i < n; ++i) g_verdicts += call_floor(floor_event_export, h);
    };
    if (versus_event)
        floor = [h](int n) { for (int i = 0; i < n; ++i) g_verdicts += script_event(kEngine, "on_event", h); };
    return Case{label, target,
                [text, h](int n) { for (int i = 0; i < n; ++i) g_verdicts += call_for_result(text, h); }, floor,
                false, -1};
}

// global_real on a three-part path against three lookups of the floor's.
Case global_case(const char* label, double target) {
    return Case{label, target,
                [](int n) {
                    for (int i = 0; i < n; ++i) g_verdicts += global_real(kEngine, "bench_cfg.a.b");
                },
                [](int n) { for (int i = 0; i < n; ++i) g_verdicts += call_floor(floor_global_export, 0); },
                false, -1};
}

// Not against a floor: the same Lua loop in an engine with a time limit and in one
// without, both through varnel. The limit is set only around its own runs, so that
// no other case pays for it.
Case limit_case(const char* label, const char* loop, double target) {
    return Case{label, target,
                [loop](int n) {
                    time_limit(kLimited, 600);
                    engine_loop(kLimited, loop, n);
                    time_limit(kLimited, 0);
                },
                [loop](int n) { engine_loop(kEngine, loop, n); }, false, -1};
}

std::vector<standin::Value> numbers(int n) {
    std::vector<standin::Value> v;
    for (int i = 0; i < n; ++i) v.push_back(standin::Value::number(i + 0.5));
    return v;
}

std::vector<standin::Value> texts(int n) {
    std::vector<standin::Value> v;
    for (int i = 0; i < n; ++i) v.push_back(standin::Value::text_of("entry " + std::to_string(i)));
    return v;
}

// The case again, with varnel and the floor called by a host running with the
// words of env: the stand-in's routines then switch to their own words and back on
// each call, on both sides alike, so that the ratio is what varnel's handling of
// the words adds. The floor does nothing about them: the cases chosen trap nowhere
// and call no x87 code.
Case in_env(const Case& c, standin::FpEnv env) {
    Case e = c;
    e.label += std::string(" [") + standin::fp_env_name(env) + "]";
    e.target = c.target;
    const auto in_words = [env](Runner run) {
        return [run, env](int n) {
            standin::set_fp_env(env);
            run(n);
            standin::set_fp_env(standin::FpEnv::kDefault);
        };
    };
    e.varnel = in_words(c.varnel);
    e.floor = in_words(c.floor);
    return e;
}

void set_up_host() {
    standin::install();
    standin::reset();
    standin::set_script(10, [](const HostCallArg*, int) { return standin::Value::number(1); });
    standin::set_script(11, [](const HostCallArg*, int) { return standin::Value::number(1); });
    standin::set_script(12, [](const HostCallArg*, int) { return standin::Value::text_of("gamma"); });
    const char* path = "varnel_bench.lua";
    std::ofstream(path, std::ios::binary) << kSource;
    state(kEngine);
    for (const FloorScript& s : kScripts) script_register(kEngine, s.name, s.index);
    load(kEngine, path);
    state(kLimited);
    for (const FloorScript& s : kScripts) script_register(kLimited, s.name, s.index);
    load(kLimited, path);
    std::remove(path);
    g_floor = open_floor_state(kSource, kScripts, 3);
}

void print_lines(const char* side, const std::vector<std::string>& lines) {
    std::printf("  %s made %zu host calls:\n", side, lines.size());
    for (const std::string& l : lines) std::printf("    %s\n", l.c_str());
}

// Two operations of each side with the call log on: the same host calls, and
// nothing left behind. Prints what differs.
bool check(const Case& c) {
    const int n = 2;
    bool ok = true;
    standin::set_logging(true);
    standin::calls().clear();
    g_verdicts = 0;
    c.varnel(n);
    std::vector<std::string> mine = standin::calls();
    standin::calls().clear();
    c.floor(n);
    const std::vector<std::string> floor = standin::calls();
    standin::set_logging(false);
    standin::draws().clear();
    if (c.loop) {
        const std::vector<std::string> drive = drive_calls(n);  // not made by the floor
        if (mine.size() < drive.size() || !std::equal(drive.begin(), drive.end(), mine.begin())) {
            std::printf("%s: the driving event's calls are not as expected\n", c.label.c_str());
            print_lines("varnel", mine);
            return false;
        }
        mine.erase(mine.begin(), mine.begin() + static_cast<std::ptrdiff_t>(drive.size()));
    }
    if (mine != floor) {
        std::printf("%s: varnel and the floor differ\n", c.label.c_str());
        print_lines("varnel", mine);
        print_lines("the floor", floor);
        ok = false;
    }
    if (g_verdicts != 2.0 * n) {
        std::printf("%s: verdicts add up to %g, not %d\n", c.label.c_str(), g_verdicts, 2 * n);
        ok = false;
    }
    for (const std::string& f : standin::faults()) std::printf("%s: fault: %s\n", c.label.c_str(), f.c_str());
    for (const standin::Arg& a : standin::errors())
        std::printf("%s: error report %s\n", c.label.c_str(), standin::show(a).c_str());
    if (!standin::faults().empty() || !standin::errors().empty()) ok = false;
    if (standin::live_cells() || standin::live_strings()) {
        std::printf("%s: left behind:\n%s", c.label.c_str(), standin::ledger_report().c_str());
        ok = false;
    }
    standin::faults().clear();
    standin::errors().clear();
    return ok;
}

const char* kBuild =
#if defined(_WIN32)
    "Windows build";
#else
    "Linux build";
#endif

}  // namespace

int main(int argc, char** argv) {
    int reps = 15;
    double min_ms = 10;
    int ops = 0;
    const char* only = "";
    int frames = 31;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--reps")) reps = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--min-ms")) min_ms = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--ops")) ops = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--only")) only = argv[i + 1];
        else if (!std::strcmp(argv[i], "--frames")) frames = std::atoi(argv[i + 1]);
    }
    if (reps < 1) reps = 1;
    set_up_host();

    std::vector<Case> cases;
    cases.push_back(loop_case("forward f() -> number", "loop_script_0", 1.2));
    cases.push_back(loop_case("forward f(3 numbers) -> number", "loop_script_3", 1.2));
    cases.push_back(loop_case("forward f(2 texts) -> text", "loop_script_t", 1.5));
    cases.push_back(event_case("script_event, empty list", 1, {}, 1.2));
    cases.push_back(event_case("script_event, 8 numbers", 2, numbers(8), 1.2));
    cases.push_back(event_case("script_event, 8 texts", 3, texts(8), 1.5));
    cases.push_back(event_case("script_event, 64 numbers", 4, numbers(64), 1.2));
    cases.push_back(event_case("script_event, 1,000 numbers", 5, numbers(1000), 1.2));
    cases.push_back(loop_case("draw_text(1, 2, \"hello\")", "loop_draw_text", 1.5));
    // Calls for a result: against the floor, and (the floor column) against
    // script_event with the same list.
    cases.push_back(call_case("call_real, 8 numbers", false, 2, 1.3, false));
    cases.push_back(call_case("call_text, 8 numbers", true, 2, 1.4, false));
    cases.push_back(call_case("call_real / script_event, 8 numbers", false, 2, 1.05, true));
    cases.push_back(call_case("call_text / script_event, 8 numbers", true, 2, 1.15, true));
    cases.push_back(global_case("global_real, three parts", 2.0));
    // Hosts with other floating-point words than the runtime's: with the engine built
    // for it, varnel switches neither unit until it must (host/fp_words.h).
    const std::size_t plain = cases.size();
    for (standin::FpEnv env : {standin::FpEnv::kPascal, standin::FpEnv::kDirect3D})
        for (std::size_t i : {std::size_t{0}, std::size_t{3}, std::size_t{4}, std::size_t{7}})
            if (i < plain) cases.push_back(in_env(cases[i], env));
    // Not a target: the empty list against a floor that also pays for lua_pcall,
    // which is most of what the empty list costs beyond its floor.
    cases.push_back(event_case("script_event, empty, pcall floor", 1, {}, 1.2, true));
    // The floor column here is the engine without a limit.
    cases.push_back(limit_case("arithmetic loop: limit / none", "loop_lua", 1.03));
    cases.push_back(limit_case("game-like loop: limit / none", "loop_game", 1.03));
    // Host calls under a limit read the clock at every return.
    cases.push_back(limit_case("forward f() loop: limit / none", "loop_script_0", 1.1));

    bool same = true;
    for (const Case& c : cases)
        if (c.label.find(only) != std::string::npos) same = check(c) && same;
    if (!same) return 1;

    std::printf("varnel against the floor, %s: ns per operation, median of %d repetitions\n", kBuild, reps);
    std::printf("%-44s %9s %10s %10s %7s %7s\n", "case", "ops/rep", "varnel", "floor", "ratio", "target");
    std::vector<Figures> figures;
    for (const Case& c : cases) {
        if (c.label.find(only) == std::string::npos) {
            figures.push_back(Figures{0, 0, 0, 0});
            continue;
        }
        const Figures f = measure(c.varnel, c.floor, ops > 0 ? ops : calibrate(c.varnel, min_ms), reps);
        char target[16] = "     -";  // a case with no target
        if (c.target > 0) std::snprintf(target, sizeof target, "%5.1fx", c.target);
        std::printf("%-44s %9d %10.1f %10.1f %7.3f %s %s\n", c.label.c_str(), f.count, f.varnel_ns, f.floor_ns,
                    f.ratio, target, c.target == 0 || f.ratio <= c.target ? "" : " over");
        std::fflush(stdout);
        figures.push_back(f);
    }
    // script_event's cost per entry beyond the empty list: flat when it grows linearly.
    const Figures* empty = nullptr;
    for (std::size_t i = 0; i < cases.size(); ++i)
        if (!empty && !cases[i].loop && cases[i].entries == 0 && figures[i].count) empty = &figures[i];
    if (empty) std::printf("%-34s %9s %10s %10s\n", "script_event, ns per entry", "", "varnel", "floor");
    for (std::size_t i = 0; empty && i < cases.size(); ++i) {
        const int n = cases[i].entries;
        if (cases[i].loop || n <= 0 || !figures[i].count) continue;
        std::printf("  %-42s %10.1f %10.1f\n", cases[i].label.c_str() + std::strlen("script_event, "),
                    (figures[i].varnel_ns - empty->varnel_ns) / n, (figures[i].floor_ns - empty->floor_ns) / n);
    }
    destroy(kEngine);
    destroy(kLimited);
    lua_close(g_floor);
    const bool game_ok = std::string("game").find(only) == std::string::npos || run_game_frames(std::max(frames, 1));
    const bool alloc_ok = std::string("game allocator").find(only) == std::string::npos ||
                          run_allocator_cost(std::max(frames, 1));
    return game_ok && alloc_ok && standin::faults().empty() && !standin::live_cells() && !standin::live_strings() ? 0 : 1;
}
