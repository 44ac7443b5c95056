// White-box tests: one engine made through the export, and its Lua state in hand.
#pragma once
#include <string>

extern "C" {
#include <lua.h>
}

#include "extension/engine/engine_registry.h"
#include "standin/exports.h"
#include "tests/host_fixture.h"
#include "tests/script_file.h"

class EngineTest : public HostTest {
protected:
    static constexpr double kId = 300;
    lua_State* L = nullptr;

    void SetUp() override {
        HostTest::SetUp();
        ASSERT_EQ(state(kId), 1.0);
        ASSERT_NE(find_state(kId), nullptr);
        L = find_state(kId)->L;
    }
    void TearDown() override {
        EXPECT_EQ(destroy(kId), 1.0);
        HostTest::TearDown();
    }
    double load_source(const std::string& source) {
        ScriptFile file(source);
        return load(kId, file.path());
    }
    int height() const { return lua_gettop(L); }
    // True when the engine library is LuaJIT: expectations that differ between
    // engines ask this, and never skip.
    bool on_luajit() {
        lua_getfield(L, LUA_GLOBALSINDEX, "jit");  // +1
        const bool jit = lua_istable(L, -1);
        lua_pop(L, 1);  // -1
        return jit;
    }
};
