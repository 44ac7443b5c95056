// xpcall as the engine's own, with or without a time limit: the arguments after
// the handler reach the function on LuaJIT (Lua 5.1.5 drops them), a coroutine
// yields inside it on LuaJIT (Lua 5.1.5 refuses), and its argument checks and
// traceback read as the engine's.
#include <string>
#include <vector>

#include "tests/varnel_fixture.h"

namespace {

class GuardedXpcall : public VarnelTest {
protected:
    static constexpr double kId = 95;
    void SetUp() override {
        VarnelTest::SetUp();
        open(kId);
    }
    // Runs source and returns what it drew, expecting no report.
    std::vector<std::string> drawn_by(const std::string& source) {
        SCOPED_TRACE(source);
        standin::errors().clear();
        standin::draws().clear();
        run(kId, source);
        EXPECT_TRUE(reports().empty()) << joined(reports());
        std::vector<std::string> drawn;
        for (const auto& d : standin::draws()) drawn.push_back(d.text.text);
        return drawn;
    }
    // Each case with no limit, then under one that is not reached.
    template <typename Check>
    void with_and_without_limit(Check check) {
        check();
        ASSERT_EQ(time_limit(kId, 5), 1.0);
        check();
    }
};

TEST_F(GuardedXpcall, ArgumentsAfterTheHandler) {
    with_and_without_limit([&] {
        const std::vector<std::string> drawn =
            drawn_by("draw_text(0, 0, select(2, xpcall(function(...) return select('#', ...) .. tostring((...)) end,\n"
                     "                                  function(m) return m end, 'a', nil, 3)))");
        EXPECT_EQ(drawn, std::vector<std::string>{engine_is_luajit() ? "3a" : "0nil"});
    });
}

TEST_F(GuardedXpcall, AYieldInsideACoroutine) {
    with_and_without_limit([&] {
        const std::vector<std::string> drawn = drawn_by(
            "local co = coroutine.wrap(function()\n"
            "  return tostring(select(2, xpcall(function() return coroutine.yield('out') + 1 end,\n"
            "                                   function(m) return m end)))\n"
            "end)\n"
            "local first = co()\n"
            "draw_text(0, 0, first)\n"
            "if first == 'out' then draw_text(0, 0, co(41)) end");
        if (engine_is_luajit())
            EXPECT_EQ(drawn, (std::vector<std::string>{"out", "42"}));
        else
            EXPECT_EQ(drawn, (std::vector<std::string>{"attempt to yield across metamethod/C-call boundary"}));
    });
}

TEST_F(GuardedXpcall, AnErrorInTheHandler) {
    with_and_without_limit([&] {
        EXPECT_EQ(drawn_by("draw_text(0, 0, tostring(select(2, xpcall(error, function(m) error('again') end))))"),
                  std::vector<std::string>{"error in error handling"});
        // The handler's own protected call: LuaJIT refuses its error as it stands.
        EXPECT_EQ(drawn_by("xpcall(function() error('a', 0) end, function(m)\n"
                           "  draw_text(0, 0, select(2, xpcall(function() error('b', 0) end,\n"
                           "                                   function(m2) return 'inner ' .. m2 end)))\n"
                           "end)"),
                  std::vector<std::string>{engine_is_luajit() ? "error in error handling" : "inner b"});
    });
}

TEST_F(GuardedXpcall, ArgumentsRefusedAsTheEngineDoes) {
    const bool luajit = engine_is_luajit();
    with_and_without_limit([&] {
        struct Case {
            const char* source;
            const char* message;  // "" for none
        };
        const Case cases[] = {
            {"xpcall(print)", luajit ? "bad argument #2 to 'xpcall' (function expected, got no value)"
                                     : "bad argument #2 to 'xpcall' (value expected)"},
            // Lua 5.1.5 takes any handler; LuaJIT wants a function.
            {"xpcall(print, 1)", luajit ? "bad argument #2 to 'xpcall' (function expected, got number)" : ""},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.source);
            standin::errors().clear();
            run(kId, c.source);
            if (*c.message == '\0') {
                EXPECT_TRUE(reports().empty()) << joined(reports());
                continue;
            }
            ASSERT_EQ(messages().size(), 1u) << joined(reports());
            EXPECT_NE(messages()[0].find(c.message), std::string::npos) << messages()[0];
            // The traceback reads as the engine's own xpcall's.
            EXPECT_NE(reports()[0].find("\n\t[C]: in function 'xpcall'\n"), std::string::npos) << reports()[0];
        }
    });
}

}  // namespace
