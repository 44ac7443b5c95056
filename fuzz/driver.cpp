// fuzz_driver SEED SEQUENCES STEPS [--seconds N] [--first K] [--verbose] [--progress]
//
// Runs SEQUENCES random sequences of STEPS steps each against the stand-in host,
// sequence k drawing from its own generator seeded by SEED and k, and stops at the
// first fault. With --seconds it starts no sequence after N seconds (SEQUENCES 0:
// as many as fit). --first K starts at sequence K, to replay one. Script files are
// written to the working directory. --progress names each sequence on stderr as it
// starts, so that a run the process did not survive still tells which one to replay.
// Exits 0 only when nothing went wrong.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/driver.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s SEED SEQUENCES STEPS [--seconds N] [--first K] [--verbose] [--progress]\n", argv[0]);
        return 2;
    }
    const uint64_t seed = std::strtoull(argv[1], nullptr, 10);
    const uint64_t sequences = std::strtoull(argv[2], nullptr, 10);
    const int steps = std::atoi(argv[3]);
    double seconds = 0;
    uint64_t first = 0;
    bool verbose = false;
    bool progress = false;
    for (int i = 4; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (!std::strcmp(argv[i], "--first") && i + 1 < argc) {
            first = std::strtoull(argv[++i], nullptr, 10);
        } else if (!std::strcmp(argv[i], "--verbose")) {
            verbose = true;
        } else if (!std::strcmp(argv[i], "--progress")) {
            progress = true;
        } else {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    if (sequences == 0 && seconds <= 0) {
        std::fprintf(stderr, "SEQUENCES 0 needs --seconds\n");
        return 2;
    }

    if (verbose) std::setvbuf(stdout, nullptr, _IONBF, 0);  // all of it, even when a check aborts
    standin::install();
    Driver driver(seed, "fuzz_" + std::to_string(seed) + "_");
    driver.set_verbose(verbose);
    const auto start = std::chrono::steady_clock::now();
    bool ok = true;
    for (uint64_t k = first; ok && (sequences == 0 || k < first + sequences); ++k) {
        if (seconds > 0 && std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >= seconds)
            break;
        if (progress) {
            std::fprintf(stderr, "fuzz: sequence %llu at %.1f s\n", static_cast<unsigned long long>(k),
                         std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            std::fflush(stderr);
        }
        ok = driver.run_sequence(k, steps);
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const Counts& c = driver.counts();
    std::printf("fuzz: seed %llu, %llu sequences of %d steps, %llu steps, %llu nested calls, %llu probes, %.1f s\n",
                static_cast<unsigned long long>(seed), static_cast<unsigned long long>(c.sequences), steps,
                static_cast<unsigned long long>(c.steps), static_cast<unsigned long long>(c.nested),
                static_cast<unsigned long long>(c.probes), elapsed);
    std::printf("fuzz: exports: state %llu, load %llu, destroy %llu (%llu refused while running), "
                "script_register %llu, script_event %llu, time_limit %llu, memory_limit %llu, sandbox %llu, "
                "result calls %llu\n",
                static_cast<unsigned long long>(c.state), static_cast<unsigned long long>(c.load),
                static_cast<unsigned long long>(c.destroy), static_cast<unsigned long long>(c.refused_destroys),
                static_cast<unsigned long long>(c.script_register), static_cast<unsigned long long>(c.script_event),
                static_cast<unsigned long long>(c.time_limit), static_cast<unsigned long long>(c.memory_limit),
                static_cast<unsigned long long>(c.sandbox), static_cast<unsigned long long>(c.results));
    std::printf("fuzz: host scripts run %llu, error reports %llu, faults %d\n",
                static_cast<unsigned long long>(c.scripts_run), static_cast<unsigned long long>(c.reports),
                ok ? 0 : 1);
    for (int d = 0; d < 5; ++d) std::remove(("fuzz_" + std::to_string(seed) + "_" + std::to_string(d) + ".lua").c_str());
    std::remove(("fuzz_" + std::to_string(seed) + "_probe.lua").c_str());
    return ok ? 0 : 1;
}
