// stop_compiling: after it, a count hook fires all through a hot loop, on either
// engine; it tells LuaJIT from Lua 5.1.5 by what the engine library exports.
extern "C" {
#include <lauxlib.h>
}

#include "extension/limits/engine_jit.h"
#include "tests/engine_fixture.h"

namespace {

int g_counts = 0;

void count_hook(lua_State*, lua_Debug*) { ++g_counts; }

class EngineJit : public EngineTest {
protected:
    // Runs hot(n) under a count hook of 1000 instructions; how often it fired.
    int counts_during_hot(double n) {
        g_counts = 0;
        lua_sethook(L, count_hook, LUA_MASKCOUNT, 1000);
        lua_getfield(L, LUA_GLOBALSINDEX, "hot");  // +1
        lua_pushnumber(L, n);                      // +1
        EXPECT_EQ(lua_pcall(L, 1, 1, 0), 0);       // -2, +1
        lua_pop(L, 1);                             // -1
        lua_sethook(L, nullptr, 0, 0);
        return g_counts;
    }
};

TEST_F(EngineJit, ACountHookFiresInAHotLoopAfterIt) {
    // Hot enough that a JIT compiler, if there is one, has compiled the loop.
    ASSERT_EQ(load_source("function hot(n) local s = 0 for i = 1, n do s = s + i % 7 end return s end\n"
                          "for _ = 1, 20 do hot(10000) end"),
              1.0);
    const int before = height();
    EXPECT_EQ(stop_compiling(L), on_luajit());
    // A million rounds of three instructions each (mod, add, loop) on both engines;
    // inside compiled code the hook would hardly fire.
    EXPECT_GE(counts_during_hot(1e6), 2900);
    EXPECT_EQ(height(), before);
    EXPECT_TRUE(standin::errors().empty()) << standin::errors().front().text;
}

TEST_F(EngineJit, TheCompilerIsOnWhereTheBuildHasIt) {
    const char* status = "return jit ~= nil and (jit.status())";
    ASSERT_EQ(luaL_dostring(L, status), 0);
#if defined(VARNEL_TEST_JIT_BUILT_IN)
    EXPECT_TRUE(lua_toboolean(L, -1));
    // And compiled code is what the hook misses: without stop_compiling it
    // hardly fires in the hot loop.
    ASSERT_EQ(load_source("function hot(n) local s = 0 for i = 1, n do s = s + i % 7 end return s end\n"
                          "for _ = 1, 20 do hot(10000) end"),
              1.0);
    EXPECT_LT(counts_during_hot(1e6), 2900);
#else
    EXPECT_FALSE(lua_toboolean(L, -1));
#endif
    lua_settop(L, 0);
}

TEST_F(EngineJit, AHookOnCallsNeitherFiresNorIsLost) {
    // varnel's own call into the engine is no event of a script's: the hook is
    // put aside around it and put back as it was.
    g_counts = 0;
    lua_sethook(L, count_hook, LUA_MASKCALL | LUA_MASKRET | LUA_MASKCOUNT, 1000);
    EXPECT_EQ(stop_compiling(L), on_luajit());
    EXPECT_EQ(g_counts, 0);
    EXPECT_EQ(lua_gethook(L), count_hook);
    EXPECT_EQ(lua_gethookmask(L), LUA_MASKCALL | LUA_MASKRET | LUA_MASKCOUNT);
    EXPECT_EQ(lua_gethookcount(L), 1000);
    lua_sethook(L, nullptr, 0, 0);
}

TEST_F(EngineJit, ItTouchesOnlyItsEngineAndMayBeRepeated) {
    ASSERT_EQ(state(kId + 1), 1.0);
    lua_State* other = find_state(kId + 1)->L;
    // jit.status() gives true first when the compiler is built in and on.
    const char* status = "return jit ~= nil and (jit.status())";
    ASSERT_EQ(luaL_dostring(other, status), 0);
    const bool other_compiles = lua_toboolean(other, -1);
    EXPECT_EQ(stop_compiling(L), on_luajit());
    EXPECT_EQ(stop_compiling(L), on_luajit());
    ASSERT_EQ(luaL_dostring(L, status), 0);
    EXPECT_FALSE(lua_toboolean(L, -1));
    ASSERT_EQ(luaL_dostring(other, status), 0);
    EXPECT_EQ(lua_toboolean(other, -1), other_compiles);
    lua_settop(L, 0);
    lua_settop(other, 0);
    EXPECT_EQ(destroy(kId + 1), 1.0);
}

}  // namespace
