// script_register and the forwarders it installs, driven through varnel's exports:
// the records a host script receives, what its result becomes in Lua, how names
// bind to indices and globals, and that every host cell of a call is disposed.
//
// The name -> index registry lives as long as the library: every name here is
// used by one test only and starts with fw_, except the standard globals that
// the replacement tests need.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/varnel_fixture.h"

namespace {

using standin::Value;

class ScriptForwardTest : public VarnelTest {
protected:
    // Runs a Lua source in engine id and returns the error reports it caused.
    // No cell may outlive the export.
    std::vector<std::string> lua(double id, const std::string& source) {
        const std::size_t before = standin::errors().size();
        EXPECT_EQ(run(id, source), 1.0);
        EXPECT_EQ(standin::live_cells(), 0u) << standin::ledger_report();
        const std::vector<std::string> all = reports();
        return {all.begin() + static_cast<std::ptrdiff_t>(before), all.end()};
    }
    // Runs a Lua source whose asserts must all hold.
    void check(double id, const std::string& source) {
        const std::vector<std::string> added = lua(id, source);
        EXPECT_TRUE(added.empty()) << joined(added);
    }
    // Script index answers with value, whatever it is given.
    static void answer(double index, Value value) {
        standin::set_script(index, [value](const HostCallArg*, int) { return value; });
    }
    // Registers name in engine id, which must give 1.0 and report nothing.
    void bind(double id, const char* name, double index) {
        const std::size_t before = standin::errors().size();
        EXPECT_EQ(script_register(id, name, index), 1.0);
        EXPECT_EQ(standin::errors().size(), before) << joined(reports());
    }
    // The host script runs so far, as the stand-in logged them: "script 3, 1, \"x\"".
    static std::vector<std::string> script_runs() {
        std::vector<std::string> out;
        for (const auto& line : standin::calls())
            if (line.rfind("script ", 0) == 0) out.push_back(line);
        return out;
    }
    static size_t count_of(const std::string& routine) {
        size_t n = 0;
        for (const auto& line : standin::calls()) n += line == routine;
        return n;
    }
};

// ---- What the host script receives ----

TEST_F(ScriptForwardTest, ArgumentsFollowTheIndexInOrder) {
    open(1);
    answer(3, Value::number(0));
    bind(1, "fw_args", 3);
    check(1, "fw_args(1, 'x')  fw_args()  fw_args(-2.5, 'y', 7)");
    EXPECT_EQ(script_runs(), (std::vector<std::string>{
                                 "script 3, 1, \"x\"", "script 3", "script 3, -2.5, \"y\", 7"}));
}

TEST_F(ScriptForwardTest, TextsAndNumbersKeepTheirKinds) {
    open(1);
    std::vector<standin::Arg> got;
    standin::set_script(4, [&got](const HostCallArg* a, int n) {
        for (int i = 1; i < n; ++i)
            got.push_back({a[i].kind, a[i].real, a[i].text != nullptr, a[i].text ? a[i].text : ""});
        return Value::number(0);
    });
    bind(1, "fw_kinds", 4);
    check(1, "fw_kinds('42', 42, '0x10', 1e300, -0.0, '')");
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0].kind, HOST_KIND_TEXT);
    EXPECT_EQ(got[0].text, "42");
    EXPECT_EQ(got[1].kind, HOST_KIND_NUMBER);
    EXPECT_EQ(got[1].real, 42.0);
    EXPECT_EQ(got[2].kind, HOST_KIND_TEXT);
    EXPECT_EQ(got[2].text, "0x10");
    EXPECT_EQ(got[3].real, 1e300);
    EXPECT_EQ(got[4].kind, HOST_KIND_NUMBER);
    EXPECT_TRUE(std::signbit(got[4].real));
    EXPECT_EQ(got[5].kind, HOST_KIND_TEXT);  // the empty text: a text with no string
    EXPECT_FALSE(got[5].has_text);
}

TEST_F(ScriptForwardTest, OtherLuaTypesArriveAsNumberZero) {
    open(1);
    answer(5, Value::number(0));
    bind(1, "fw_others", 5);
    check(1,
          "fw_others(nil, true, false, {}, print, function() end, newproxy(),"
          " coroutine.create(function() end), nil)");
    EXPECT_EQ(script_runs(), std::vector<std::string>{"script 5, 0, 0, 0, 0, 0, 0, 0, 0, 0"});
    EXPECT_EQ(count_of("new_cell"), 0u);
}

