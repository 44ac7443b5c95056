// The host's floating-point environment around every export and every host call,
// and exceptions raised by the host's own code inside a host routine. The
// stand-in checks the words at every routine and after every export
// (standin/fp_env.h); these tests add what only a script or a host script can see.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "standin/fp_env.h"
#include "tests/varnel_fixture.h"

namespace {

using standin::FpEnv;
using standin::Value;

const FpWords kPascal{0x1372, 0x1900};

class HostEnvironment : public VarnelTest {
protected:
    // Loads source into engine id, which must report nothing.
    void check(double id, const std::string& source) {
        const std::size_t before = standin::errors().size();
        EXPECT_EQ(run(id, source), 1.0);
        const std::vector<std::string> all = reports();
        EXPECT_EQ(all.size(), before) << joined(all);
    }
    // The words the host script at index sees, as the stand-in hands them out.
    void record_words(double index, std::vector<FpWords>& seen) {
        standin::set_script(index, [&seen](const HostCallArg*, int) {
            seen.push_back(standin::current_host_words());
            return Value::number(0);
        });
    }
};

// What kills or skews Lua under the host's words, run under each environment.
const char kEdges[] =
    "local zero = 0\n"
    "local far = 10^400\n"
    "local ms = 5000000000\n"
    "assert(tostring(1/zero) == tostring(math.huge))\n"
    "local nan = zero/zero; assert(nan ~= nan)\n"
    "assert(1e308 * 10 == math.huge)\n"
    "local t = {}; t[2^31] = 1; assert(t[2^31] == 1)\n"
    "assert(tostring(2^31) == '2147483648')\n"
    "assert(tostring(16777215) == '16777215')\n"
    "assert(tostring(123456789) == '123456789')\n"
    "assert(tostring(640/480) == '1.3333333333333')\n"
    "assert(string.format('%.3f', 123456789.123) == '123456789.123')\n"
    "assert(1e-310 > 0)\n"
    "assert(math.acos(1 + 2^-52) ~= math.acos(1 + 2^-52))\n"
    "assert(math.log10(0) == -math.huge and math.cosh(1000) == math.huge)\n"
    "assert(math.ldexp(1, 2000) == math.huge and math.pow(10, 309) == math.huge)\n"
    "local f = math.fmod(1, 0); assert(f ~= f)\n"
    "assert(far == math.huge and ms == 5e9)\n";

TEST_F(HostEnvironment, LuaGivesTheSameNumbersUnderEveryHostEnvironment) {
    for (FpEnv env : {FpEnv::kDefault, FpEnv::kPascal, FpEnv::kDirect3D}) {
        SCOPED_TRACE(standin::fp_env_name(env));
        standin::set_fp_env(env);
        open(1);
        check(1, kEdges);
        standin::set_list(7, {Value::number(0.0 / 0.0)});
        check(1, "function on_nan(x) return x ~= x and 0 or 1 end");
        EXPECT_EQ(script_event(1, "on_nan", 7), 1.0);
        EXPECT_EQ(script_event(1, "on_nan", 0.0 / 0.0), 1.0);  // a NaN handle: reported
        EXPECT_EQ(reports().size(), 1u);
        standin::errors().clear();
        EXPECT_EQ(close(1), 1.0);
    }
}

// The runtime's x87 word is extended precision: the C runtime's pow rounds
// correctly there where at 53 bits it is 2 ULP off (1.37^29 ends ...933), under
// every host's words. A signalling NaN from the host reaches scripts as a NaN,
// and raises nothing where the host unmasks invalid operations.
TEST_F(HostEnvironment, TheRuntimesX87WordGivesCorrectlyRoundedPowers) {
    EXPECT_EQ(kRuntimeX87, 0x037Fu);
    for (FpEnv env : {FpEnv::kDefault, FpEnv::kPascal, FpEnv::kDirect3D}) {
        SCOPED_TRACE(standin::fp_env_name(env));
        standin::set_fp_env(env);
        open(1);
        if (!engine_is_luajit())
            check(1, "local b = 1.37; assert(string.format('%.17g', b ^ 29) == '9223.5147695962969')");
        // Every way a host number comes in: a list entry, a global, a host script's result.
        const double snan = __builtin_nans("");
        standin::set_list(7, {Value::number(snan)});
        check(1, "function on_snan(x) return (x ~= x and math.abs(x) ~= math.abs(x)) and 0 or 1 end");
        EXPECT_EQ(script_event(1, "on_snan", 7), 1.0);
        EXPECT_EQ(global_set_real(1, "snan_global", snan), 1.0);
        standin::set_script(35, [snan](const HostCallArg*, int) { return Value::number(snan); });
        EXPECT_EQ(script_register(1, "snan_script", 35), 1.0);
        check(1, "local g, r = snan_global, snan_script(); assert(g ~= g and r ~= r and math.abs(g + r) ~= 0)");
        const double back = global_real(1, "snan_global");
        EXPECT_NE(back, back);
        EXPECT_EQ(close(1), 1.0);
    }
}

TEST_F(HostEnvironment, HostScriptsRunWithTheHostsWords) {
    standin::set_fp_env(FpEnv::kPascal);
    open(1);
    std::vector<FpWords> seen;
    record_words(30, seen);
    EXPECT_EQ(script_register(1, "env_seen", 30), 1.0);
    check(1, "local x = 1/0; env_seen(); env_seen(x * 0)");
    ASSERT_EQ(seen.size(), 2u);
    for (const FpWords& w : seen) EXPECT_FALSE(fp_words_differ(w, kPascal));
}

// A host script that changes its own words keeps its change: the next routine
// and the host after the export see the new words (the stand-in checks both).
// Words that round otherwise, or flush denormals to zero, are the host's alone:
// the script goes on computing as under the runtime's.
TEST_F(HostEnvironment, AHostScriptThatChangesItsWordsKeepsTheChange) {
    const FpWords toward_zero{0x0F7F, 0x1F80 | 0x6000};  // in both units
    const FpWords flush_to_zero{0x037F, 0x1F80 | 0x8040};  // and denormals are zero
    for (FpEnv env : {FpEnv::kDefault, FpEnv::kPascal})
    for (FpWords changed : {toward_zero, flush_to_zero}) {
        SCOPED_TRACE(standin::fp_env_name(env));
        SCOPED_TRACE(changed.mxcsr);
        standin::set_fp_env(env);
        open(1);
        standin::set_script(31, [changed](const HostCallArg*, int) {
            standin::change_host_words(changed);
            return Value::number(0);
        });
        std::vector<FpWords> seen;
        record_words(32, seen);
        EXPECT_EQ(script_register(1, "env_change", 31), 1.0);
        EXPECT_EQ(script_register(1, "env_seen_after", 32), 1.0);
        // 2^53 + 3 lies halfway: to nearest (even) it is 2^53 + 4, toward zero 2^53 + 2.
        check(1, "local a, tiny = 2^53, 2^-1074; env_change()\n"
                 "assert(a + 3 == a + 4 and tiny * 1 > 0 and 2/3 == 0.66666666666666663)\n"
                 "assert(tonumber('9007199254740995') == a + 4)\n"
                 "env_seen_after()");
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_FALSE(fp_words_differ(seen[0], changed));
        EXPECT_EQ(close(1), 1.0);
    }
}

// A host routine that calls back into varnel: every level keeps its own words.
TEST_F(HostEnvironment, NestedExportsKeepEachLevelsWords) {
    standin::set_fp_env(FpEnv::kDirect3D);
    open(1);
    open(2);
    int depth = 0;
    standin::set_script(33, [&depth](const HostCallArg*, int) {
        if (++depth < 4) {
            EXPECT_EQ(load(2, "no such file.lua"), 1.0);  // reported, after a host call
            EXPECT_EQ(script_event(2, "nested", 2), 1.0);
        }
        return Value::number(16777215.0 / 3.0);
    });
    standin::set_list(2, {Value::number(1)});
    EXPECT_EQ(script_register(1, "env_nest", 33), 1.0);
    EXPECT_EQ(script_register(2, "env_nest", 33), 1.0);
    check(2, "function nested(n) assert(env_nest() == 5592405) return 0 end");
    EXPECT_EQ(run(1, "assert(env_nest() == 5592405 and tostring(16777215) == '16777215')"), 1.0);
    EXPECT_EQ(depth, 4);
    const std::vector<std::string> got = reports();
    ASSERT_EQ(got.size(), 3u) << joined(got);  // the nested loads' only
    for (const std::string& r : got) EXPECT_EQ(r.rfind("cannot open", 0), 0u) << r;
    standin::errors().clear();
}


// Flags our work raises stay ours, whichever unit was switched: with Direct3D's
// words only the x87 differs from the runtime's, with the runtime's own neither.
// The stand-in checks every routine's entry and every export's return; the host
// script here looks too.
TEST_F(HostEnvironment, NoFlagOfOursReachesTheHostInEitherUnit) {
    for (FpEnv env : {FpEnv::kDefault, FpEnv::kDirect3D}) {
        SCOPED_TRACE(standin::fp_env_name(env));
        standin::set_fp_env(env);
        open(1);
        std::vector<uint32_t> entry_mxcsr;
        standin::set_script(34, [&entry_mxcsr](const HostCallArg*, int) {
            entry_mxcsr.push_back(standin::last_registers(R_EXECUTE_SCRIPT).mxcsr);
            return Value::number(0);
        });
        EXPECT_EQ(script_register(1, "flags_seen", 34), 1.0);
        standin::set_list(0, {});
        check(1, "function on_flags() local x = 1/3 + 2^0.5 + math.sin(1) + 1e308 * 10; flags_seen(x) return 0 end");
        for (int i = 0; i < 3; ++i) EXPECT_EQ(script_event(1, "on_flags", 0), 1.0);
        ASSERT_EQ(entry_mxcsr.size(), 3u);
        for (uint32_t mx : entry_mxcsr) EXPECT_EQ(mx, standin::fp_env_words(env).mxcsr);
        EXPECT_EQ(close(1), 1.0);
    }
}

#if defined(_WIN32)

extern "C" void standin_with_cleanup(void (*fn)(), int* unwound);

constexpr DWORD kHostCode = 0xE0564E4C;

// What an exception raised inside each kind of host routine becomes.
class HostException : public HostEnvironment {
protected:
    static void raise_host_exception() { RaiseException(kHostCode, 0, 0, nullptr); }
    static std::string message(DWORD code) {
        char b[64];
        std::snprintf(b, sizeof b, "host routine raised exception 0x%08lX", static_cast<unsigned long>(code));
        return b;
    }
    // The reports' messages, each without the stack traceback that follows a
    // run-time error raised in Lua code.
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const std::string& r : reports()) out.push_back(r.substr(0, r.find("\nstack traceback:\n")));
        return out;
    }
    // The engine still works: a script loads, destroy closes it, state makes it anew.
    void expect_usable(double id) {
        standin::errors().clear();
        check(id, "ok = 1 + 1");
        EXPECT_EQ(close(id), 1.0);
        EXPECT_TRUE(reports().empty()) << joined(reports());
        open(id);
        check(id, "ok = 2");
    }
};

