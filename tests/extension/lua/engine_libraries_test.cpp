// The standard libraries as varnel sets them up: debug.getupvalue and
// debug.setupvalue refuse C functions on every engine, as Lua 5.1.5's do.
#include "tests/engine_fixture.h"

namespace {

class EngineLibraries : public EngineTest {
protected:
    // Runs source, which ends in draw_text(0, 0, what); returns what was drawn.
    std::string drawn(const std::string& source) {
        standin::draws().clear();
        load_source(source);
        lua_settop(L, 0);
        return standin::draws().empty() ? "<nothing>" : standin::draws().back().text.text;
    }
};

TEST_F(EngineLibraries, CFunctionsUpvaluesAreOutOfReach) {
    ASSERT_EQ(script_register(kId, "up_forward", 31), 1.0);
    const char* functions[] = {"newproxy", "up_forward", "draw_text", "print", "ipairs", "coroutine.wrap(function() end)"};
    for (const char* f : functions) {
        SCOPED_TRACE(f);
        const std::string get = std::string("draw_text(0, 0, tostring(select('#', debug.getupvalue(") + f + ", 1))))";
        EXPECT_EQ(drawn(get), "0");
        const std::string set =
            std::string("draw_text(0, 0, tostring(select('#', debug.setupvalue(") + f + ", 1, {}))))";
        EXPECT_EQ(drawn(set), "0");
    }
    // The built-ins still work after the attempts.
    EXPECT_EQ(drawn("local p = newproxy(true) getmetatable(p).__index = function() return 'ok' end "
                    "draw_text(0, 0, p.x)"),
              "ok");
    EXPECT_TRUE(standin::errors().empty()) << standin::errors().front().text;
}

TEST_F(EngineLibraries, LuaFunctionsUpvaluesStayReachable) {
    EXPECT_EQ(drawn("local a, b = 1, 2 local function f() return a + b end "
                    "local n1, v1 = debug.getupvalue(f, 1) local n3 = debug.getupvalue(f, 3) "
                    "local n2 = debug.setupvalue(f, 2, 40) "
                    "draw_text(0, 0, n1 .. v1 .. n2 .. f() .. tostring(n3))"),
              "a1b41nil");
    EXPECT_TRUE(standin::errors().empty()) << standin::errors().front().text;
}

TEST_F(EngineLibraries, BadArgumentsRaiseAsInLua515) {
    const char* cases[][2] = {
        {"debug.getupvalue()", "bad argument #2 to 'getupvalue' (number expected, got no value)"},
        {"debug.getupvalue(1, 1)", "bad argument #1 to 'getupvalue' (function expected, got number)"},
        {"debug.setupvalue(print, 1)", "bad argument #3 to 'setupvalue' (value expected)"},
        {"debug.setupvalue(1, 'x', 2)", "bad argument #2 to 'setupvalue' (number expected, got string)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        const std::string e = drawn(std::string("local ok, e = pcall(function() local x = ") + c[0] +
                                    " end) draw_text(0, 0, tostring(e))");
        EXPECT_NE(e.find(std::string(".lua:1: ") + c[1]), std::string::npos) << e;
    }
}

}  // namespace
