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
        EXPECT_TRUE(reports().empty()) << joined(reports());
        ASSERT_EQ(standin::draws().size(), 1u);
        EXPECT_EQ(standin::draws()[0].text.text, "false " + kRanLonger);
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

TEST_F(TimeLimit, TimeInAHostRoutineDoesNotCount) {
    // Each call of the host routine alone takes longer than the limit; the Lua code
    // around them takes next to nothing.
    ASSERT_EQ(time_limit(kId, 0.3), 1.0);
    standin::set_draw_hook([] { std::this_thread::sleep_for(std::chrono::milliseconds(400)); });
    run(kId, "for i = 1, 2 do draw_text(i, 0, 'slow host') end");
    standin::set_draw_hook(nullptr);
    EXPECT_TRUE(reports().empty()) << joined(reports());
    EXPECT_EQ(standin::draws().size(), 2u);
    // The error routine too: it may keep a dialog up for minutes.
    standin::set_error_hook([] { std::this_thread::sleep_for(std::chrono::milliseconds(400)); });
    run(kId, "function tl_report() local ok = pcall(error, 'x') ; error('reported') end\ntl_report()");
    standin::set_error_hook(nullptr);
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(untraced(reports()[0]).find("reported"), untraced(reports()[0]).size() - 8) << reports()[0];
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

}  // namespace