TEST_F(HostException, RaisedInAHostScriptIsALuaErrorHundredTimes) {
    standin::set_fp_env(FpEnv::kPascal);
    open(1);
    // The host script raises from inside a frame of its own with cleanup to do.
    int unwound = 0;
    standin::set_script(40, [&unwound](const HostCallArg*, int) -> Value {
        standin_with_cleanup(raise_host_exception, &unwound);
        return {};
    });
    EXPECT_EQ(script_register(1, "raises", 40), 1.0);
    for (int i = 0; i < 100; ++i) {
        standin::errors().clear();
        EXPECT_EQ(run(1, "raises('text', 1.5)"), 1.0);
        ASSERT_EQ(messages(), std::vector<std::string>{message(kHostCode)}) << i;
        EXPECT_NE(reports()[0].find("\nstack traceback:\n\t[C]: in function 'raises'"), std::string::npos);
        EXPECT_EQ(standin::live_cells(), 0u) << standin::ledger_report();
        EXPECT_EQ(unwound, i + 1) << "the host's frame was not unwound";
    }
    // A script's pcall catches it like any error.
    check(1, "local ok, e = pcall(raises); assert(not ok and e == '" + message(kHostCode) + "')");
    expect_usable(1);
}

TEST_F(HostException, ADivisionFaultInHostCodeIsALuaError) {
    standin::set_fp_env(FpEnv::kPascal);
    open(1);
    standin::set_script(41, [](const HostCallArg*, int) {
        standin::divide_by_zero_with_host_words(false);
        return Value::number(1);
    });
    standin::set_script(42, [](const HostCallArg*, int) {
        standin::divide_by_zero_with_host_words(true);
        return Value::number(1);
    });
    EXPECT_EQ(script_register(1, "x87_divides", 41), 1.0);
    EXPECT_EQ(script_register(1, "sse_divides", 42), 1.0);
    for (int i = 0; i < 100; ++i) {
        standin::errors().clear();
        EXPECT_EQ(run(1, i % 2 ? "x87_divides()" : "sse_divides()"), 1.0);
        // The x87 reports the zero divide; SSE2 reports its multiple-traps code.
        const DWORD code = i % 2 ? STATUS_FLOAT_DIVIDE_BY_ZERO : 0xC00002B5;
        ASSERT_EQ(messages(), std::vector<std::string>{message(code)}) << i;
    }
    check(1, "assert(1/0 == math.huge and tostring(2^31) == '2147483648')");
    expect_usable(1);
}

