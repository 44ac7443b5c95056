// time_limit through the exports: a script that runs too long gets one Lua error,
// reported like any other, and the game goes on. Limits are small fractions of a
// second; nothing here asserts how fast the machine is, only what must happen
// whatever its speed (a script that loops for ever ends; one that waits in a host
// routine or runs in an engine without a limit does not).
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "tests/varnel_fixture.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

using standin::Value;

const std::string kRanLonger = "script ran longer than 0.1 seconds";

class TimeLimit : public VarnelTest {
protected:
    static constexpr double kId = 60;
    void SetUp() override {
        VarnelTest::SetUp();
        open(kId);
        ASSERT_EQ(time_limit(kId, 0.1), 1.0);
        ASSERT_TRUE(reports().empty()) << joined(reports());
    }
    // The engine still runs scripts, and reports nothing doing so.
    void expect_alive(double id) {
        const size_t before = reports().size();
        run(id, "draw_text(0, 0, 'alive')");
        EXPECT_EQ(reports().size(), before) << joined(reports());
        ASSERT_FALSE(standin::draws().empty());
        EXPECT_EQ(standin::draws().back().text.text, "alive");
    }
    // Expects the one report so far to be the limit's message, then its traceback.
    void expect_one_limit_report(const std::string& prefix = kRanLonger) {
        const std::vector<std::string> r = reports();
        ASSERT_EQ(r.size(), 1u) << joined(r);
        EXPECT_EQ(r[0].rfind(prefix + "\nstack traceback:\n\t", 0), 0u) << r[0];
    }
};

TEST_F(TimeLimit, ALoopForEverInALoadedChunk) {
    ScriptFile file("while true do end");
    EXPECT_EQ(load(kId, file.path()), 1.0);
    EXPECT_EQ(reports(), std::vector<std::string>{kRanLonger + "\nstack traceback:\n\t" + file.path() +
                                                  ":1: in main chunk"});
    EXPECT_NE(reports()[0].find(":1: in main chunk"), std::string::npos) << reports()[0];
    expect_alive(kId);
}

TEST_F(TimeLimit, ALoopForEverInAnEventFunction) {
    run(kId, "function tl_event(n) while n > 0 do end return 0 end");
    standin::set_list(3, {Value::number(1)});
    EXPECT_EQ(script_event(kId, "tl_event", 3), 1.0);
    expect_one_limit_report();
    EXPECT_EQ(standin::call_count(R_LIST_DONE), 1u);
    standin::set_list(4, {Value::number(0)});
    EXPECT_EQ(script_event(kId, "tl_event", 4), 1.0);  // the function's 0 counts as 0
    EXPECT_EQ(reports().size(), 1u);
    expect_alive(kId);
}

TEST_F(TimeLimit, ALoopForEverInsideACoroutine) {
    run(kId, "local co = coroutine.create(function() while true do end end)\n"
             "local ok, message = coroutine.resume(co)\n"
             "draw_text(0, 0, tostring(ok))\n"
             "error(message, 0)\n");
    expect_one_limit_report();
    if (engine_is_luajit()) {
        // LuaJIT's hook is one for all of an engine's threads: the main thread is
        // stopped at its next instruction, before it draws.
        EXPECT_TRUE(standin::draws().empty());
    } else {
        ASSERT_EQ(standin::draws().size(), 1u);
        EXPECT_EQ(standin::draws()[0].text.text, "false");
    }
    standin::errors().clear();
    run(kId, "coroutine.wrap(function() while true do end end)()");
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_NE(reports()[0].find(kRanLonger + "\nstack traceback:"), std::string::npos) << reports()[0];
    // The main thread, resuming coroutine after coroutine, is stopped too.
    standin::errors().clear();
    run(kId, "while true do coroutine.resume(coroutine.create(function() while true do end end)) end");
    expect_one_limit_report();
    expect_alive(kId);
}