TEST_F(ScriptForwardTest, TextsEndAtTheFirstNul) {
    open(1);
    answer(6, Value::number(0));
    bind(1, "fw_nul", 6);
    check(1, "fw_nul('ab\\0cd', '\\0tail', 'plain')");
    EXPECT_EQ(script_runs(), std::vector<std::string>{"script 6, \"ab\", <null>, \"plain\""});
    EXPECT_EQ(count_of("new_cell"), 3u);
    EXPECT_EQ(count_of("dispose_cell"), 3u);
}

// Up to 8 arguments are held on the C stack, more on the heap: both must carry
// every argument, in order, and dispose every cell.
TEST_F(ScriptForwardTest, ManyArgumentsAllArriveInOrder) {
    open(1);
    answer(7, Value::number(0));
    bind(1, "fw_many", 7);
    const char* source =
        "local t = {}\n"
        "for i = 1, %d do t[i] = i %% 2 == 0 and ('s' .. i) or i end\n"
        "fw_many(unpack(t, 1, %d))\n";
    for (int n : {8, 9, 20, 300}) {
        SCOPED_TRACE(n);
        standin::calls().clear();
        char text[200];
        std::snprintf(text, sizeof text, source, n, n);
        check(1, text);
        std::string want = "script 7";
        for (int i = 1; i <= n; ++i)
            want += i % 2 == 0 ? ", \"s" + std::to_string(i) + "\"" : ", " + std::to_string(i);
        EXPECT_EQ(script_runs(), std::vector<std::string>{want});
        EXPECT_EQ(count_of("dispose_cell"), static_cast<size_t>(n / 2));
    }
}

TEST_F(ScriptForwardTest, ForwardersWorkInsideCoroutines) {
    open(1);
    standin::set_script(8, [](const HostCallArg* a, int n) {
        return Value::text_of(n == 3 && a[2].text ? std::string("got ") + a[2].text : "bad");
    });
    bind(1, "fw_coroutine", 8);
    check(1,
          "local co = coroutine.wrap(function(a)"
          "  local r = fw_coroutine(a, coroutine.yield(1))"
          "  return r end)\n"
          "assert(co(5) == 1)\n"
          "local r = co('later')\n"
          "assert(r == 'got later', r)\n");
    EXPECT_EQ(script_runs(), std::vector<std::string>{"script 8, 5, \"later\""});
}

// ---- What Lua gets back ----

TEST_F(ScriptForwardTest, NumberResultIsReturned) {
    open(1);
    answer(10, Value::number(5));
    bind(1, "fw_five", 10);
    check(1, "assert(select('#', fw_five()) == 1)  assert(fw_five() == 5)");
}

TEST_F(ScriptForwardTest, ZeroResultsGiveNoValuesAtAll) {
    open(1);
    bind(1, "fw_zero", 11);
    for (double zero : {0.0, -0.0}) {
        answer(11, Value::number(zero));
        check(1, "local n = select('#', fw_zero()) assert(n == 0, n)");
    }
}

TEST_F(ScriptForwardTest, NanResultIsReturned) {
    open(1);
    answer(12, Value::number(std::nan("")));
    bind(1, "fw_nan", 12);
    check(1,
          "assert(select('#', fw_nan()) == 1)\n"
          "local v = fw_nan() assert(type(v) == 'number' and v ~= v)");
}

TEST_F(ScriptForwardTest, TextResultIsReturnedAndItsCellDisposed) {
    open(1);
    answer(13, Value::text_of("result"));
    bind(1, "fw_text", 13);
    check(1, "local a, b = fw_text('p', 'q') assert(a == 'result' and b == nil)");
    // Argument cells go once the script has returned, the result's once it is in Lua.
    EXPECT_EQ(standin::calls(),
              (std::vector<std::string>{"new_cell", "assign \"p\"", "new_cell", "assign \"q\"",
                                        "script 13, \"p\", \"q\"", "new_cell", "assign \"result\"",
                                        "finalize", "dispose_cell", "dispose_cell", "dispose_cell"}));
}

TEST_F(ScriptForwardTest, EmptyTextResultIsOneNil) {
    open(1);
    answer(14, Value::empty_text());
    bind(1, "fw_empty", 14);
    check(1,
          "local n = select('#', fw_empty()) assert(n == 1, n)\n"
          "assert(fw_empty() == nil)");
    EXPECT_EQ(count_of("new_cell"), 0u);
}