TEST_F(HostException, RaisedInDrawingOrListRoutinesIsReportedOnce) {
    standin::set_fp_env(FpEnv::kPascal);
    open(1);
    standin::set_draw_hook(raise_host_exception);
    for (int i = 0; i < 3; ++i) {
        standin::errors().clear();
        EXPECT_EQ(run(1, "draw_text(1, 2, 'x' .. 1/0)"), 1.0);
        EXPECT_EQ(messages(), std::vector<std::string>{message(kHostCode)});
    }
    standin::set_draw_hook(nullptr);
    // list_done inside the job (after the entries) and outside it (empty list, fast path).
    check(1, "function on_list() return 0 end");
    standin::set_list(5, {Value::text_of("entry"), Value::number(2)});
    standin::set_list(6, {});
    standin::set_list_done_hook(raise_host_exception);
    for (int32_t list : {5, 6, 5, 6}) {
        standin::errors().clear();
        EXPECT_EQ(script_event(1, "on_list", list), 1.0);
        EXPECT_EQ(reports(), std::vector<std::string>{message(kHostCode)}) << list;
    }
    // The error routine itself: nothing can be reported, and nothing is left.
    standin::set_list_done_hook(nullptr);
    standin::set_error_hook(raise_host_exception);
    EXPECT_EQ(run(1, "error('x')"), 1.0);
    standin::set_error_hook(nullptr);
    expect_usable(1);
}


