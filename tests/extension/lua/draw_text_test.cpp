// The global draw_text: what the host receives for each kind of argument, and the
// one cell a text needs, made before the host call and disposed after it.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/varnel_fixture.h"

namespace {

using standin::calls;
using Calls = std::vector<std::string>;

class DrawText : public VarnelTest {
protected:
    static constexpr double kId = 100;
    void SetUp() override {
        VarnelTest::SetUp();
        open(kId);
    }
};

struct DrawCase {
    const char* args;  // Lua source of the call's arguments
    double x, y;
    std::string text;  // what the cell holds
    bool cell;         // a text was stored; without one the host gets the empty text
};

// The routine calls one draw should make, in order.
Calls expected_calls(const DrawCase& c) {
    char draw[96];
    std::snprintf(draw, sizeof draw, "draw %.14g, %.14g, ", c.x, c.y);
    const std::string shown = c.text.empty() ? "<null>" : "\"" + c.text + "\"";
    if (!c.cell) return {draw + shown};
    return {"new_cell", "assign \"" + c.text + "\"", draw + shown, "dispose_cell"};
}

TEST_F(DrawText, EachArgumentReachesTheHostAsLuaReadsIt) {
    const DrawCase cases[] = {
        {"10, 20, 'hi there'", 10, 20, "hi there", true},
        {"10, 20, 3.5", 10, 20, "3.5", true},
        {"10, 20, 7", 10, 20, "7", true},
        {"'12', '7', 's'", 12, 7, "s", true},
        {"-1.5, 1e300, 'far'", -1.5, 1e300, "far", true},
        {"10, 20", 10, 20, "", false},
        {"10, 20, nil", 10, 20, "", false},
        {"10, 20, ''", 10, 20, "", true},
        {"", 0, 0, "", false},
        {"1, 2, 'ab\\0cd'", 1, 2, "ab", true},
        {"1, 2, '\\200\\255\\128'", 1, 2, "\xC8\xFF\x80", true},
        {"1, 2, string.rep('z', 300)", 1, 2, std::string(300, 'z'), true},
        {"1, 2, 'x', 'y', 5", 1, 2, "x", true},
        {"'abc', {}, 't'", 0, 0, "t", true},
        {"true, print, 't'", 0, 0, "t", true},
        {"1, 2, true", 1, 2, "", false},
        {"1, 2, false", 1, 2, "", false},
        {"1, 2, {}", 1, 2, "", false},
        {"1, 2, setmetatable({}, {__tostring = function() return 'no' end})", 1, 2, "", false},
        {"1, 2, print", 1, 2, "", false},
        {"1, 2, newproxy()", 1, 2, "", false},
        {"1, 2, coroutine.create(function() end)", 1, 2, "", false},
    };
    for (const DrawCase& c : cases) {
        SCOPED_TRACE(std::string("draw_text(") + c.args + ")");
        calls().clear();
        standin::draws().clear();
        EXPECT_EQ(run(kId, std::string("draw_text(") + c.args + ")"), 1.0);
        EXPECT_EQ(calls(), expected_calls(c));
        ASSERT_EQ(standin::draws().size(), 1u);
        EXPECT_EQ(standin::draws()[0].x.real, c.x);
        EXPECT_EQ(standin::draws()[0].y.real, c.y);
    }
    EXPECT_TRUE(reports().empty());
}

TEST_F(DrawText, TheCallYieldsNoValues) {
    run(kId,
        "local v = draw_text(1, 2, 'x')\n"
        "draw_text(0, 0, type(v))\n"
        "draw_text(0, 0, tostring(select('#', draw_text(3, 4))))");
    std::vector<std::string> texts;
    for (const auto& d : standin::draws()) texts.push_back(standin::show(d.text));
    EXPECT_EQ(texts, (Calls{"\"x\"", "\"nil\"", "<null>", "\"0\""}));
    EXPECT_TRUE(reports().empty());
}

TEST_F(DrawText, AHostThatDrawsAgainMeanwhileGetsACellOfItsOwn) {
    ScriptFile inner("draw_text(2, 2, 'inner')");
    standin::set_draw_hook([&] {
        if (standin::draws().back().text.text == "outer") load(kId, inner.path());
    });
    run(kId, "draw_text(1, 1, 'outer')");
    EXPECT_EQ(calls(), (Calls{"new_cell", "assign \"outer\"", "draw 1, 1, \"outer\"", "new_cell",
                              "assign \"inner\"", "draw 2, 2, \"inner\"", "dispose_cell",
                              "dispose_cell"}));
    EXPECT_TRUE(reports().empty());
}

}  // namespace
