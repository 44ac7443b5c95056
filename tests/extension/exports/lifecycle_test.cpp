// Engines from state to destroy, through the exports as the host calls them: one
// engine per id, the reports of a failing load, the ids varnel refuses, and Lua
// code that reaches back into varnel while it runs.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/varnel_fixture.h"

namespace {

using standin::draws;

const double kNaN = std::nan("");

class Lifecycle : public VarnelTest {
protected:
    // tostring(expr) evaluated in engine id, as the host was asked to draw it.
    std::string look(double id, const std::string& expr) {
        const size_t before = draws().size();
        EXPECT_EQ(run(id, "draw_text(0, 0, tostring(" + expr + "))"), 1.0);
        if (draws().size() != before + 1) return "<no draw>";
        return draws().back().text.text;
    }
    // The texts drawn so far.
    static std::vector<std::string> drawn() {
        std::vector<std::string> out;
        for (const auto& d : draws()) out.push_back(d.text.text);
        return out;
    }
    // Expects exactly one new report since `before`, worded "<export>: ..." and
    // naming id_text when that is given.
    void expect_one_report(size_t before, const std::string& export_name, const std::string& id_text) {
        const auto all = reports();
        ASSERT_EQ(all.size(), before + 1) << joined(all);
        const std::string& r = all.back();
        EXPECT_EQ(r.rfind(export_name + ": ", 0), 0u) << r;
        if (!id_text.empty()) {
            EXPECT_NE(r.find(" " + id_text), std::string::npos) << r;
        }
    }
};

TEST_F(Lifecycle, EachIdHasAnEngineOfItsOwn) {
    open(1);
    open(2);
    open(1.0000001);
    EXPECT_EQ(run(1, "life_global = 'one'\nfunction life_fn() return 'called' end"), 1.0);
    EXPECT_EQ(look(1, "life_global"), "one");
    EXPECT_EQ(look(1, "life_fn()"), "called");
    for (double other : {2.0, 1.0000001}) {
        SCOPED_TRACE(other);
        EXPECT_EQ(look(other, "life_global"), "nil");
        EXPECT_EQ(look(other, "life_fn"), "nil");
    }
    EXPECT_TRUE(reports().empty());
}

TEST_F(Lifecycle, ZeroAndMinusZeroAreOneId) {
    open(0);
    run(0, "life_zero = 'kept'");
    EXPECT_EQ(state(-0.0), 1.0);
    EXPECT_EQ(look(-0.0, "life_zero"), "kept");
    EXPECT_TRUE(reports().empty());
}

TEST_F(Lifecycle, EveryCallReturnsExactlyOne) {
    ScriptFile good("return 1, 2");
    ScriptFile bad("error('x')");
    const double results[] = {
        state(8),       state(8),         load(8, good.path()), load(8, bad.path()),
        load(8, "life_missing.lua"),      load(8, nullptr),     destroy(8),
        destroy(8),     load(8, good.path()),                   state(kNaN),
        load(kNaN, good.path()),          destroy(kNaN),
    };
    for (double r : results) EXPECT_EQ(r, 1.0);
}

TEST_F(Lifecycle, ASecondStateKeepsTheFirstEngine) {
    open(5);
    run(5, "life_kept = 'first'");
    EXPECT_EQ(state(5), 1.0);
    EXPECT_EQ(state(5), 1.0);
    EXPECT_EQ(look(5, "life_kept"), "first");
    EXPECT_TRUE(reports().empty());
}

TEST_F(Lifecycle, DestroyForgetsTheIdAndStateMakesItAnew) {
    open(3);
    run(3, "life_old = 'old'; draw_text = nil");
    EXPECT_EQ(close(3), 1.0);
    ScriptFile file("life_old = 'again'");
    EXPECT_EQ(load(3, file.path()), 1.0);
    expect_one_report(0, "load", "3");
    open(3);
    EXPECT_EQ(look(3, "life_old"), "nil") << "a fresh engine, with draw_text of its own";
    EXPECT_EQ(reports().size(), 1u);
}

TEST_F(Lifecycle, UnknownIdsAreReportedOnceByExportAndId) {
    open(31);
    close(31);
    ScriptFile file("draw_text(0, 0, 'ran')");
    const struct {
        const char* export_name;
        std::function<double()> call;
        const char* id_text;  // empty: not checked
    } cases[] = {
        {"load", [&] { return load(30, file.path()); }, "30"},
        {"destroy", [] { return destroy(30); }, "30"},
        {"load", [&] { return load(-7.5, file.path()); }, "-7.5"},
        {"load", [&] { return load(31, file.path()); }, "31"},
        {"destroy", [] { return destroy(31); }, "31"},
        {"load", [&] { return load(kNaN, file.path()); }, ""},
        {"destroy", [] { return destroy(kNaN); }, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.export_name + std::string(" ") + c.id_text);
        const size_t before = reports().size();
        EXPECT_EQ(c.call(), 1.0);
        expect_one_report(before, c.export_name, c.id_text);
    }
    EXPECT_TRUE(draws().empty()) << "no script ran";
}

TEST_F(Lifecycle, ANanIdMakesNoEngine) {
    EXPECT_EQ(state(kNaN), 1.0);
    expect_one_report(0, "state", "");
    ScriptFile file("draw_text(0, 0, 'ran')");
    EXPECT_EQ(load(kNaN, file.path()), 1.0);
    expect_one_report(1, "load", "");
    EXPECT_TRUE(draws().empty());
}

TEST_F(Lifecycle, ANullPathIsReportedOnce) {
    open(40);
    EXPECT_EQ(load(40, nullptr), 1.0);
    expect_one_report(0, "load", "40");
    EXPECT_EQ(look(40, "'still open'"), "still open");
}

// A failing load: one report with Lua's own message, followed by a traceback for
// a run-time error. What the chunk did before its error stays.
TEST_F(Lifecycle, ALoadErrorIsReportedOnceWithLuasMessage) {
    const std::string by_error = "\nstack traceback:\n\t[C]: in function 'error'\n\t%s:2: in main chunk";
    const struct {
        const char* source;
        std::string report;  // %s stands for the file's path
        bool ran;
    } cases[] = {
        {"life_mark = 'ran'\nx = = 1", "%s:2: unexpected symbol near '='", false},
        {"life_mark = 'ran'\nerror('bad thing')", "%s:2: bad thing" + by_error, true},
        {"life_mark = 'ran'\nlocal t\nreturn t.x",
         "%s:3: attempt to index local 't' (a nil value)\nstack traceback:\n\t%s:3: in main chunk", true},
        {"life_mark = 'ran'\nerror('plain', 0)", "plain" + by_error, true},
        {"life_mark = 'ran'\nerror('cut\\0here', 0)", "cut", true},
        {"life_mark = 'ran'\nerror(42)", "%s:2: 42" + by_error, true},  // level 1 makes it a string
        {"life_mark = 'ran'\nerror(42, 0)", "42" + by_error, true},
        {"life_mark = 'ran'\nerror(-4.5, 0)", "-4.5" + by_error, true},
        {"life_mark = 'ran'\nerror()", "(error object is a nil value)" + by_error, true},
        {"life_mark = 'ran'\nerror(nil)", "(error object is a nil value)" + by_error, true},
        {"life_mark = 'ran'\nerror({})", "(error object is a table value)" + by_error, true},
        {"life_mark = 'ran'\nerror(true)", "(error object is a boolean value)" + by_error, true},
        {"life_mark = 'ran'\nerror(setmetatable({}, {__tostring = function() return 't' end}))",
         "t" + by_error, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        standin::errors().clear();
        open(20);
        ScriptFile file(c.source);
        EXPECT_EQ(load(20, file.path()), 1.0);
        std::string want = c.report;
        for (size_t at; (at = want.find("%s")) != std::string::npos;) want.replace(at, 2, file.path());
        EXPECT_EQ(reports(), std::vector<std::string>{want});
        EXPECT_EQ(look(20, "life_mark"), c.ran ? "ran" : "nil");
        EXPECT_EQ(reports().size(), 1u);
        EXPECT_EQ(close(20), 1.0);
    }
}

TEST_F(Lifecycle, AMissingFileIsReportedWithLuasMessage) {
    open(21);
    EXPECT_EQ(load(21, "life_missing.lua"), 1.0);
    EXPECT_EQ(reports(), std::vector<std::string>{"cannot open life_missing.lua: " +
                                                  std::string(std::strerror(ENOENT))});
}

TEST_F(Lifecycle, AHugeErrorMessageArrivesWhole) {
    open(22);
    run(22, "error(string.rep('e', 100000), 0)");
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0].substr(0, 100001), std::string(100000, 'e') + "\n");
    EXPECT_EQ(reports()[0].find("\nstack traceback:\n"), 100000u);
}

