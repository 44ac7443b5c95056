// What each export leaves on its engine's Lua stack, seen from inside: nothing,
// failing or not; a chunk's results are dropped once it has run. Slot 1 holds the
// message handler that state put there.
#include "tests/engine_fixture.h"

namespace {

class EngineStack : public EngineTest {
protected:
    size_t reported() const { return standin::errors().size(); }
    // Leaves a value of the host's own on the stack, above the handler, for the
    // checks that it stays.
    void keep_one() {
        ASSERT_EQ(height(), 1);
        lua_pushstring(L, "keep");
        ASSERT_EQ(height(), 2);
    }
    void expect_kept(int h) {
        EXPECT_EQ(height(), h);
        EXPECT_EQ(lua_type(L, 1), LUA_TFUNCTION);
        ASSERT_EQ(lua_type(L, 2), LUA_TSTRING);
        EXPECT_STREQ(lua_tostring(L, 2), "keep");
    }
};

TEST_F(EngineStack, LoadDropsTheChunksResults) {
    keep_one();
    for (const char* source : {"return 1, 'two'", "return", "return nil, false"}) {
        SCOPED_TRACE(source);
        ASSERT_EQ(load_source(source), 1.0);
        expect_kept(2);
    }
    EXPECT_EQ(reported(), 0u);
}

TEST_F(EngineStack, ReloadingAModuleManyTimesKeepsNothing) {
    keep_one();
    ScriptFile module("local M = {big = string.rep('m', 1000)}\n"
                      "function M.f() return 1 end\n"
                      "stack_loads = (stack_loads or 0) + 1\n"
                      "return M");
    for (int i = 0; i < 10000; ++i) load(kId, module.path());
    expect_kept(2);
    EXPECT_EQ(reported(), 0u);
    lua_getglobal(L, "stack_loads");
    EXPECT_EQ(lua_tonumber(L, -1), 10000.0);
    lua_pop(L, 1);
    // None of the returned tables is held: a full collection frees them all.
    lua_gc(L, LUA_GCCOLLECT, 0);
    EXPECT_LT(lua_gc(L, LUA_GCCOUNT, 0), 1000) << "kilobytes in use";
}

TEST_F(EngineStack, AFailingLoadLeavesTheHeight) {
    keep_one();
    const char* failing[] = {"x = = 1", "error('run')", "error(nil)", "error({})", "error(7)"};
    for (const char* source : failing) {
        SCOPED_TRACE(source);
        const size_t before = reported();
        load_source(source);
        EXPECT_EQ(reported(), before + 1);
        expect_kept(2);
    }
    load(kId, "stack_missing.lua");
    load(kId, nullptr);
    EXPECT_EQ(reported(), 7u);
    expect_kept(2);
}

TEST_F(EngineStack, ManyResultsAreDroppedAndLaterExportsStillWork) {
    for (int i = 0; i < 3; ++i) load_source("local t = {} for i = 1, 7900 do t[i] = i end return unpack(t)");
    EXPECT_EQ(height(), 1);
    EXPECT_EQ(reported(), 0u);
    standin::set_list(42, {});
    EXPECT_EQ(script_register(kId, "stack_many", 1), 1.0);
    load_source("function stack_many_event() draw_text(1, 2, 'fine') return 0 end");
    EXPECT_EQ(script_event(kId, "stack_many_event", 42), 1.0);
    EXPECT_EQ(height(), 1);
    EXPECT_EQ(standin::draws().size(), 1u);
    EXPECT_EQ(reported(), 0u);
}

TEST_F(EngineStack, ReportsKeepTheirTracebackWhenTheHandlerSlotIsGone) {
    lua_settop(L, 0);  // the host emptied the stack: each call brings its own handler
    load_source("local function f() error('still traced') end\nf()\n");
    ASSERT_EQ(reported(), 1u);
    EXPECT_NE(standin::errors()[0].text.find("still traced\nstack traceback:\n\t[C]: in function 'error'"),
              std::string::npos)
        << standin::errors()[0].text;
    EXPECT_EQ(height(), 0);
    standin::set_list(43, {});
    load_source("function stack_traced() error('event traced') end");
    EXPECT_EQ(script_event(kId, "stack_traced", 43), 1.0);
    EXPECT_EQ(script_event(kId, "stack_traced", 43), 1.0);  // the second time by its known name
    ASSERT_EQ(reported(), 3u);
    for (int i = 1; i < 3; ++i) EXPECT_NE(standin::errors()[i].text.find("event traced\nstack traceback:"), std::string::npos);
    EXPECT_EQ(height(), 0);
}

TEST_F(EngineStack, ScriptRegisterLeavesTheHeight) {
    keep_one();
    EXPECT_EQ(script_register(kId, "stack_reg_ok", 90), 1.0);
    expect_kept(2);
    EXPECT_EQ(script_register(kId, nullptr, 90), 1.0);
    EXPECT_EQ(reported(), 1u);
    expect_kept(2);
    load_source("setmetatable(_G, {__newindex = function() error('stack: no new globals', 0) end})");
    EXPECT_EQ(script_register(kId, "stack_reg_blocked", 91), 1.0);
    ASSERT_EQ(reported(), 2u);
    EXPECT_EQ(standin::errors().back().text.rfind("stack: no new globals\nstack traceback:", 0), 0u);
    expect_kept(2);
}

TEST_F(EngineStack, ScriptEventLeavesTheHeight) {
    keep_one();
    standin::set_list(41, {standin::Value::number(3), standin::Value::text_of("x")});
    load_source("function stack_ev_ok(a, b) return a end\n"
                "function stack_ev_raises() error('stack: raised', 0) end");
    const struct {
        const char* name;
        double verdict;
        size_t reports;
    } cases[] = {
        {"stack_ev_ok", 0.0, 0},
        {"stack_ev_raises", 1.0, 1},
        {"stack_ev_missing", 1.0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = reported();
        EXPECT_EQ(script_event(kId, c.name, 41), c.verdict);
        EXPECT_EQ(reported(), before + c.reports);
        expect_kept(2);
    }
}

TEST_F(EngineStack, CallsRunAndGlobalsLeaveTheHeightAfterThousandsOfCalls) {
    keep_one();
    standin::set_list(42, {standin::Value::number(3), standin::Value::text_of("x")});
    load_source("function stack_echo(a, b) return b, a end\n"
                "function stack_raise() error('stack: raised', 0) end\n"
                "stack_t = {a = {b = {c = 5}}}\n"
                "stack_raising = setmetatable({}, {__index = function() error('stack: index', 0) end})");
    size_t expected = 0;
    for (int i = 0; i < 2000; ++i) {
        EXPECT_STREQ(call_text(kId, "stack_echo", 42), "x");
        EXPECT_EQ(call_real(kId, "stack_echo", 42), 0.0);
        EXPECT_EQ(global_real(kId, "stack_t.a.b.c"), 5.0);
        EXPECT_STREQ(global_text(kId, "stack_t.a.b"), "");
        EXPECT_EQ(global_set_real(kId, "stack_t.a.n", i), 1.0);
        EXPECT_EQ(global_set_text(kId, "stack_t.a.s", "s"), 1.0);
        EXPECT_EQ(run(kId, "stack_n = (stack_n or 0) + 1 return 1, 2, 3"), 1.0);
        if (i % 200 == 0) {
            EXPECT_EQ(call_real(kId, "stack_raise", 42), 0.0);
            EXPECT_STREQ(call_text(kId, "stack_missing", 42), "");
            EXPECT_EQ(global_real(kId, "stack_raising.x"), 0.0);
            EXPECT_EQ(global_set_real(kId, "stack_none.x", 1), 1.0);
            EXPECT_EQ(run(kId, "error('stack: run', 0)"), 1.0);
            EXPECT_NE(std::string(last_error(kId)), "");
            expected += 5;
        }
    }
    EXPECT_EQ(reported(), expected);
    EXPECT_EQ(global_real(kId, "stack_n"), 2000.0);
    expect_kept(2);
}

}  // namespace