TEST_F(TimeLimit, CoroutinesMadeBeforeTheLimitAreCoveredToo) {
    ASSERT_EQ(time_limit(kId, 0), 1.0);
    run(kId, "tl_before = coroutine.create(function() while true do end end)\n"
             "tl_wrapped = coroutine.wrap(function() while true do end end)");
    ASSERT_EQ(time_limit(kId, 0.1), 1.0);
    run(kId, "local ok, message = coroutine.resume(tl_before)\n"
             "draw_text(0, 0, tostring(ok) .. ' ' .. message)");
    if (engine_is_luajit()) {
        // One hook for all threads: the main thread is stopped too, before it draws.
        expect_one_limit_report();
        EXPECT_TRUE(standin::draws().empty());
        standin::errors().clear();
    } else {
        // The main thread draws, and is stopped as the host routine returns.
        expect_one_limit_report();
        ASSERT_EQ(standin::draws().size(), 1u);
        EXPECT_EQ(standin::draws()[0].text.text, "false " + kRanLonger);
        standin::errors().clear();
    }
    run(kId, "tl_wrapped()");
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_NE(reports()[0].find(kRanLonger + "\nstack traceback:"), std::string::npos) << reports()[0];
    // Made and checked as the engine's own functions are: LuaJIT runs a C function
    // as a coroutine, and the limit reaches it there too.
    standin::errors().clear();
    run(kId, "coroutine.wrap(print)");
    if (engine_is_luajit()) {
        EXPECT_TRUE(reports().empty()) << joined(reports());
        run(kId, "coroutine.wrap()");
        ASSERT_EQ(messages().size(), 1u);
        EXPECT_NE(reports()[0].find("bad argument #1 to 'wrap' (function expected, got no value)"),
                  std::string::npos)
            << reports()[0];
        standin::errors().clear();
        run(kId, "local ok, a = coroutine.resume(coroutine.create(string.upper), 'up')\n"
                 "draw_text(0, 0, tostring(ok) .. a .. coroutine.wrap(coroutine.yield)('yielded'))\n"
                 "coroutine.wrap(pcall)(function() while true do end end)");
        expect_one_limit_report();
        ASSERT_FALSE(standin::draws().empty());
        EXPECT_EQ(standin::draws().back().text.text, "trueUPyielded");
    } else {
        ASSERT_EQ(messages().size(), 1u);
        EXPECT_NE(reports()[0].find("bad argument #1 to 'wrap' (Lua function expected)"), std::string::npos)
            << reports()[0];
    }
    expect_alive(kId);
}

TEST_F(TimeLimit, APcallLoopCannotHoldOn) {
    const char* sources[] = {
        "while true do pcall(function() while true do end end) end",
        "while true do pcall(pcall, function() while true do end end) end",
        "local function again() while true do end end\n"
        "while true do local ok = pcall(again) if not ok then pcall(again) end end",
        "for i = 1, 1e9 do pcall(error, 'x') end",
    };
    for (const char* source : sources) {
        SCOPED_TRACE(source);
        standin::errors().clear();
        EXPECT_EQ(run(kId, source), 1.0);
        expect_one_limit_report();
    }
    expect_alive(kId);
}

TEST_F(TimeLimit, AnXpcallHandlerCannotHoldOn) {
    const char* sources[] = {
        "xpcall(function() while true do end end, function(m) while true do end end)",
        "xpcall(function() error('x') end, function(m) while true do end end)",
        "while true do xpcall(function() while true do end end, function(m) return m end) end",
    };
    for (const char* source : sources) {
        SCOPED_TRACE(source);
        standin::errors().clear();
        EXPECT_EQ(run(kId, source), 1.0);
        expect_one_limit_report();
    }
    // Before the limit is up, handlers run as they always do.
    standin::errors().clear();
    run(kId, "local ok, m = xpcall(function() error('plain', 0) end, function(m) return 'handled ' .. m end)\n"
             "draw_text(0, 0, tostring(ok) .. ' ' .. m)\n"
             "local ok2, a, b = xpcall(function() return 1, 2 end, print)\n"
             "draw_text(0, 0, tostring(ok2) .. a .. b)");
    EXPECT_TRUE(reports().empty()) << joined(reports());
    std::vector<std::string> drawn;
    for (const auto& d : standin::draws()) drawn.push_back(d.text.text);
    EXPECT_EQ(drawn, (std::vector<std::string>{"false handled plain", "true12"}));
    expect_alive(kId);
}

TEST_F(TimeLimit, TimeInAHostRoutineCounts) {
    // Each call of the host routine alone takes longer than the limit: the script
    // is stopped as the first one returns.
    ASSERT_EQ(time_limit(kId, 0.3), 1.0);
    standin::set_draw_hook([] { std::this_thread::sleep_for(std::chrono::milliseconds(400)); });
    run(kId, "for i = 1, 2 do draw_text(i, 0, 'slow host') end");
    standin::set_draw_hook(nullptr);
    expect_one_limit_report("script ran longer than 0.3 seconds");
    EXPECT_EQ(standin::draws().size(), 1u);
}