// The host reaches back into varnel while engine 6 runs: destroying engine 6 is
// refused, destroying another engine is not.
class DestroyWhileRunning : public Lifecycle {
protected:
    double refused = 0;
    // Runs a chunk in engine 6 whose `trigger` line makes the host call destroy(6).
    void expect_refused(const std::string& trigger) {
        EXPECT_EQ(run(6, "draw_text(0, 0, 'before')\n" + trigger + "\ndraw_text(0, 0, 'after')"), 1.0);
        EXPECT_EQ(refused, 1.0);
        expect_one_report(0, "destroy", "6");
        const auto texts = drawn();
        ASSERT_GE(texts.size(), 2u);
        EXPECT_EQ(texts.front(), "before");
        EXPECT_EQ(texts.back(), "after") << "the script went on";
        EXPECT_EQ(look(6, "'later'"), "later");
        EXPECT_EQ(close(6), 1.0);
        EXPECT_EQ(reports().size(), 1u);
    }
};

TEST_F(DestroyWhileRunning, FromHostDrawText) {
    open(6);
    open(7);
    run(7, "life_seven = 1");
    standin::set_draw_hook([&] {
        const std::string& t = draws().back().text.text;
        if (t == "kill 6") refused = destroy(6);
        if (t == "kill 7") {
            EXPECT_EQ(close(7), 1.0);
        }
    });
    expect_refused("draw_text(0, 0, 'kill 7')\ndraw_text(0, 0, 'kill 6')");
    ScriptFile file("life_seven = 2");
    load(7, file.path());
    expect_one_report(1, "load", "7");
}

