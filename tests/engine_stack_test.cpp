// What each export leaves on its engine's Lua stack, seen from inside: a chunk's
// results stay after load, and nothing else changes the height, failing or not.
#include "tests/engine_fixture.h"

namespace {

class EngineStack : public EngineTest {
protected:
    size_t reported() const { return standin::errors().size(); }
    // Leaves `return 'keep'` on the stack, for the checks that it stays.
    void keep_one() {
        ASSERT_EQ(load_source("return 'keep'"), 1.0);
        ASSERT_EQ(height(), 1);
    }
    void expect_kept(int h) {
        EXPECT_EQ(height(), h);
        ASSERT_EQ(lua_type(L, 1), LUA_TSTRING);
        EXPECT_STREQ(lua_tostring(L, 1), "keep");
    }
};

TEST_F(EngineStack, TheChunksResultsStayAfterLoad) {
    EXPECT_EQ(height(), 0);
    ASSERT_EQ(load_source("return 1, 'two'"), 1.0);
    ASSERT_EQ(height(), 2);
    EXPECT_EQ(lua_tonumber(L, 1), 1.0);
    EXPECT_STREQ(lua_tostring(L, 2), "two");
    load_source("return");
    EXPECT_EQ(height(), 2);
    load_source("return nil, false");
    EXPECT_EQ(height(), 4);
    EXPECT_EQ(lua_type(L, 3), LUA_TNIL);
    EXPECT_EQ(lua_type(L, 4), LUA_TBOOLEAN);
    EXPECT_EQ(reported(), 0u);
}

TEST_F(EngineStack, AFailingLoadLeavesTheHeight) {
    keep_one();
    const char* failing[] = {"x = = 1", "error('run')", "error(nil)", "error({})", "error(7)"};
    for (const char* source : failing) {
        SCOPED_TRACE(source);
        const size_t before = reported();
        load_source(source);
        EXPECT_EQ(reported(), before + 1);
        expect_kept(1);
    }
    load(kId, "stack_missing.lua");
    load(kId, nullptr);
    EXPECT_EQ(reported(), 7u);
    expect_kept(1);
}

TEST_F(EngineStack, ManyResultsStayAndLaterExportsStillWork) {
    load_source("local t = {} for i = 1, 7000 do t[i] = i end return unpack(t)");
    ASSERT_EQ(height(), 7000);
    EXPECT_EQ(lua_tonumber(L, 7000), 7000.0);
    EXPECT_EQ(reported(), 0u);
    // No room for another 7000: refused with one report, the stack as it was.
    load_source("local t = {} for i = 1, 7000 do t[i] = i end return unpack(t)");
    EXPECT_EQ(reported(), 1u);
    EXPECT_EQ(height(), 7000);
    standin::set_list(42, {});
    EXPECT_EQ(script_register(kId, "stack_many", 1), 1.0);
    load_source("function stack_many_event() draw_text(1, 2, 'fine') return 0 end");
    EXPECT_EQ(script_event(kId, "stack_many_event", 42), 1.0);
    EXPECT_EQ(height(), 7000);
    EXPECT_EQ(standin::draws().size(), 1u);
    EXPECT_EQ(reported(), 1u);
}

TEST_F(EngineStack, ScriptRegisterLeavesTheHeight) {
    keep_one();
    EXPECT_EQ(script_register(kId, "stack_reg_ok", 90), 1.0);
    expect_kept(1);
    EXPECT_EQ(script_register(kId, nullptr, 90), 1.0);
    EXPECT_EQ(reported(), 1u);
    expect_kept(1);
    load_source("setmetatable(_G, {__newindex = function() error('stack: no new globals', 0) end})");
    EXPECT_EQ(script_register(kId, "stack_reg_blocked", 91), 1.0);
    ASSERT_EQ(reported(), 2u);
    EXPECT_EQ(standin::errors().back().text, "stack: no new globals");
    expect_kept(1);
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
        expect_kept(1);
    }
}

}  // namespace
