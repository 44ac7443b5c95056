// White-box checks of what only the inside shows: an error report when memory
// runs out while its traceback is built, a file loaded when no memory is to be
// had, and the run clock's count hook, which is there only while the engine has
// a time limit.
#include <cstdio>
#include <cstdlib>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "extension/lua/file_chunk.h"
#include "tests/engine_fixture.h"
#include "tests/script_file.h"

namespace {

bool g_refuse = false;
lua_Alloc g_real_alloc = nullptr;

// Refuses every block that grows while g_refuse is set.
void* refusing_alloc(void* ud, void* block, size_t old_size, size_t new_size) {
    if (g_refuse && new_size > old_size) return nullptr;
    return g_real_alloc(ud, block, old_size, new_size);
}

// [-0, +0, e] Lua: refuse_then_raise(message) turns allocation off and raises message.
int refuse_then_raise(lua_State* L) {
    lua_settop(L, 1);
    g_refuse = true;
    return lua_error(L);
}

// [-0, +1, e] Lua: loads the file at the path given as a light userdata with
// allocation turned off.
int load_refused(lua_State* L) {
    const char* path = static_cast<const char*>(lua_touserdata(L, 1));
    g_refuse = true;
    load_file_chunk(L, path);
    return 1;
}

class EngineInside : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        void* ud = nullptr;
        g_real_alloc = lua_getallocf(L, &ud);
        lua_setallocf(L, refusing_alloc, ud);
        lua_pushcfunction(L, refuse_then_raise);
        lua_setfield(L, LUA_GLOBALSINDEX, "refuse_then_raise");
    }
    void TearDown() override {
        g_refuse = false;
        EngineTest::TearDown();
    }
};

TEST_F(EngineInside, AMemoryErrorWhileTheTracebackIsBuiltStillReportsTheMessage) {
    load_source("local function f() refuse_then_raise('the message') end\nf()\n");
    g_refuse = false;
    ASSERT_EQ(standin::errors().size(), 1u);
    // LuaJIT needs memory to raise at all, and turns the error into a memory error.
    EXPECT_EQ(standin::errors()[0].text, on_luajit() ? "not enough memory" : "the message");
    EXPECT_EQ(height(), 1);
    standin::errors().clear();
    load_source("draw_text(0, 0, 'still fine')");
    EXPECT_TRUE(standin::errors().empty());
    ASSERT_EQ(standin::draws().size(), 1u);
}

TEST_F(EngineInside, ATableErrorWhenMemoryRunsOutIsNamedByItsType) {
    load_source("local t = setmetatable({}, {__tostring = function() return string.rep('x', 100) end})\n"
                "refuse_then_raise(t)\n");
    g_refuse = false;
    ASSERT_EQ(standin::errors().size(), 1u);
    EXPECT_EQ(standin::errors()[0].text, on_luajit() ? "not enough memory" : "(error object is a table value)");
}

// An engine at its memory cap that is asked to load a file cannot make the
// chunk's name: the file must not be open by then. Descriptors are handed out
// lowest first, so one left open each time shows in the next file opened.
TEST_F(EngineInside, ALoadWithoutMemoryLeavesNoFileOpen) {
    ScriptFile file("return 1");
    const auto next_descriptor = [&file] {
        std::FILE* f = std::fopen(file.path(), "rb");
        const int fd = f ? fileno(f) : -1;
        if (f) std::fclose(f);
        return fd;
    };
    const int before = next_descriptor();
    ASSERT_GE(before, 0);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(lua_cpcall(L, load_refused, const_cast<char*>(file.path())), LUA_ERRMEM);
        g_refuse = false;
        lua_settop(L, 0);
    }
    EXPECT_EQ(next_descriptor(), before);
    ASSERT_EQ(load_file_chunk(L, file.path()), 0);
    lua_settop(L, 0);
}

TEST_F(EngineInside, TheCountHookIsThereOnlyWhileALimitIs) {
    EXPECT_EQ(lua_gethook(L), nullptr);
    load_source("draw_text(0, 0, 'no limit')");
    EXPECT_EQ(lua_gethook(L), nullptr);
    EXPECT_EQ(time_limit(kId, 0.5), 1.0);
    EXPECT_NE(lua_gethook(L), nullptr);
    EXPECT_EQ(lua_gethookmask(L), LUA_MASKCOUNT);
    EXPECT_EQ(time_limit(kId, 0), 1.0);
    EXPECT_EQ(lua_gethook(L), nullptr);
    // A coroutine made under the limit drops the hook at its next check.
    EXPECT_EQ(time_limit(kId, 0.5), 1.0);
    load_source("inside_co = coroutine.create(function() while true do coroutine.yield() end end)");
    lua_getfield(L, LUA_GLOBALSINDEX, "inside_co");
    lua_State* co = lua_tothread(L, -1);
    lua_pop(L, 1);
    EXPECT_NE(lua_gethook(co), nullptr);
    EXPECT_EQ(time_limit(kId, 0), 1.0);
    load_source("for i = 1, 3 do coroutine.resume(inside_co, function() for j = 1, 30000 do end end) end");
    load_source("coroutine.wrap(function() for j = 1, 30000 do end end)()");
    EXPECT_EQ(lua_gethook(L), nullptr);
    EXPECT_TRUE(standin::errors().empty());
}

}  // namespace