TEST_F(DestroyWhileRunning, FromAHostScript) {
    open(6);
    standin::set_script(61, [&](const HostCallArg*, int) {
        refused = destroy(6);
        return standin::Value::number(0);
    });
    EXPECT_EQ(script_register(6, "life_destroy_me", 61), 1.0);
    expect_refused("life_destroy_me()");
}

TEST_F(DestroyWhileRunning, FromAFinalizerWhileTheEngineCloses) {
    open(9);
    run(9, "life_proxy = newproxy(true)\n"
           "getmetatable(life_proxy).__gc = function() draw_text(0, 0, 'closing') end");
    standin::set_draw_hook([&] {
        if (draws().back().text.text != "closing") return;
        EXPECT_EQ(destroy(9), 1.0);
        ScriptFile file("draw_text(0, 0, 'ran')");
        EXPECT_EQ(load(9, file.path()), 1.0);
    });
    EXPECT_EQ(close(9), 1.0);
    EXPECT_EQ(drawn(), std::vector<std::string>{"closing"});
    ASSERT_EQ(reports().size(), 2u);
    expect_one_report(1, "load", "9");
    EXPECT_EQ(reports()[0].rfind("destroy: ", 0), 0u) << reports()[0];
}

// Finalizers that raise run at whatever allocation Lua makes next, also inside
// varnel's own functions and inside lua_close. None of it may end the process.
TEST_F(Lifecycle, FinalizersThatRaiseNeverEndTheProcess) {
    open(10);
    EXPECT_EQ(run(10, "for i = 1, 20 do\n"
                      "  local p = newproxy(true)\n"
                      "  getmetatable(p).__gc = function() error('boom') end\n"
                      "end\n"
                      "life_anchor = newproxy(true)\n"
                      "getmetatable(life_anchor).__gc = function() error('boom at close') end"),
              1.0);
    ScriptFile churn("local t = {}\n"
                     "for i = 1, 5000 do t[i] = tostring(i) .. 'x'; draw_text(i, i, i) end\n"
                     "collectgarbage()\n"
                     "return #t");
    for (int i = 0; i < 5; ++i) EXPECT_EQ(load(10, churn.path()), 1.0);
    ASSERT_FALSE(reports().empty()) << "a finalizer raised";
    for (const std::string& r : reports()) EXPECT_NE(r.find("boom"), std::string::npos) << r;
    EXPECT_EQ(close(10), 1.0);
    for (const std::string& r : reports()) EXPECT_EQ(r.find("boom at close"), std::string::npos) << r;
}