TEST_F(TimeLimit, ALoopOfSlowHostCallsStopsWithinOneCallOfTheLimit) {
    // The loop spends nearly all its time in a host script of 2 ms: no call may
    // begin once the limit is up (and the test's clock started a little earlier).
    using Clock = std::chrono::steady_clock;
    std::vector<Clock::time_point> calls;
    standin::set_script(6002, [&](const HostCallArg*, int) {
        calls.push_back(Clock::now());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return Value::number(0);
    });
    ASSERT_EQ(script_register(kId, "host_find_tile", 6002), 1.0);
    const Clock::time_point start = Clock::now();
    run(kId, "local found repeat found = host_find_tile() until found");
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    expect_one_limit_report();
    ASSERT_FALSE(calls.empty());
    size_t late = 0;
    for (const Clock::time_point& t : calls)
        if (t - start > std::chrono::milliseconds(100 + 20)) ++late;
    EXPECT_EQ(late, 0u) << calls.size() << " calls in " << took << " s";
    EXPECT_LT(took, 1.0);
}

TEST_F(TimeLimit, AnEngineWithoutALimitRunsLonger) {
    open(61);
    // Engine 61 spins for three times the limit of engine 60, by its own clock.
    run(61, "local t = os.clock() while os.clock() - t < 0.3 do end draw_text(0, 0, 'done')");
    EXPECT_TRUE(reports().empty()) << joined(reports());
    ASSERT_EQ(standin::draws().size(), 1u);
    run(kId, "while true do end");
    expect_one_limit_report();
}

TEST_F(TimeLimit, NestedExportsShareTheOutermostClock) {
    // The nested export loops until the limit is up. The clock it used is the outer
    // export's, so the outer one, which has hardly run, is out of time as well.
    ScriptFile inner("while true do end");
    standin::set_script(6001, [&](const HostCallArg*, int) {
        load(kId, inner.path());
        return Value::number(0);
    });
    ASSERT_EQ(script_register(kId, "tl_nested", 6001), 1.0);
    run(kId, "tl_nested() draw_text(0, 0, 'outer done')");
    const std::vector<std::string> r = reports();
    ASSERT_EQ(r.size(), 2u) << joined(r);
    for (const std::string& report : r)
        EXPECT_EQ(report.rfind(kRanLonger + "\nstack traceback:", 0), 0u) << report;
    EXPECT_TRUE(standin::draws().empty()) << "the outer export did not get to its end";
    expect_alive(kId);
}

TEST_F(TimeLimit, AScriptsOwnHookLeftFromAnEarlierExportDoesNotLiftIt) {
    run(kId, "debug.sethook(function() end, 'cr')");
    run(kId, "while true do end");
    expect_one_limit_report();
    expect_alive(kId);
}

TEST_F(TimeLimit, SettingItRunsNoScriptCodeNotEvenAScriptsHook) {
    // Turning a compiler off for the limit is varnel's own call into the engine:
    // a script's call and return hook must not see it, nor run from time_limit
    // (where its host routines could call more exports, destroy included).
    ASSERT_EQ(time_limit(kId, 0), 1.0);
    run(kId, "debug.sethook(function(event) draw_text(0, 0, 'hook ' .. event) end, 'cr')");
    standin::draws().clear();
    EXPECT_EQ(time_limit(kId, 0.1), 1.0);
    EXPECT_TRUE(standin::draws().empty()) << standin::draws().front().text.text;
    EXPECT_TRUE(reports().empty()) << joined(reports());
    // The script's hook is still there, and the limit holds.
    run(kId, "local f = debug.gethook() debug.sethook() draw_text(0, 0, tostring(f ~= nil))");
    ASSERT_FALSE(standin::draws().empty());
    EXPECT_EQ(standin::draws().back().text.text, "true");
    run(kId, "while true do end");
    expect_one_limit_report();
    expect_alive(kId);
}

TEST_F(TimeLimit, ZeroLiftsTheLimit) {
    EXPECT_EQ(time_limit(kId, 0), 1.0);
    run(kId, "local t = os.clock() while os.clock() - t < 0.25 do end draw_text(0, 0, 'done')");
    EXPECT_TRUE(reports().empty()) << joined(reports());
    EXPECT_EQ(standin::draws().size(), 1u);
}