TEST_F(ScriptForwardTest, UnknownResultKindCountsAsNumber) {
    open(1);
    bind(1, "fw_odd_kind", 15);
    answer(15, Value::raw(7, 2.5));
    check(1, "local v = fw_odd_kind() assert(v == 2.5, v)");
    answer(15, Value::raw(2, 0.0));
    check(1, "assert(select('#', fw_odd_kind()) == 0)");
}

// ---- Names, indices and globals ----

TEST_F(ScriptForwardTest, FirstRegistrationFixesTheIndexEverywhere) {
    open(1);
    open(2);
    answer(3, Value::text_of("three"));
    answer(4, Value::text_of("four"));
    bind(1, "fw_first", 3);
    bind(1, "fw_first", 4);
    bind(2, "fw_first", 4);
    check(1, "assert(fw_first() == 'three')");
    check(2, "assert(fw_first() == 'three')");
    EXPECT_EQ(script_runs(), (std::vector<std::string>{"script 3", "script 3"}));
}

TEST_F(ScriptForwardTest, IndexIsPassedOnUnchanged) {
    open(1);
    std::vector<double> seen;
    for (double index : {2.5, -7.0, -0.0, 1e300, 4294967296.25}) {
        standin::set_script(index, [&seen](const HostCallArg* a, int) {
            seen.push_back(a[0].real);
            return Value::number(0);
        });
    }
    bind(1, "fw_idx_frac", 2.5);
    bind(1, "fw_idx_neg", -7.0);
    bind(1, "fw_idx_negzero", -0.0);
    bind(1, "fw_idx_big", 1e300);
    bind(1, "fw_idx_wide", 4294967296.25);
    check(1, "fw_idx_frac() fw_idx_neg() fw_idx_negzero() fw_idx_big() fw_idx_wide()");
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0], 2.5);
    EXPECT_EQ(seen[1], -7.0);
    EXPECT_EQ(seen[2], 0.0);
    EXPECT_TRUE(std::signbit(seen[2]));
    EXPECT_EQ(seen[3], 1e300);
    EXPECT_EQ(seen[4], 4294967296.25);
}

TEST_F(ScriptForwardTest, DottedAndSpacedNamesAreSingleGlobals) {
    open(1);
    answer(20, Value::text_of("dot"));
    answer(21, Value::text_of("space"));
    bind(1, "fw.dot", 20);
    bind(1, "fw space", 21);
    check(1,
          "assert(rawget(_G, 'fw') == nil)\n"
          "assert(_G['fw.dot']() == 'dot')\n"
          "assert(_G['fw space']() == 'space')");
}

TEST_F(ScriptForwardTest, RegistrationStaysInItsEngine) {
    open(1);
    open(2);
    answer(22, Value::number(1));
    bind(1, "fw_local", 22);
    check(2, "assert(fw_local == nil)");
    check(1, "assert(fw_local() == 1)");
    close(1);
    open(1);
    check(1, "assert(fw_local == nil)");
}

TEST_F(ScriptForwardTest, ReplacesAFunctionFromAFileInThatEngineOnly) {
    open(1);
    open(2);
    const char* define = "function fw_replaced() return 'lua' end";
    check(1, define);
    check(2, define);
    answer(23, Value::text_of("host"));
    bind(1, "fw_replaced", 23);
    check(1, "assert(fw_replaced() == 'host')");
    check(2, "assert(fw_replaced() == 'lua')");
}

TEST_F(ScriptForwardTest, ReplacesAStandardFunctionInThatEngineOnly) {
    open(1);
    open(2);
    answer(24, Value::number(77));
    bind(1, "tonumber", 24);
    check(1, "assert(tonumber('12') == 77)");
    check(2, "assert(tonumber('12') == 12)");
    EXPECT_EQ(script_runs(), std::vector<std::string>{"script 24, \"12\""});
}

TEST_F(ScriptForwardTest, ReplacesDrawTextInThatEngineOnly) {
    open(1);
    open(2);
    answer(25, Value::number(0));
    bind(1, "draw_text", 25);
    check(1, "draw_text(1, 2, 'hi')");
    check(2, "draw_text(3, 4, 'ok')");
    EXPECT_EQ(script_runs(), std::vector<std::string>{"script 25, 1, 2, \"hi\""});
    ASSERT_EQ(standin::draws().size(), 1u);
    EXPECT_EQ(standin::draws()[0].text.text, "ok");
}

