// The randomized driver: long random sequences of varnel's exports against the
// stand-in host, with host scripts, lists and hooks that answer at random and
// call back into the exports. A model of which engines exist and which are
// running tells what each call must do; the stand-in's ledger and fault list
// tell whether the host contract held.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fuzz/rng.h"
#include "standin/standin.h"

struct Counts {
    uint64_t sequences = 0, steps = 0, nested = 0, probes = 0;
    uint64_t state = 0, load = 0, destroy = 0, script_register = 0, script_event = 0, time_limit = 0;
    uint64_t memory_limit = 0, sandbox = 0;
    uint64_t scripts_run = 0, reports = 0, refused_destroys = 0, results = 0;
};

class Driver {
public:
    Driver(uint64_t seed, const std::string& file_prefix);

    // Runs sequence k of steps steps. False, after printing why, on the first fault.
    bool run_sequence(uint64_t k, int steps);
    const Counts& counts() const { return counts_; }
    void set_verbose(bool on) { verbose_ = on; }

private:
    struct EngineModel {
        int running = 0;
        bool closing = false;
    };

    uint64_t seed_;
    std::string file_prefix_;
    Rng rng_{0};
    Counts counts_;
    bool verbose_ = false;

    // The engines varnel should have, keyed like its registry (0 and -0 are one key).
    std::map<double, EngineModel> engines_;
    std::vector<double> active_;  // ids of the exports in progress, innermost last
    int depth_ = 0;
    bool reenter_ = false;        // hooks and host scripts may call the exports
    uint32_t reenter_percent_ = 0;
    std::vector<std::string> names_;  // names the game registers
    std::vector<std::string> trace_;  // the exports of the current step
    std::string failure_;
    uint64_t probe_count_ = 0;

    // Probe state: what the probe's host script saw and answers.
    std::vector<standin::Arg> probe_seen_;
    standin::Value probe_answer_;

    // Steps.
    void step();
    void nested_action();
    void probe();
    void finish_sequence();

    // The exports, with the model's expectations checked.
    void call_state(double id);
    void call_load(double id, const std::string& path);
    void call_destroy(double id);
    void call_register(double id, const std::string& name, double index);
    // Runs an export that works on the engine of id (load, script_register), counting
    // the engine as running meanwhile, and checks its result and its refusal.
    template <typename Call>
    void call_on_engine(const char* what, double id, Call call);
    void call_event(double id, const std::string& name, double list);
    void call_time_limit(double id, double seconds);
    // One of run, call_real, call_text, the global_* exports or last_error, at random.
    void call_results(double id);
    void call_memory_limit(double id, double bytes);
    void call_memory_used(double id);
    void call_sandbox(double id);
    // One of the three above on id, at random.
    void call_memory_or_sandbox(double id);

    // Random inputs.
    double random_id(bool for_state);
    double random_handle();
    double random_seconds();
    double random_bytes();
    std::string random_name();
    std::string random_path();
    std::string random_text();
    std::string random_code();
    std::string random_global_path();
    standin::Value random_value();
    void set_up_list(double handle);
    void write_script(const std::string& path);
    standin::Value host_script(const HostCallArg* args, int count);
    void install_host();
    void maybe_reenter(uint32_t percent);

    // Bookkeeping.
    EngineModel* model(double id);
    uint64_t reports() const;
    void note(const std::string& what);
    void check(bool ok, const std::string& what);
    bool settled(uint64_t k, int step);
};

std::string show_number(double d);

// A text as the trace shows it: quoted, control bytes escaped, cut after 40 bytes.
std::string shown(const std::string& s);

// Marks an export in progress for the hooks' choice of ids.
class Active {
public:
    Active(std::vector<double>& active, int& depth, double id) : active_(active), depth_(depth) {
        active_.push_back(id);
        ++depth_;
    }
    ~Active() {
        active_.pop_back();
        --depth_;
    }
    Active(const Active&) = delete;
    Active& operator=(const Active&) = delete;

private:
    std::vector<double>& active_;
    int& depth_;
};


// Script indices the game registers (each has a host script), and engine ids it uses.
extern const std::vector<double> kScriptIndices;
extern const std::vector<double> kEngineIds;
constexpr double kProbeScript = 4242;