// Exceptions raised inside the cell and record routines: each becomes a Lua error
// where Lua code runs and a report where none does, once.
class CellException : public HostException {
protected:
    // The next call of routine raises kHostCode, once.
    static void arm(int routine) {
        standin::set_cell_hook(routine, [routine] {
            standin::set_cell_hook(routine, nullptr);
            raise_host_exception();
        });
    }
    // How many reports carry the exception's message.
    size_t exception_reports() const {
        const std::vector<std::string> all = messages();
        return static_cast<size_t>(std::count(all.begin(), all.end(), message(kHostCode)));
    }
    void expect_clean() {
        EXPECT_EQ(standin::live_cells(), 0u) << standin::ledger_report();
        EXPECT_EQ(standin::live_strings(), 0u) << standin::ledger_report();
    }
    // A host script that answers its text argument with a text: its call makes,
    // fills and disposes cells and finalizes a result record.
    static void set_echo(double index) {
        standin::set_script(index, [](const HostCallArg* args, int count) {
            if (count > 1 && args[1].kind == HOST_KIND_TEXT && args[1].text)
                return Value::text_of(std::string("echo ") + args[1].text);
            return Value::text_of("echo");
        });
    }
};

const int kCellRoutines[] = {R_NEW_CELL, R_ASSIGN_STRING, R_DISPOSE_CELL, R_FINALIZE_RECORD};

// Rounds of every routine raising: 25, or VARNEL_CELL_ROUNDS for a long run (10,000
// shows that nothing drifts).
int cell_rounds() {
    const char* rounds = std::getenv("VARNEL_CELL_ROUNDS");
    return rounds ? std::atoi(rounds) : 25;
}

TEST_F(CellException, InAScriptIsALuaErrorEveryTime) {
    standin::set_fp_env(FpEnv::kPascal);
    open(1);
    set_echo(50);
    EXPECT_EQ(script_register(1, "echo", 50), 1.0);
    const std::string caught = "local ok, e = pcall(echo, 'abc'); assert(not ok and e == '" + message(kHostCode) +
                               "', tostring(e)); assert(echo('x') == 'echo x')";
    for (int round = 0; round < cell_rounds(); ++round) {
        for (int routine : kCellRoutines) {
            SCOPED_TRACE(routine);
            standin::errors().clear();
            arm(routine);
            check(1, caught);
            arm(routine);
            EXPECT_EQ(run(1, "echo('abc')"), 1.0);
            EXPECT_EQ(exception_reports(), 1u) << joined(reports());
            EXPECT_EQ(reports().size(), 1u) << joined(reports());
            expect_clean();
        }
    }
    expect_usable(1);
    expect_clean();
}