TEST_F(ScriptForwardTest, LaterFilesAndRegistrationsReplaceEachOther) {
    open(1);
    answer(26, Value::text_of("host"));
    bind(1, "fw_swap", 26);
    check(1, "fw_kept = fw_swap  function fw_swap() return 'lua' end");
    // The copy carries the name, so it still runs the script.
    check(1, "assert(fw_swap() == 'lua')  assert(fw_kept() == 'host')");
    bind(1, "fw_swap", 99);
    check(1, "assert(fw_swap() == 'host')");
    EXPECT_EQ(script_runs(), (std::vector<std::string>{"script 26", "script 26"}));
}

// ---- Misuse and failures ----

TEST_F(ScriptForwardTest, UnknownIdOrNullNameRegistersNothing) {
    open(1);
    open(2);
    close(2);
    EXPECT_EQ(script_register(99, "fw_orphan", 30), 1.0);
    EXPECT_EQ(reports().size(), 1u);
    EXPECT_EQ(script_register(2, "fw_orphan", 31), 1.0);
    EXPECT_EQ(reports().size(), 2u);
    EXPECT_EQ(script_register(1, nullptr, 32), 1.0);
    EXPECT_EQ(reports().size(), 3u);
    check(1, "assert(fw_orphan == nil)");
    answer(33, Value::number(33));
    bind(1, "fw_orphan", 33);
    check(1, "assert(fw_orphan() == 33)");
    EXPECT_EQ(script_runs(), std::vector<std::string>{"script 33"});
}

TEST_F(ScriptForwardTest, RaisingNewindexIsReported) {
    open(1);
    open(2);
    check(1, "setmetatable(_G, {__newindex = function() error('no') end})");
    for (int i = 0; i < 3; ++i) {
        standin::errors().clear();
        EXPECT_EQ(script_register(1, "fw_guarded", 34), 1.0);
        ASSERT_EQ(reports().size(), 1u);
        EXPECT_NE(reports()[0].find(": no"), std::string::npos) << reports()[0];
    }
    check(1, "assert(rawget(_G, 'fw_guarded') == nil)");
    // The global could not be set, so the name was never bound.
    answer(35, Value::number(35));
    bind(2, "fw_guarded", 35);
    check(2, "assert(fw_guarded() == 35)");
}

// A nested export whose script fails runs under its own protection and leaves
// the outer call, its records and its cells intact.
TEST_F(ScriptForwardTest, FailingNestedLoadDisturbsNothing) {
    open(1);
    std::string outer_arg;
    standin::set_script(36, [&](const HostCallArg* a, int n) {
        run(1, "local s = fw_nested_fail_inner('in') error('fw nested ' .. s)");
        outer_arg = n == 2 && a[1].text ? a[1].text : "";
        return Value::text_of("outer");
    });
    answer(37, Value::text_of("inner"));
    bind(1, "fw_nested_fail", 36);
    bind(1, "fw_nested_fail_inner", 37);
    const std::vector<std::string> added = lua(1, "assert(fw_nested_fail('arg') == 'outer')");
    ASSERT_EQ(added.size(), 1u);
    EXPECT_NE(added[0].find("fw nested inner"), std::string::npos) << added[0];
    EXPECT_EQ(outer_arg, "arg");
}

