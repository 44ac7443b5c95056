// The stand-in's routines: what each host routine does, and the checks on what
// the bridge passed it.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <type_traits>

#include "bridge/nexlink_table.h"
#include "host/host_contract.h"
#include "standin/fp_env.h"
#include "standin/ledger.h"
#include "standin/standin.h"

namespace standin {
namespace {

struct State {
    std::map<double, ScriptHandler> scripts;
    std::map<int32_t, std::vector<Value>> lists;
    std::map<int32_t, double> list_sizes;
    Hook draw_hook, error_hook, list_done_hook;
    Hook cell_hooks[R_EXECUTE_SCRIPT];
    std::function<void(const std::string&)> trace;
    std::vector<Draw> draws;
    std::vector<Arg> errors;
    std::vector<std::string> calls;
    bool logging = true;
    uint32_t counts[R_COUNT] = {};
    Registers last[R_COUNT] = {};
};

State& state() {
    static State* s = new State;
    return *s;
}

const char* const kNames[R_COUNT] = {"new_cell",   "assign_string", "clear_string", "dispose_cell",
                                     "finalize",   "script",        "list_size",    "list_get",
                                     "list_done",  "error",         "draw"};

std::string hex(uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08" PRIX32, v);
    return b;
}

std::string num(double d) {
    char b[32];
    std::snprintf(b, sizeof b, "%.14g", d);
    return b;
}

// Records a fault when ok is false. what is a text, or a function that makes one:
// a message is only made for a fault, so checks that pass cost next to nothing.
template <typename What>
void expect(bool ok, int id, const What& what) {
    if (ok) return;
    if constexpr (std::is_invocable_v<What>)
        fault(std::string(kNames[id]) + ": " + what());
    else
        fault(std::string(kNames[id]) + ": " + what);
}

void expect_reg(int id, const char* reg, uint32_t got, uint32_t want) {
    expect(got == want, id,
           [&] { return std::string(reg) + " = " + hex(got) + ", expected " + hex(want); });
}

bool all_zero(const void* p, size_t n) {
    const unsigned char* b = static_cast<const unsigned char*>(p);
    for (size_t i = 0; i < n; ++i)
        if (b[i]) return false;
    return true;
}

Cell* as_cell(uint32_t v) { return reinterpret_cast<Cell*>(static_cast<uintptr_t>(v)); }

// A text handed over for assignment must sit in a block laid out as a host string.
void check_source_block(const char* text) {
    int32_t header[2];
    std::memcpy(header, text - HOST_STRING_HEADER, sizeof header);
    expect(header[0] == HOST_STRING_LITERAL_REFCOUNT, R_ASSIGN_STRING, [&] {
        return "source block's reference count is " + std::to_string(header[0]) + ", expected -1";
    });
    expect(header[1] == static_cast<int32_t>(std::strlen(text)), R_ASSIGN_STRING, [&] {
        return "source block's length is " + std::to_string(header[1]) + ", the text has " +
               std::to_string(std::strlen(text)) + " bytes";
    });
}

// Argument records: zero-filled around the fields set, texts borrowed from live cells.
void check_record(int id, const HostCallArg& r, int i) {
    auto at = [i](const char* what) { return "record " + std::to_string(i) + ": " + what; };
    expect(r.reserved0 == 0 && r.reserved1 == 0, id, [&] { return at("reserved words are not zero"); });
    if (r.kind == HOST_KIND_NUMBER) {
        expect(r.text == nullptr, id, [&] { return at("a number record with a text pointer"); });
    } else if (r.kind == HOST_KIND_TEXT) {
        expect(all_zero(&r.real, sizeof r.real), id, [&] { return at("a text record with a real"); });
        if (r.text) {
            Cell* owner = string_owner(r.text);
            expect(owner && is_live_cell(owner) && *owner == r.text, id,
                   [&] { return at("text is not the string of a live cell"); });
        }
    } else {
        expect(false, id, [&] { return at("kind ") + std::to_string(r.kind); });
    }
}

Arg copy(const HostCallArg& r) {
    Arg a{r.kind, r.real, r.kind == HOST_KIND_TEXT && r.text != nullptr, {}};
    if (a.has_text) a.text = r.text;
    return a;
}

void write_result(HostCallArg* result, const Value& v) {
    result->kind = v.kind;
    result->real = v.real;
    if (v.kind == HOST_KIND_TEXT && v.has_text && !v.text.empty())
        result->text = make_host_string(v.text.data(), v.text.size(), nullptr);
    // The host keeps the empty string as a null pointer.
}

const char* const kHostNames[R_COUNT] = {"", "", "", "", "",
                                         "host_execute_script", "host_list_size", "host_list_get",
                                         "host_list_done", "host_report_error", "host_draw_text"};

void log_call(int id, const HostCallArg* records, int count) {
    std::string line = kNames[id];
    for (int i = 0; i < count; ++i) {
        Arg a = copy(records[i]);
        line += i ? ", " : " ";
        line += a.kind == HOST_KIND_TEXT ? show(a) : num(a.real);
    }
    if (state().trace) state().trace(kHostNames[id] + line.substr(std::strlen(kNames[id])));
    state().calls.push_back(line);
}

uint32_t built_in(int id, const Registers& r) {
    State& s = state();
    HostCallArg* result = reinterpret_cast<HostCallArg*>(static_cast<uintptr_t>(r.stack[0]));
    const HostCallArg* records = reinterpret_cast<const HostCallArg*>(static_cast<uintptr_t>(r.stack[2]));
    int count = static_cast<int32_t>(r.ecx);
    uint32_t eax = 0xA1A1A100u | static_cast<uint32_t>(id);

    expect_reg(id, "tag", r.stack[1], HOST_CALL_TAG);
    expect(result != nullptr, id, "no result record");
    if (!result) return eax;
    expect(all_zero(result, sizeof *result), id, "result record is not zero-filled");
    static const int kExpected[R_COUNT] = {0, 0, 0, 0, 0, -1, 1, 2, 1, 1, 3};
    if (kExpected[id] >= 0) expect_reg(id, "ECX (count)", r.ecx, static_cast<uint32_t>(kExpected[id]));
    if (count < 1 || count > 100000 || !records) {
        expect(false, id, [&] { return "count " + std::to_string(count); });
        return eax;
    }
    for (int i = 0; i < count; ++i) check_record(id, records[i], i);
    if (s.logging) log_call(id, records, count);

    switch (id) {
        case R_EXECUTE_SCRIPT: {
            expect(records[0].kind == HOST_KIND_NUMBER, id, "record 0 is not the script index");
            auto it = s.scripts.find(records[0].real);
            expect(it != s.scripts.end(), id, [&] { return "no host script " + num(records[0].real); });
            if (it != s.scripts.end()) write_result(result, it->second(records, count));
            break;
        }
        case R_LIST_SIZE:
        case R_LIST_GET:
        case R_LIST_DONE: {
            double h = records[0].real;
            expect(records[0].kind == HOST_KIND_NUMBER && h == std::trunc(h), id,
                   [&] { return "handle " + num(h); });
            int32_t handle = static_cast<int32_t>(h);
            auto it = s.lists.find(handle);
            expect(it != s.lists.end(), id, [&] { return "no list " + num(h); });
            if (it == s.lists.end()) break;
            if (id == R_LIST_SIZE) {
                auto sz = s.list_sizes.find(handle);
                result->real = sz != s.list_sizes.end() ? sz->second : static_cast<double>(it->second.size());
            } else if (id == R_LIST_GET && count == 2) {
                double pos = records[1].real;
                bool ok = records[1].kind == HOST_KIND_NUMBER && pos >= 0 && pos < it->second.size() &&
                          pos == std::trunc(pos);
                expect(ok, id, [&] { return "position " + num(pos); });
                if (ok) write_result(result, it->second[static_cast<size_t>(pos)]);
            } else if (id == R_LIST_DONE && s.list_done_hook) {
                s.list_done_hook();
            }
            break;
        }
        case R_REPORT_ERROR:
            expect(records[0].kind == HOST_KIND_TEXT, id, "record 0 is not a text");
            s.errors.push_back(copy(records[0]));
            if (s.error_hook) s.error_hook();
            break;
        case R_DRAW_TEXT:
            if (count == 3) {
                expect(records[0].kind == HOST_KIND_NUMBER && records[1].kind == HOST_KIND_NUMBER &&
                           records[2].kind == HOST_KIND_TEXT,
                       id, "kinds are not number, number, text");
                if (s.logging) s.draws.push_back({copy(records[0]), copy(records[1]), copy(records[2])});
            }
            if (s.draw_hook) s.draw_hook();
            break;
    }
    return eax;
}

uint32_t cell_routine(int id, const Registers& r) {
    Cell* cell = as_cell(r.eax);
    uint32_t eax = 0xA1A1A100u | static_cast<uint32_t>(id);
    switch (id) {
        case R_NEW_CELL:
            expect_reg(id, "EAX (size)", r.eax, HOST_STRING_CELL_SIZE);
            expect_reg(id, "EDX (descriptor)", r.edx, STRING_TYPE_DESCRIPTOR);
            if (state().logging) state().calls.push_back("new_cell");
            return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(new_cell()));
        case R_ASSIGN_STRING: {
            expect_reg(id, "EBX", r.ebx, r.eax);
            const char* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(r.edx));
            if (!is_live_cell(cell) || !text) {
                expect(false, id, [&] { return "cell " + hex(r.eax) + " or text " + hex(r.edx); });
                return eax;
            }
            check_source_block(text);
            if (*cell) release_host_string(*cell, cell, kNames[id]);
            size_t n = std::strlen(text);
            *cell = n ? make_host_string(text, n, cell) : nullptr;
            if (state().logging) state().calls.push_back("assign \"" + std::string(text) + "\"");
            return eax;
        }
        case R_CLEAR_STRING:
        case R_DISPOSE_CELL:
            if (id == R_DISPOSE_CELL) expect_reg(id, "EDX (descriptor)", r.edx, STRING_TYPE_DESCRIPTOR);
            if (!is_live_cell(cell)) {
                expect(false, id, [&] { return "cell " + hex(r.eax) + " is not live"; });
                return eax;
            }
            if (*cell) release_host_string(*cell, cell, kNames[id]);
            *cell = nullptr;
            if (id == R_DISPOSE_CELL) free_cell(cell);
            if (state().logging) state().calls.push_back(kNames[id]);
            return eax;
        case R_FINALIZE_RECORD: {
            expect_reg(id, "EDX (descriptor)", r.edx, VALUE_TYPE_DESCRIPTOR);
            HostCallArg* record = reinterpret_cast<HostCallArg*>(static_cast<uintptr_t>(r.eax));
            if (!record) {
                expect(false, id, "null record");
                return eax;
            }
            if (record->kind == HOST_KIND_TEXT && record->text) {
                release_host_string(record->text, nullptr, kNames[id]);
                record->text = nullptr;
            }
            if (state().logging) state().calls.push_back("finalize");
            return eax;
        }
    }
    return eax;
}

