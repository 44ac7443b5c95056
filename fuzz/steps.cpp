// What the driver does in a sequence: random steps at the top, random calls from
// inside the hooks and host scripts it installs, and the checks between steps.
#include <cstdio>
#include <fstream>

#include "fuzz/driver.h"
#include "fuzz/lua_gen.h"

Driver::Driver(uint64_t seed, const std::string& file_prefix) : seed_(seed), file_prefix_(file_prefix) {
    names_ = {"fz_add", "fz_echo", "fz_text", "", "a.b", "with space", "\xC3\xA9t\xE9\x80\xFF",
              std::string(300, 'n'), std::string(5000, 'L'), "ev_1", "draw_text", "tostring", "KEEP",
              "error", "newproxy"};
    // A few names of random bytes, the same for every sequence of a seed.
    Rng r(seed ^ 0x5A5A5A5Aull);
    for (int k = 0; k < 3; ++k) {
        std::string s;
        for (int i = r.range(1, 10); i > 0; --i) s += static_cast<char>(r.range(1, 255));
        names_.push_back(s);
    }
}

void Driver::write_script(const std::string& path) {
    const std::string text = random_script(rng_, names_);
    if (verbose_) std::printf("----- %s\n%s-----\n", path.c_str(), text.c_str());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

void Driver::step() {
    reenter_ = rng_.chance(40);
    reenter_percent_ = rng_.pick({5u, 25u, 70u});
    size_t kind = rng_.weighted({10, 28, 6, 12, 28, 4, 6, 3, 14, 3});
    if (engines_.size() < 2 && rng_.chance(50)) kind = 0;  // keep a few engines open
    switch (kind) {
        case 0: {
            // Most games register their scripts right after making the engine.
            const double id = random_id(true);
            call_state(id);
            for (int i = 0; i < 3 && rng_.chance(70); ++i) call_register(id, names_[i], rng_.pick(kScriptIndices));
            break;
        }
        case 1: {
            const std::string path = random_path();
            write_script(file_prefix_ + "0.lua");
            call_load(random_id(false), path);
            break;
        }
        case 2:
            call_destroy(random_id(false));
            break;
        case 3:
            call_register(random_id(false), random_name(), rng_.pick(kScriptIndices));
            break;
        case 4: {
            const double h = random_handle();
            set_up_list(h);
            std::string name = rng_.chance(80) ? event_function_name(rng_.below(kEventFunctions))
                                               : rng_.chance(50) ? random_name()
                                                                 : rng_.pick<std::string>({"", "nope", "a.b", "error",
                                                                                           "pcall", "collectgarbage",
                                                                                           "tostring", "select"});
            call_event(random_id(false), name, h);
            break;
        }
        case 5:
            probe();
            break;
        case 7:
            call_time_limit(random_id(false), random_seconds());
            break;
        case 8:
            call_results(random_id(false));
            break;
        case 9:
            call_memory_or_sandbox(random_id(false));
            break;
        default: {
            // A few frames of one engine's events in a row.
            const double id = random_id(false);
            for (int i = rng_.range(2, 6); i > 0 && failure_.empty(); --i) {
                const double h = random_handle();
                set_up_list(h);
                call_event(id, event_function_name(rng_.below(kEventFunctions)), h);
            }
            break;
        }
    }
}

void Driver::call_memory_or_sandbox(double id) {
    switch (rng_.weighted({5, 3, 2})) {
        case 0:
            call_memory_limit(id, random_bytes());
            break;
        case 1:
            call_memory_used(id);
            break;
        default:
            call_sandbox(id);
            break;
    }
}

// A call of an export from inside a host routine: a host script, a draw, the end
// of a list or an error report. It favours the engines whose exports are running.
void Driver::nested_action() {
    switch (rng_.weighted({2, 3, 6, 2, 4, 2, 3, 2})) {
        case 0:
            call_state(random_id(true));
            break;
        case 1: {
            const std::string path = file_prefix_ + std::to_string(depth_) + ".lua";
            write_script(path);
            call_load(random_id(false), rng_.chance(90) ? path : random_path());
            break;
        }
        case 2:
            call_destroy(rng_.chance(70) ? rng_.pick(active_) : random_id(false));
            break;
        case 3:
            call_register(random_id(false), random_name(), rng_.pick(kScriptIndices));
            break;
        case 5:
            // Often on an engine whose Lua code is running right now.
            call_time_limit(rng_.chance(70) ? rng_.pick(active_) : random_id(false), random_seconds());
            break;
        case 6:
            call_results(rng_.chance(70) ? rng_.pick(active_) : random_id(false));
            break;
        case 7:
            call_memory_or_sandbox(rng_.chance(70) ? rng_.pick(active_) : random_id(false));
            break;
        default: {
            const double h = random_handle();
            set_up_list(h);
            call_event(random_id(false), event_function_name(rng_.below(kEventFunctions)), h);
            break;
        }
    }
}

// Closes every engine and checks that varnel has none left: an event on any id
// of the game's is reported as having no engine.
void Driver::finish_sequence() {
    reenter_ = false;
    note("-- end of sequence");
    std::vector<double> open;
    for (const auto& e : engines_) open.push_back(e.first);
    for (double id : open) call_destroy(id);
    check(engines_.empty(), "engines left open after destroying them all");
    standin::set_list(0, {});
    for (double id : kEngineIds) call_event(id, "ev_0", 0.0);
}

bool Driver::settled(uint64_t k, int step) {
    const auto& faults = standin::faults();
    if (faults.empty() && failure_.empty() && standin::live_cells() == 0 && standin::live_strings() == 0) {
        standin::calls().clear();
        standin::draws().clear();
        standin::errors().clear();
        trace_.clear();
        return true;
    }
    std::printf("FAIL: seed %llu, sequence %llu, step %d\n", static_cast<unsigned long long>(seed_),
                static_cast<unsigned long long>(k), step);
    for (const auto& f : faults) std::printf("  fault: %s\n", f.c_str());
    if (!failure_.empty()) std::printf("  wrong: %s\n", failure_.c_str());
    if (standin::live_cells() || standin::live_strings())
        std::printf("  ledger: %zu live cells, %zu live host strings\n%s", standin::live_cells(),
                    standin::live_strings(), standin::ledger_report().c_str());
    std::printf("  the step's exports:\n");
    for (const auto& line : trace_) std::printf("    %s\n", line.c_str());
    return false;
}

bool Driver::run_sequence(uint64_t k, int steps) {
    rng_ = Rng(sequence_seed(seed_, k));
    engines_.clear();
    failure_.clear();
    trace_.clear();
    standin::reset();
    install_host();
    if (verbose_) standin::set_trace([](const std::string& line) { std::printf("      %.160s\n", line.c_str()); });
    bool ok = true;
    for (int i = 0; i < steps && ok; ++i) {
        step();
        ++counts_.steps;
        ok = settled(k, i);
    }
    if (ok) {
        finish_sequence();
        ok = settled(k, steps);
    }
    counts_.reports += reports();
    if (ok) ++counts_.sequences;
    standin::reset();
    return ok;
}

// A host script: answers a random value of any kind, and may call the exports first.
standin::Value Driver::host_script(const HostCallArg* args, int count) {
    ++counts_.scripts_run;
    check(count >= 1 && args[0].kind == HOST_KIND_NUMBER, "host_execute_script without the script index");
    maybe_reenter(reenter_percent_);
    return random_value();
}

// Puts a host script at every index the game registers, and the probe's script.
void Driver::install_host() {
    for (double index : kScriptIndices)
        standin::set_script(index, [this](const HostCallArg* args, int count) { return host_script(args, count); });
    standin::set_script(kProbeScript, [this](const HostCallArg* args, int count) {
        probe_seen_.clear();
        for (int i = 0; i < count; ++i) {
            standin::Arg a{args[i].kind, args[i].real, args[i].kind == HOST_KIND_TEXT && args[i].text, {}};
            if (a.has_text) a.text = args[i].text;
            probe_seen_.push_back(a);
        }
        return probe_answer_;
    });
    standin::set_draw_hook([this] { maybe_reenter(reenter_percent_); });
    standin::set_list_done_hook([this] { maybe_reenter(reenter_percent_); });
    standin::set_error_hook([this] { maybe_reenter(reenter_percent_ / 2); });
}

void Driver::maybe_reenter(uint32_t percent) {
    if (!reenter_ || depth_ == 0 || depth_ >= 4 || !rng_.chance(percent)) return;
    ++counts_.nested;
    nested_action();
}