TEST_F(TimeLimit, BadArgumentsAreReportedOnceAndChangeNothing) {
    const struct {
        double id;
        double seconds;
        const char* report;
    } cases[] = {
        {62, 1.0, "time_limit: no engine with id 62"},
        {kId, std::nan(""), "time_limit: seconds is NaN for engine 60"},
        {kId, -1.0, "time_limit: seconds is negative (-1) for engine 60"},
        {kId, -0.001, "time_limit: seconds is negative (-0.001) for engine 60"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.report);
        standin::errors().clear();
        EXPECT_EQ(time_limit(c.id, c.seconds), 1.0);
        EXPECT_EQ(reports(), std::vector<std::string>{c.report});
    }
    standin::errors().clear();
    run(kId, "while true do end");  // the limit of 0.1 s still holds
    expect_one_limit_report();
    // An endless limit is no limit.
    standin::errors().clear();
    EXPECT_EQ(time_limit(kId, INFINITY), 1.0);
    run(kId, "local t = os.clock() while os.clock() - t < 0.2 do end");
    EXPECT_TRUE(reports().empty()) << joined(reports());
}

#if defined(_WIN32)
TEST(TimeLimitExport, IsTheSixthOrdinalOfVarnel) {
    HMODULE varnel = GetModuleHandleA("varnel.dll");
    ASSERT_NE(varnel, nullptr);
    FARPROC by_name = GetProcAddress(varnel, "time_limit");
    ASSERT_NE(by_name, nullptr);
    EXPECT_EQ(by_name, GetProcAddress(varnel, MAKEINTRESOURCEA(6)));
}
#endif

TEST_F(TimeLimit, ALimitSetFromAFinalizerIsTaken) {
    // A finalizer calls a host script that sets the limit: LuaJIT refuses to change
    // its compiler from inside a finalizer, which must not end the process.
    ASSERT_EQ(time_limit(kId, 0), 1.0);
    standin::set_script(61, [](const HostCallArg*, int) {
        EXPECT_EQ(time_limit(kId, 0.2), 1.0);
        return Value::number(0);
    });
    ASSERT_EQ(script_register(kId, "tl_from_gc", 61), 1.0);
    run(kId, "local p = newproxy(true)\n"
             "getmetatable(p).__gc = function() tl_from_gc() end\n"
             "p = nil\n"
             "collectgarbage()\n"
             "collectgarbage()");
    EXPECT_TRUE(reports().empty()) << joined(reports());
    run(kId, "while true do end");
    expect_one_limit_report("script ran longer than 0.2 seconds");
    expect_alive(kId);
}

TEST_F(TimeLimit, ALimitSetFromAFinalizerOfVarnelsOwnCollectionIsTaken) {
    // The collection that ends an export in which the memory cap refused runs the
    // finalizer outside any run of the engine's scripts: LuaJIT refuses there too.
    ASSERT_EQ(time_limit(kId, 0), 1.0);
    standin::set_script(61, [](const HostCallArg*, int) {
        EXPECT_EQ(time_limit(kId, 0.2), 1.0);
        return Value::number(0);
    });
    ASSERT_EQ(script_register(kId, "tl_from_gc", 61), 1.0);
    run(kId, "local p = newproxy(true)\n"
             "getmetatable(p).__gc = function() tl_from_gc() end\n"
             "p = nil");
    ASSERT_EQ(memory_limit(kId, 1024), 1.0);
    run(kId, "local t = {} for i = 1, 1000 do t[i] = {} end");
    ASSERT_EQ(memory_limit(kId, 0), 1.0);
    EXPECT_EQ(reports(), std::vector<std::string>{"not enough memory"});
    standin::errors().clear();
    run(kId, "while true do end");
    expect_one_limit_report("script ran longer than 0.2 seconds");
    expect_alive(kId);
}

TEST_F(TimeLimit, NoFormOfAScriptsOwnHookLiftsIt) {
    const char* hooks[] = {
        "debug.sethook()",
        "debug.sethook(function() end, '', 1)",
        "debug.sethook(function() end, '', 1e9)",
        "debug.sethook(function() end, 'l')",
        "debug.sethook(function() end, 'crl', 100)",
        "debug.sethook(function() end, 'cr') debug.sethook()",
        "debug.sethook(coroutine.create(function() end), function() end, '', 1e9)",
        "coroutine.wrap(function() debug.sethook(coroutine.running(), function() end, '', 1e9) end)()",
        // A hook that never returns quickly is stopped as one call returns.
        "debug.sethook(function() local t = os.clock() while os.clock() - t < 0.03 do end end, 'l')",
    };
    for (const char* hook : hooks) {
        SCOPED_TRACE(hook);
        standin::errors().clear();
        run(kId, std::string(hook) + "\nwhile true do end");
        expect_one_limit_report();
        // Left from an earlier export, the script's hook stays, and so does the limit.
        standin::errors().clear();
        run(kId, "while true do end");
        expect_one_limit_report();
        run(kId, "debug.sethook()");
    }
    expect_alive(kId);
}