// A built-in routine runs the host's own code: it must be entered with the words
// the host runs with.
void check_host_words(int id, const Registers& r) {
    const FpWords host = current_host_words();
    // Inside an export, no flag raised by varnel's work reaches the host's code.
    const uint32_t flags = in_export_call() ? r.mxcsr & kMxcsrFlags & ~host.mxcsr : 0;
    expect(flags == 0, id, [&] { return "entered with MXCSR flags " + hex(flags) + " set that the host never raised"; });
    if (!fp_words_differ(FpWords{r.x87, r.mxcsr}, host)) return;
    expect(false, id, [&] {
        char b[96];
        std::snprintf(b, sizeof b, "entered with x87 0x%04X, MXCSR 0x%04X; the host runs with 0x%04X, 0x%04X",
                      static_cast<unsigned>(r.x87 & 0xFFFF), static_cast<unsigned>(r.mxcsr),
                      static_cast<unsigned>(host.x87), static_cast<unsigned>(host.mxcsr));
        return std::string(b);
    });
}

}  // namespace

extern "C" Registers* standin_current_registers;

extern "C" uint32_t standin_dispatch(int id, Registers* r) {
    State& s = state();
    s.counts[id]++;
    s.last[id] = *r;
    if (id < R_EXECUTE_SCRIPT) {
        // A hook runs where the routine has nothing half done: before a new cell
        // is made, after the others' work.
        const Hook& hook = s.cell_hooks[id];
        if (hook && id == R_NEW_CELL) hook();
        const uint32_t eax = cell_routine(id, *r);
        if (hook && id != R_NEW_CELL) hook();
        return eax;
    }
    check_host_words(id, *r);
    Registers* const outer = standin_current_registers;
    standin_current_registers = r;
    const uint32_t eax = built_in(id, *r);
    standin_current_registers = outer;
    return eax;
}