TEST_F(CellException, InAListEntryIsALuaErrorAndTheListIsLetGo) {
    standin::set_fp_env(FpEnv::kDirect3D);
    open(1);
    check(1, "function on_list(a, b) assert(a == 'entry' and b == 2) return 0 end");
    standin::set_list(5, {Value::text_of("entry"), Value::number(2)});
    for (int round = 0; round < cell_rounds(); ++round) {
        for (int routine : kCellRoutines) {
            SCOPED_TRACE(routine);
            standin::errors().clear();
            const uint32_t done = standin::call_count(R_LIST_DONE);
            arm(routine);
            EXPECT_EQ(script_event(1, "on_list", 5), 1.0);
            EXPECT_EQ(exception_reports(), 1u) << joined(reports());
            EXPECT_EQ(standin::call_count(R_LIST_DONE), done + 1);
            EXPECT_EQ(script_event(1, "on_list", 5), 1.0);  // and the next event goes through
            EXPECT_EQ(reports().size(), 1u) << joined(reports());
            expect_clean();
        }
    }
    expect_usable(1);
}

TEST_F(CellException, WhereNoLuaCodeRunsIsReportedOnce) {
    standin::set_fp_env(FpEnv::kPascal);
    open(1);
    // An error report lays its text in a cell and disposes it afterwards.
    for (int round = 0; round < cell_rounds(); ++round) {
        for (int routine : {R_ASSIGN_STRING, R_DISPOSE_CELL}) {
            SCOPED_TRACE(routine);
            standin::errors().clear();
            arm(routine);
            EXPECT_EQ(run(1, "error('x')"), 1.0);
            EXPECT_EQ(exception_reports(), 1u) << joined(reports());
            EXPECT_EQ(reports().size(), 2u) << joined(reports());
            expect_clean();
        }
    }
    // Its cell cannot be made: the report goes without its text, the exception's after it.
    standin::errors().clear();
    arm(R_NEW_CELL);
    EXPECT_EQ(run(1, "error('x')"), 1.0);
    EXPECT_EQ(reports(), (std::vector<std::string>{"<null>", message(kHostCode)}));
    expect_usable(1);
    expect_clean();
}

TEST_F(CellException, InANestedExportStaysInIt) {
    standin::set_fp_env(FpEnv::kPascal);
    open(1);
    open(2);
    set_echo(50);
    EXPECT_EQ(script_register(1, "echo", 50), 1.0);
    EXPECT_EQ(script_register(2, "echo", 50), 1.0);
    int routine = R_NEW_CELL;
    double inner = 1;
    standin::set_script(51, [&](const HostCallArg*, int) {
        arm(routine);
        EXPECT_EQ(run(inner, "echo('abc')"), 1.0);  // reported inside, as a Lua error
        return Value::number(7);
    });
    EXPECT_EQ(script_register(1, "nest", 51), 1.0);
    for (int round = 0; round < (cell_rounds() + 1) / 2; ++round) {
        for (double engine : {1.0, 2.0}) {
            for (int r : kCellRoutines) {
                SCOPED_TRACE(r);
                routine = r;
                inner = engine;
                standin::errors().clear();
                EXPECT_EQ(run(1, "assert(nest() == 7 and echo('y') == 'echo y')"), 1.0);
                EXPECT_EQ(exception_reports(), 1u) << joined(reports());
                EXPECT_EQ(reports().size(), 1u) << joined(reports());
                expect_clean();
            }
        }
    }
    EXPECT_EQ(close(2), 1.0);
    expect_usable(1);
    expect_clean();
}

// A stack overflow in host code, three times in a row: each is an overflow, the
// guard page restored after each.
volatile int g_overflow_depth = 1 << 30;  // never reached

__attribute__((noinline)) int overflow(int depth) {
    volatile char room[4096];
    room[0] = static_cast<char>(depth);
    if (depth == g_overflow_depth) return room[0];
    return overflow(depth + 1) + room[0];
}

TEST_F(CellException, StackOverflowsInHostCodeAreEachAnOverflow) {
    standin::set_fp_env(FpEnv::kPascal);
    open(1);
    standin::set_script(52, [](const HostCallArg*, int) { return Value::number(overflow(0)); });
    EXPECT_EQ(script_register(1, "overflows", 52), 1.0);
    for (int i = 0; i < 3; ++i) {
        standin::errors().clear();
        EXPECT_EQ(run(1, "overflows()"), 1.0);
        EXPECT_EQ(messages(), std::vector<std::string>{message(0xC00000FD)}) << i;
    }
    expect_usable(1);
}

#endif

}  // namespace