// Finalizers that raise run during the collection steps that allocations take,
// the push of a text result among them. A cell whose push raised is disposed when
// the export returns, even though the script's pcall caught the error. Results
// new to Lua make every push allocate, and the calls come in runs inside one
// function, so that the step a push takes follows the previous push's
// allocation with no other step between. More than 8 arguments put the call's
// holders and records on the heap, where a leak would show under the sanitizers.
TEST_F(ScriptForwardTest, RaisingFinalizersLeakNoCell) {
    open(1);
    int made = 0;  // each result new to Lua, so that its push allocates
    standin::set_script(38, [&made](const HostCallArg*, int) {
        return Value::text_of(std::to_string(++made) + std::string(6000, 'r'));
    });
    double most_orphans = 0;
    standin::set_script(39, [&most_orphans](const HostCallArg*, int) {
        most_orphans = std::max(most_orphans, static_cast<double>(standin::live_cells()));
        return Value::number(0);
    });
    bind(1, "fw_gc_long", 38);
    bind(1, "fw_gc_cells", 39);
    const std::vector<std::string> added = lua(1,
        "local function bomb()\n"
        "  getmetatable(newproxy(true)).__gc = function() error('fw gc bomb') end\n"
        "end\n"
        "local function bombs() for i = 1, 20 do bomb() end end\n"
        "local function calls(i)\n"
        "  local r\n"
        "  for k = 1, 20 do r = fw_gc_long(i, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i') end\n"
        "  return r\n"
        "end\n"
        "local ok_calls, failed = 0, 0\n"
        "for round = 1, 12 do\n"
        "  pcall(bombs)\n"
        "  for i = 1, 10 do\n"
        "    local ok, r = pcall(calls, i)\n"
        "    if ok then\n"
        "      assert(#r > 6000)\n"
        "      ok_calls = ok_calls + 1\n"
        "    else\n"
        "      assert(string.find(r, 'fw gc bomb', 1, true), r)\n"
        "      failed = failed + 1\n"
        "      pcall(fw_gc_cells)\n"
        "    end\n"
        "  end\n"
        "end\n"
        "while not pcall(collectgarbage) do end\n"
        "assert(ok_calls > 0 and failed > 0, ok_calls .. ' ' .. failed)\n");
    EXPECT_TRUE(added.empty()) << joined(added);
    EXPECT_GT(most_orphans, 0.0) << "no push of a result raised";
    EXPECT_EQ(count_of("new_cell"), count_of("dispose_cell"));
}

// A host script may call the exports on its own engine, registering and running
// more forwarders, and on another engine.
TEST_F(ScriptForwardTest, HostScriptMayCallExportsAgain) {
    open(1);
    open(2);
    answer(41, Value::text_of("inner"));
    std::string outer_arg;
    standin::set_script(40, [&](const HostCallArg* a, int n) {
        EXPECT_EQ(script_register(1, "fw_reentry_inner", 41), 1.0);
        EXPECT_EQ(script_register(2, "fw_reentry_inner", 42), 1.0);
        run(1, "fw_seen = fw_reentry_inner('a', 1)");
        run(2, "fw_seen = fw_reentry_inner('b', 2)");
        outer_arg = n == 2 && a[1].text ? a[1].text : "";
        return Value::text_of("outer");
    });
    bind(1, "fw_reentry", 40);
    check(1, "assert(fw_reentry('x') == 'outer')  assert(fw_seen == 'inner')");
    check(2, "assert(fw_seen == 'inner')");
    EXPECT_EQ(outer_arg, "x");
    EXPECT_EQ(script_runs(), (std::vector<std::string>{"script 40, \"x\"", "script 41, \"a\", 1",
                                                        "script 41, \"b\", 2"}));
    EXPECT_TRUE(reports().empty()) << joined(reports());
    EXPECT_EQ(count_of("new_cell"), count_of("dispose_cell"));
}

}  // namespace

namespace {

// A forwarder finds its index again by its name string's address, and a collected
// string's address may pass to another name: every call must still reach its own
// script, round after round of engines, names and garbage.
TEST_F(ScriptForwardTest, EveryCallReachesItsOwnScriptAcrossEnginesAndGarbage) {
    for (int round = 0; round < 6; ++round) {
        open(1);
        std::string source = "local seen = {}\n";
        for (int i = 0; i < 40; ++i) {
            const double index = 5000 + round * 100 + i;
            standin::set_script(index, [index](const HostCallArg*, int) { return Value::number(index); });
            const std::string name = "fw_round" + std::to_string(round) + "_" + std::to_string(i);
            bind(1, name.c_str(), index);
            source += "seen[" + std::to_string(i) + "] = " + name + "\n";
        }
        source += "for pass = 1, 5 do\n"
                  "  for i = 0, 39 do\n"
                  "    local junk = {} for k = 1, 50 do junk[k] = tostring(k * pass) .. i end\n"
                  "    assert(seen[i]() == " + std::to_string(5000 + round * 100) + " + i, 'call ' .. i)\n"
                  "  end\n"
                  "  collectgarbage()\n"
                  "end\n";
        check(1, source);
        close(1);
    }
}

}  // namespace
