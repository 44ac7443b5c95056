// A forwarder carries its name as its only upvalue. Scripts cannot replace a C
// function's upvalue, but C code in the same process can: whatever it puts there,
// the forwarder must not reach the host with it.
#include "tests/engine_fixture.h"

namespace {

class ForwarderUpvalue : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        standin::set_script(31, [](const HostCallArg*, int) { return standin::Value::number(5); });
        ASSERT_EQ(script_register(kId, "up_forward", 31), 1.0);
    }
    // Replaces the forwarder's upvalue with what push() leaves on the stack.
    template <typename Push>
    void replace_upvalue(Push push) {
        lua_getfield(L, LUA_GLOBALSINDEX, "up_forward");
        push();
        ASSERT_NE(lua_setupvalue(L, -2, 1), nullptr);
        lua_settop(L, 0);
    }
    // How many values the forwarder gives, as the script sees it.
    std::string call_count_seen() {
        standin::draws().clear();
        load_source("draw_text(0, 0, tostring(select('#', up_forward(1, 'a'))))");
        lua_settop(L, 0);
        return standin::draws().empty() ? "" : standin::draws().back().text.text;
    }
};

TEST_F(ForwarderUpvalue, ANameRunsTheRegisteredScript) {
    EXPECT_EQ(call_count_seen(), "1");
    EXPECT_EQ(standin::call_count(R_EXECUTE_SCRIPT), 1u);
}

TEST_F(ForwarderUpvalue, AnUpvalueWithNoTextGivesNothingAndCallsNothing) {
    replace_upvalue([&] { lua_newtable(L); });
    EXPECT_EQ(call_count_seen(), "0");
    replace_upvalue([&] { lua_pushnil(L); });
    EXPECT_EQ(call_count_seen(), "0");
    replace_upvalue([&] { lua_pushboolean(L, 1); });
    EXPECT_EQ(call_count_seen(), "0");
    EXPECT_EQ(standin::call_count(R_EXECUTE_SCRIPT), 0u);
    EXPECT_EQ(standin::call_count(R_NEW_CELL), 3u) << "only draw_text's cells";
    EXPECT_TRUE(standin::errors().empty());
}

TEST_F(ForwarderUpvalue, AnUnregisteredNameGivesNothing) {
    replace_upvalue([&] { lua_pushstring(L, "up_never_registered"); });
    EXPECT_EQ(call_count_seen(), "0");
    replace_upvalue([&] { lua_pushnumber(L, 31); });  // a number is turned into the text "31"
    EXPECT_EQ(call_count_seen(), "0");
    EXPECT_EQ(standin::call_count(R_EXECUTE_SCRIPT), 0u);
}

TEST_F(ForwarderUpvalue, ANameIsLookedUpUpToItsFirstNul) {
    replace_upvalue([&] { lua_pushlstring(L, "up_forward\0tail", 15); });
    EXPECT_EQ(call_count_seen(), "1");
    EXPECT_EQ(standin::call_count(R_EXECUTE_SCRIPT), 1u);
}

}  // namespace