std::string show(const Arg& a) {
    if (a.kind != HOST_KIND_TEXT) return num(a.real);
    return a.has_text ? "\"" + a.text + "\"" : "<null>";
}

void reset() {
    State& s = state();
    set_fp_env(fp_env_from_environment());
    s.scripts.clear();
    s.lists.clear();
    s.list_sizes.clear();
    s.draw_hook = s.error_hook = s.list_done_hook = nullptr;
    for (Hook& hook : s.cell_hooks) hook = nullptr;
    s.trace = nullptr;
    s.draws.clear();
    s.errors.clear();
    s.calls.clear();
    s.logging = true;
    std::memset(s.counts, 0, sizeof s.counts);
    faults().clear();
    ledger_clear();
}

void set_script(double index, ScriptHandler handler) { state().scripts[index] = std::move(handler); }
void set_list(int32_t handle, std::vector<Value> entries) { state().lists[handle] = std::move(entries); }
void set_list_size(int32_t handle, double size) { state().list_sizes[handle] = size; }
void remove_list(int32_t handle) {
    state().lists.erase(handle);
    state().list_sizes.erase(handle);
}
void set_trace(std::function<void(const std::string&)> trace) { state().trace = std::move(trace); }
void set_draw_hook(Hook hook) { state().draw_hook = std::move(hook); }
void set_error_hook(Hook hook) { state().error_hook = std::move(hook); }
void set_list_done_hook(Hook hook) { state().list_done_hook = std::move(hook); }
void set_cell_hook(int routine, Hook hook) {
    if (routine >= 0 && routine < R_EXECUTE_SCRIPT) state().cell_hooks[routine] = std::move(hook);
}
std::vector<Draw>& draws() { return state().draws; }
std::vector<Arg>& errors() { return state().errors; }
std::vector<std::string>& calls() { return state().calls; }
void set_logging(bool on) { state().logging = on; }
uint32_t call_count(int routine) { return state().counts[routine]; }
const Registers& last_registers(int routine) { return state().last[routine]; }
uint32_t returned_eax(int routine) { return 0xA1A1A100u | static_cast<uint32_t>(routine); }

}  // namespace standin
