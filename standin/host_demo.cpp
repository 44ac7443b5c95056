// The stand-in host as a program: runs a Lua file the way a game would and prints
// every host routine call it receives, one per line.
//
//   standin_host SCRIPT [--frames N] [--event NAME] [VALUE ...]
//
// Makes engine 1, exposes two host scripts to it (host_add: the sum of its number
// arguments; host_greet: "hello, " and its first argument), loads SCRIPT, then
// for each of N frames fires event NAME with a list of the frame number and the
// VALUEs (numbers where they parse as numbers, texts otherwise), and closes the
// engine. Ends with the ledger: cells and host strings still alive, faults seen.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "standin/exports.h"
#include "standin/standin.h"

namespace {

standin::Value parse(const char* s) {
    char* end = nullptr;
    double d = std::strtod(s, &end);
    if (end != s && *end == '\0') return standin::Value::number(d);
    return standin::Value::text_of(s);
}

void expose_host_scripts() {
    standin::set_script(1, [](const HostCallArg* args, int count) {
        double sum = 0;
        for (int i = 1; i < count; ++i)
            if (args[i].kind == HOST_KIND_NUMBER) sum += args[i].real;
        return standin::Value::number(sum);
    });
    standin::set_script(2, [](const HostCallArg* args, int count) {
        std::string who = count > 1 && args[1].kind == HOST_KIND_TEXT && args[1].text ? args[1].text : "stranger";
        return standin::Value::text_of("hello, " + who);
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SCRIPT [--frames N] [--event NAME] [VALUE ...]\n", argv[0]);
        return 2;
    }
    const char* script = argv[1];
    int frames = 0;
    const char* event = "on_frame";
    std::vector<standin::Value> values;
    for (int i = 2; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--frames") && i + 1 < argc) {
            frames = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--event") && i + 1 < argc) {
            event = argv[++i];
        } else {
            values.push_back(parse(argv[i]));
        }
    }

    standin::install();
    standin::reset();
    standin::set_trace([](const std::string& line) { std::printf("  %s\n", line.c_str()); });
    expose_host_scripts();

    std::printf("state(1)\n");
    state(1);
    std::printf("script_register(1, \"host_add\", 1)\n");
    script_register(1, "host_add", 1);
    std::printf("script_register(1, \"host_greet\", 2)\n");
    script_register(1, "host_greet", 2);
    std::printf("load(1, \"%s\")\n", script);
    load(1, script);
    for (int frame = 1; frame <= frames; ++frame) {
        std::vector<standin::Value> list{standin::Value::number(frame)};
        list.insert(list.end(), values.begin(), values.end());
        standin::set_list(frame, list);
        std::printf("script_event(1, \"%s\", %d)\n", event, frame);
        double verdict = script_event(1, event, frame);
        std::printf("  -> %.1f\n", verdict);
        standin::remove_list(frame);
    }
    std::printf("destroy(1)\n");
    destroy(1);

    size_t faults = standin::faults().size();
    for (const auto& f : standin::faults()) std::printf("fault: %s\n", f.c_str());
    std::printf("ledger: %zu live cells, %zu live host strings, %zu faults\n", standin::live_cells(),
                standin::live_strings(), faults);
    return standin::live_cells() || standin::live_strings() || faults ? 1 : 0;
}
