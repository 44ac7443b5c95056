// varnel-run: tries a game script without the game.
//
//   varnel-run SCRIPT [HOST]
//   varnel-run --help | --version
//
// Plays the game on the stand-in host: makes engine 1, registers the HOST file's
// host scripts in order, loads SCRIPT, fires the HOST file's events in order and
// closes the engine. Without HOST it only loads SCRIPT. Prints each export it
// calls, each host call the script makes (with the HOST script's answer), each
// error report and each verdict, one per line; then the stand-in's ledger.
//
// Exit status: 0 all went well; 1 a script error was reported; 2 wrong usage or a
// HOST file that cannot be used (nothing was run); 3 the stand-in host found a
// fault, or a HOST play function failed.
#include <cstdio>
#include <cstring>
#include <string>

#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>
#endif

#include "standin/exports.h"
#include "runner/host_calls.h"
#include "runner/host_file.h"
#include "runner/show.h"
#include "standin/standin.h"

namespace {

constexpr double kEngine = 1;
constexpr int kExitScriptError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitFault = 3;

const char kUsage[] =
    "usage: varnel-run SCRIPT [HOST]\n"
    "       varnel-run --help | --version\n"
    "\n"
    "Runs the Lua file SCRIPT as the game would, on a stand-in for the game that\n"
    "checks every call: makes engine 1, registers HOST's host scripts, loads SCRIPT,\n"
    "makes HOST's events and calls in order, and destroys the engine. HOST is a Lua\n"
    "file returning {scripts = {...}, events = {...}} (see examples/demo_host.lua).\n"
    "Prints every export called and what it gave back, every host call, every error\n"
    "report, then the ledger: host cells and strings still alive (0 when varnel\n"
    "freed all it was given), and faults the stand-in found.\n"
    "\n"
    "Exit status: 0 all went well; 1 a script error was reported; 2 wrong usage or a\n"
    "HOST file that cannot be used; 3 the stand-in found a fault, or a HOST play\n"
    "function failed.\n";

struct Run {
    runner::HostFile host;
    std::size_t draws_shown = 0;
    std::size_t errors_shown = 0;
    int play_failures = 0;
};

// The one run of this process, which the hooks and host scripts installed in the
// stand-in read and count in.
Run g_run;

void line(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
}

void show_draws() {
    const auto& draws = standin::draws();
    for (; g_run.draws_shown < draws.size(); ++g_run.draws_shown) {
        const standin::Draw& d = draws[g_run.draws_shown];
        line("  host_draw_text " + runner::show_arg(d.x) + ", " + runner::show_arg(d.y) + ", " +
             runner::show_arg(d.text));
    }
}

void show_errors() {
    const auto& errors = standin::errors();
    for (; g_run.errors_shown < errors.size(); ++g_run.errors_shown)
        line("  host_report_error " + runner::show_arg(errors[g_run.errors_shown]));
}

standin::Value play(const runner::HostScript& script, const HostCallArg* args, int count) {
    std::string call = "  host_execute_script";
    for (int i = 0; i < count; ++i) call += (i ? ", " : " ") + runner::show_record(args[i]);
    standin::Value result;
    std::string message;
    if (runner::play_script(g_run.host, script, args, count, result, message)) {
        line(call + " -> " + runner::show_value(result));
        return result;
    }
    ++g_run.play_failures;
    line(call + " -> HOST script " + runner::show_text(script.name.c_str()) + " failed: " + message);
    return standin::Value::number(0);
}

std::string show_list(const std::vector<standin::Value>& values) {
    std::string text = "{";
    for (std::size_t i = 0; i < values.size(); ++i) text += (i ? ", " : "") + runner::show_value(values[i]);
    return text + "}";
}

void play_game(const char* script_path) {
    for (const runner::HostScript& script : g_run.host.scripts)
        standin::set_script(script.index, [&script](const HostCallArg* args, int count) {
            return play(script, args, count);
        });
    line("state(1)");
    state(kEngine);
    if (g_run.host.sandbox) {
        line("sandbox(1)");
        sandbox(kEngine);
    }
    if (g_run.host.has_time_limit) {
        line("time_limit(1, " + runner::show_number(g_run.host.time_limit) + ")");
        time_limit(kEngine, g_run.host.time_limit);
    }
    if (g_run.host.has_memory_limit) {
        line("memory_limit(1, " + runner::show_number(g_run.host.memory_limit) + ")");
        memory_limit(kEngine, g_run.host.memory_limit);
    }
    for (const runner::HostScript& script : g_run.host.scripts) {
        line("script_register(1, " + runner::show_text(script.name.c_str()) + ", " +
             runner::show_number(script.index) + ")");
        script_register(kEngine, script.name.c_str(), script.index);
    }
    line("load(1, " + runner::show_text(script_path) + ")");
    load(kEngine, script_path);
    int32_t handle = 0;
    for (const runner::HostEvent& event : g_run.host.events) {
        ++handle;
        standin::set_list(handle, event.values);
        if (event.export_name != "script_event") {
            line(runner::show_call(event));
            line(runner::call_and_show_result(event, kEngine, handle));
            standin::remove_list(handle);
            continue;
        }
        line("script_event(1, " + runner::show_text(event.name.c_str()) + ", list " + show_list(event.values) + ")");
        const double verdict = script_event(kEngine, event.name.c_str(), handle);
        line("  verdict " + std::string(verdict == 0.0 ? "0.0" : verdict == 1.0 ? "1.0" : runner::show_number(verdict)));
        standin::remove_list(handle);
    }
    line("destroy(1)");
    destroy(kEngine);
}

// The arguments as UTF-8: on Windows read as wide characters, so that a path
// outside the system's code page survives (load and the HOST reader open UTF-8
// paths); elsewhere as they are.
std::vector<std::string> utf8_arguments(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
#if defined(_WIN32)
    int n = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &n);
    if (!wide) return args;
    if (n == argc) {
        for (int i = 0; i < n; ++i) {
            const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
            if (size <= 0) continue;
            std::string text(static_cast<std::size_t>(size), '\0');
            WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &text[0], size, nullptr, nullptr);
            text.resize(static_cast<std::size_t>(size - 1));
            args[static_cast<std::size_t>(i)] = text;
        }
    }
    LocalFree(wide);