TEST_F(TimeLimit, AHookOnACoroutineDoesNotLiftIt) {
    // Set before the limit, and again after the limit was set anew.
    ASSERT_EQ(time_limit(kId, 0), 1.0);
    run(kId, "tl_co = coroutine.create(function() while true do end end)\n"
             "debug.sethook(tl_co, function() end, '', 1e9)");
    ASSERT_EQ(time_limit(kId, 0.1), 1.0);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        standin::errors().clear();
        run(kId, "local ok, m = coroutine.resume(tl_co) error(m, 0)");
        expect_one_limit_report();
        ASSERT_EQ(time_limit(kId, 0.1), 1.0);
        run(kId, "tl_co = coroutine.create(function() while true do end end)\n"
                 "debug.sethook(tl_co, function() end, 'crl', 1e9)");
    }
    expect_alive(kId);
}

TEST_F(TimeLimit, AScriptsHookSeesItsEventsAndGethookReturnsIt) {
    run(kId, "local f = function() end\n"
             "debug.sethook(f, 'l', 5)\n"
             "local g, mask, count = debug.gethook()\n"
             "debug.sethook()\n"
             "local none, nomask, nocount = debug.gethook()\n"
             "draw_text(0, 0, tostring(g == f) .. ' ' .. mask .. ' ' .. count .. ' ' ..\n"
             "          tostring(none) .. ' [' .. nomask .. '] ' .. nocount)\n"
             "local counts, lines = 0, {}\n"
             "debug.sethook(function(event, line)\n"
             "  if event == 'count' then counts = counts + 1 else lines[#lines + 1] = event .. line end\n"
             "end, 'l', 100)\n"
             "for i = 1, 1000 do end\n"
             "debug.sethook()\n"
             "draw_text(0, 0, lines[1] .. ' ' .. tostring(counts >= 5 and counts <= 40))");
    EXPECT_TRUE(reports().empty()) << joined(reports());
    std::vector<std::string> drawn;
    for (const auto& d : standin::draws()) drawn.push_back(d.text.text);
    EXPECT_EQ(drawn, (std::vector<std::string>{"true l 5 nil [] 0", "line12 true"}));
}

TEST_F(TimeLimit, ARunawaySwallowedIsStillReportedOnce) {
    const char* sources[] = {
        "pcall(function() while true do end end)",
        "return pcall(function() while true do end end)",
        "coroutine.resume(coroutine.create(function() while true do end end))",
        "local ok = coroutine.resume(coroutine.create(function() while true do end end)) return ok",
        "function tl_swallow() pcall(function() while true do end end) end\ntl_swallow()",
    };
    for (const char* source : sources) {
        SCOPED_TRACE(source);
        standin::errors().clear();
        run(kId, source);
        const std::vector<std::string> r = reports();
        ASSERT_EQ(r.size(), 1u) << joined(r);
        EXPECT_EQ(r[0].rfind(kRanLonger, 0), 0u) << r[0];
        EXPECT_EQ(std::string(last_error(kId)), r[0]);  // kept as any report is
    }
    // In an event function that returns a verdict.
    standin::errors().clear();
    run(kId, "function tl_verdict() coroutine.resume(coroutine.create(function() while true do end end)) return 1 end");
    standin::set_list(7, {});
    script_event(kId, "tl_verdict", 7);
    EXPECT_EQ(reports().size(), 1u) << joined(reports());
    expect_alive(kId);
}

TEST_F(TimeLimit, FiringInAnErrorObjectsTostringIsReportedAsTheLimit) {
    run(kId, "error(setmetatable({}, {__tostring = function() while true do end end}))");
    const std::vector<std::string> r = reports();
    ASSERT_EQ(r.size(), 1u) << joined(r);
    EXPECT_EQ(r[0].rfind(kRanLonger, 0), 0u) << r[0];
    EXPECT_EQ(std::string(last_error(kId)), r[0]);
    expect_alive(kId);
}

TEST_F(TimeLimit, TheMessageSaysSecondOrSeconds) {
    ASSERT_EQ(time_limit(kId, 1), 1.0);
    run(kId, "while true do end");
    expect_one_limit_report("script ran longer than 1 second");
    standin::errors().clear();
    ASSERT_EQ(time_limit(kId, 0.25), 1.0);
    run(kId, "while true do end");
    expect_one_limit_report("script ran longer than 0.25 seconds");
}

}  // namespace
