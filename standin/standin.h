// The stand-in host: routines at the host's entry addresses, with the host's register
// convention, that check everything the bridge must pass and keep a ledger of live
// cells and host strings. Tests, the demo and the benchmarks run varnel against it.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/host_call_arg.h"
#include "standin/routine_ids.h"

namespace standin {

// The floating-point words and registers as a stub saved them on entry, then the
// caller's return address and the routine's stack parameters, top down.
struct Registers {
    uint32_t x87, mxcsr;
    uint32_t eax, ebx, ecx, edx, esi, edi, ebp;
    uint32_t return_address;
    uint32_t stack[3];
};

// A value the host hands out, as a list entry or a script's result.
struct Value {
    int32_t kind = HOST_KIND_NUMBER;
    double real = 0.0;
    bool has_text = false;  // with kind text: false gives the empty text (a null pointer)
    std::string text;

    static Value number(double r) { return {HOST_KIND_NUMBER, r, false, {}}; }
    static Value text_of(std::string t) { return {HOST_KIND_TEXT, 0.0, true, std::move(t)}; }
    static Value empty_text() { return {HOST_KIND_TEXT, 0.0, false, {}}; }
    static Value raw(int32_t kind, double r) { return {kind, r, false, {}}; }
};

// A record a routine received, copied at the call.
struct Arg {
    int32_t kind;
    double real;
    bool has_text;  // kind text with a non-null pointer
    std::string text;
};

struct Draw {
    Arg x, y, text;
};

// Runs a host script: args[0] is the script index, then the script's arguments.
// The records are the caller's and are valid during the call only.
using ScriptHandler = std::function<Value(const HostCallArg* args, int count)>;
using Hook = std::function<void()>;

// Maps the routines at their addresses (Linux) or checks that the linker put them
// there (Windows). Call once before anything reaches the host.
void install();

// Everything a test leaves behind, cleared: logs, faults, scripts, lists, hooks;
// the floating-point environment back to the one VARNEL_HOST_FP names.
// Cells and strings still live are freed (after being reported by ledger_report).
void reset();

// Ledger.
size_t live_cells();
size_t live_strings();
std::string ledger_report();  // empty when no cell or string is live

// Contract violations seen by the routines, in order.
std::vector<std::string>& faults();

// Host scripts and lists.
void set_script(double index, ScriptHandler handler);
void set_list(int32_t handle, std::vector<Value> entries);
void set_list_size(int32_t handle, double size);  // what host_list_size answers
void remove_list(int32_t handle);

// Called with each built-in routine call as it arrives, e.g. `host_draw_text 1, 2, "hi"`.
void set_trace(std::function<void(const std::string&)> trace);

// Called inside host_draw_text / host_report_error / host_list_done, after logging.
void set_draw_hook(Hook hook);
void set_error_hook(Hook hook);
void set_list_done_hook(Hook hook);
// Called inside the cell or record routine given (R_NEW_CELL .. R_FINALIZE_RECORD),
// where it has nothing half done: before a new cell is made, after the others'
// work. A hook that raises leaves the ledger as the routine left it.
void set_cell_hook(int routine, Hook hook);

// Logs.
std::vector<Draw>& draws();
std::vector<Arg>& errors();              // each error report's one record
std::vector<std::string>& calls();      // every routine call, in order, in short form
void set_logging(bool on);              // calls() and the argument copies (benchmarks)
uint32_t call_count(int routine);
const Registers& last_registers(int routine);
uint32_t returned_eax(int routine);     // what a routine that has no result leaves in EAX

// Text of an Arg for messages: "<null>" for the empty text.
std::string show(const Arg& a);

}  // namespace standin