// Closing an engine whose collector is part-way through a cycle, with finalizers
// that ask for collections, allocate, raise, or step the collector and raise: it
// once looped for ever when a sweep was under way. Each engine is left at another
// step of its cycle.
TEST_F(Lifecycle, DestroyReturnsAtEveryCollectorStep) {
    ScriptFile setup(R"(
local kinds = {
  function() collectgarbage() end,
  function() local t = {} for i = 1, 50 do t[i] = {i} end collectgarbage() end,
  function() collectgarbage() error('finalizer raised') end,
  function() collectgarbage('step', 0) error('stepped, then raised') end,
}
life_kept = {}
collectgarbage('collect')
collectgarbage('stop')
for i = 1, 300 do
  local p = newproxy(true)
  getmetatable(p).__gc = kinds[i % #kinds + 1]
  if i % 3 ~= 0 then life_kept[i] = p end
end
for i = 1, 2000 do local garbage = {i, tostring(i)} end
)");
    double slowest = 0;
    for (int steps = 0; steps <= 300; ++steps) {
        SCOPED_TRACE(steps);
        open(23);
        run(23, "");
        load(23, setup.path());
        run(23, "for i = 1, " + std::to_string(steps) + " do collectgarbage('step', 0) end");
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(close(23), 1.0);
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        slowest = std::max(slowest, took);
        ASSERT_LT(took, 1.0) << "destroy took " << took << " s";
    }
    std::printf("slowest destroy: %.3f ms\n", slowest * 1e3);
}

TEST_F(Lifecycle, FinalizersThatMakeFinalizersAndCollectEnd) {
    // Each finalizer makes another object to finalize and asks for a full
    // collection: neither the run nor the close may go on without end.
    open(10);
    EXPECT_EQ(run(10, "local function make()\n"
                      "  local p = newproxy(true)\n"
                      "  getmetatable(p).__gc = function() make() collectgarbage() end\n"
                      "  return p\n"
                      "end\n"
                      "for i = 1, 3 do make() end\n"
                      "collectgarbage()\n"
                      "life_anchor = make()"),
              1.0);
    EXPECT_EQ(close(10), 1.0);
    // Worse: each one also steps the collector and raises, so no collection ever
    // completes before the engine is closed. Closing still returns.
    open(11);
    EXPECT_EQ(run(11, "local function make()\n"
                      "  local p = newproxy(true)\n"
                      "  getmetatable(p).__gc = function() make() collectgarbage('step', 0) error('again') end\n"
                      "  return p\n"
                      "end\n"
                      "for i = 1, 3 do make() end\n"
                      "life_anchor = make()"),
              1.0);
    EXPECT_EQ(close(11), 1.0);
}

}  // namespace