#endif
    return args;
}

}  // namespace

int main(int argc, char** raw_argv) {
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);  // the same bytes on Windows as elsewhere
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    const std::vector<std::string> args = utf8_arguments(argc, raw_argv);
    std::vector<const char*> argv_list;
    for (const std::string& a : args) argv_list.push_back(a.c_str());
    const char* const* argv = argv_list.data();
    if (argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && !std::strcmp(argv[1], "--version")) {
        std::fputs("varnel-run " VARNEL_RUN_VERSION "\n", stdout);
        return 0;
    }
    if (argc < 2 || argc > 3 || argv[1][0] == '-') {
        std::fputs("usage: varnel-run SCRIPT [HOST]\n       varnel-run --help | --version\n", stderr);
        return kExitUsage;
    }
    const char* script_path = argv[1];
    if (argc == 3) {
        std::string message;
        if (!runner::read_host_file(argv[2], g_run.host, message)) {
            std::fprintf(stderr, "varnel-run: HOST file %s: %s\n", argv[2], message.c_str());
            runner::close_host_file(g_run.host);
            return kExitUsage;
        }
    }

    standin::install();
    standin::reset();
    standin::set_draw_hook(show_draws);
    standin::set_error_hook(show_errors);
    play_game(script_path);

    const std::size_t faults = standin::faults().size();
    for (const std::string& fault : standin::faults()) line("fault: " + fault);
    const std::size_t cells = standin::live_cells(), strings = standin::live_strings();
    line("ledger: " + std::to_string(cells) + " live cells, " + std::to_string(strings) + " live host strings, " +
         std::to_string(faults) + " faults");
    const std::size_t errors = standin::errors().size();
    int status = 0;
    std::string why;
    if (faults || cells || strings) {
        status = kExitFault;
        why = "the stand-in host found a fault";
    } else if (g_run.play_failures) {
        status = kExitFault;
        why = std::to_string(g_run.play_failures) + " HOST play function(s) failed";
    } else if (errors) {
        status = kExitScriptError;
        why = std::to_string(errors) + (errors == 1 ? " error" : " errors") + " reported";
    }
    line("exit status " + std::to_string(status) + (why.empty() ? "" : ": " + why));
    std::fflush(stdout);
    standin::reset();
    runner::close_host_file(g_run.host);
    return status;
}
