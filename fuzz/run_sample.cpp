// run_sample FILE: runs a Lua file in a varnel engine, as the host would, and
// prints what it prints. Each error report follows on its own line as
// "error: <text>". Exits 1 when the stand-in saw a fault or a cell outlived the run.
#include <cstdio>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "standin/exports.h"
#include "standin/standin.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
#if defined(_WIN32)
    // The engine writes through the same C runtime: no \r before each \n.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    standin::install();
    standin::reset();
    standin::set_error_hook([] {
        const standin::Arg& report = standin::errors().back();
        std::fflush(stdout);
        std::printf("error: %s\n", report.has_text ? report.text.c_str() : "");
    });
    state(1);
    load(1, argv[1]);
    destroy(1);
    std::fflush(stdout);
    for (const auto& f : standin::faults()) std::fprintf(stderr, "fault: %s\n", f.c_str());
    if (standin::live_cells() || standin::live_strings()) std::fprintf(stderr, "%s", standin::ledger_report().c_str());
    return standin::faults().empty() && !standin::live_cells() && !standin::live_strings() ? 0 : 1;
}
