// What the host's error routine receives for a Lua error: Lua's message, then a
// stack traceback laid out as Lua's own, built in C so that no script can change
// it; and the texts of error values that are not strings.
#include <string>
#include <vector>

#include "tests/varnel_fixture.h"

namespace {

using standin::Value;

class ErrorTrace : public VarnelTest {
protected:
    static constexpr double kId = 50;
    void SetUp() override {
        VarnelTest::SetUp();
        open(kId);
    }
    // Loads source from a file of its own and returns the one report it made, with
    // every %s in it standing for the file's path.
    std::string load_report(const std::string& source, std::string* path = nullptr) {
        standin::errors().clear();
        ScriptFile file(source);
        EXPECT_EQ(load(kId, file.path()), 1.0);
        if (path) *path = file.path();
        const std::vector<std::string> r = reports();
        EXPECT_EQ(r.size(), 1u) << joined(r);
        return r.empty() ? "" : generic(r[0], file.path());
    }
    // text with every occurrence of path written %s.
    static std::string generic(std::string text, const std::string& path) {
        for (size_t at; (at = text.find(path)) != std::string::npos;) text.replace(at, path.size(), "%s");
        return text;
    }
};

constexpr const char* kThreeDeep =
    "local function c() error('deep') end\n"
    "local function b() c() end\n"
    "function a() b() end\n";

const std::string kThreeDeepTrace =
    "%s:1: deep\nstack traceback:\n"
    "\t[C]: in function 'error'\n"
    "\t%s:1: in function 'c'\n"
    "\t%s:2: in function 'b'\n"
    "\t%s:3: in function 'a'\n";

TEST_F(ErrorTrace, ThreeFunctionsDeepInALoadedChunk) {
    EXPECT_EQ(load_report(std::string(kThreeDeep) + "a()\n"), kThreeDeepTrace + "\t%s:4: in main chunk");
}

TEST_F(ErrorTrace, DebugRemovedOrReplacedChangesNothing) {
    const char* prologues[] = {
        "debug = nil; ",
        "debug.sethook(function() end, 'crl'); ",
        "debug.traceback = function() return 'not this' end; ",
        "debug.getinfo = nil; debug.traceback = nil; ",
    };
    for (const char* prologue : prologues) {
        SCOPED_TRACE(prologue);
        close(kId);
        open(kId);
        EXPECT_EQ(load_report(prologue + std::string(kThreeDeep) + "a()\n"), kThreeDeepTrace + "\t%s:4: in main chunk");
    }
}

TEST_F(ErrorTrace, InAnEventFunction) {
    std::string path;
    ASSERT_TRUE(load_report(std::string(kThreeDeep) + "function on_hit(n) a() end\nerror('loaded', 0)", &path).size());
    standin::errors().clear();
    standin::set_list(5, {Value::number(1)});
    EXPECT_EQ(script_event(kId, "on_hit", 5), 1.0);
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(generic(reports()[0], path), kThreeDeepTrace + "\t%s:4: in function <%s:4>");
    // Called again by name, the event takes another way in: the same report.
    EXPECT_EQ(script_event(kId, "on_hit", 5), 1.0);
    ASSERT_EQ(reports().size(), 2u);
    EXPECT_EQ(reports()[1], reports()[0]);
    standin::set_list(6, {});
    EXPECT_EQ(script_event(kId, "on_hit", 6), 1.0);
    ASSERT_EQ(reports().size(), 3u);
    EXPECT_EQ(reports()[2], reports()[0]);
}

TEST_F(ErrorTrace, InAForwardersLuaCaller) {
    standin::set_script(7701, [](const HostCallArg*, int) { return Value::number(3); });
    ASSERT_EQ(script_register(kId, "trace_host", 7701), 1.0);
    EXPECT_EQ(load_report("local function caller()\n"
                          "  local n = trace_host('x')\n"
                          "  return n .. nil\n"
                          "end\n"
                          "caller()\n"),
              "%s:3: attempt to concatenate a nil value\nstack traceback:\n"
              "\t%s:3: in function 'caller'\n"
              "\t%s:5: in main chunk");
}

TEST_F(ErrorTrace, ANestedExportShowsOnlyItsOwnLevels) {
    // The host script, run from the chunk's Lua code, loads a failing file into the
    // same engine: its report stops at its own export.
    ScriptFile inner("local function f() error('inner') end\nf()\n");
    standin::set_script(7702, [&](const HostCallArg*, int) {
        load(kId, inner.path());
        return Value::number(0);
    });
    ASSERT_EQ(script_register(kId, "trace_nested", 7702), 1.0);
    standin::errors().clear();
    run(kId, "local function outer() trace_nested() end\nouter()\n");
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(generic(reports()[0], inner.path()),
              "%s:1: inner\nstack traceback:\n"
              "\t[C]: in function 'error'\n"
              "\t%s:1: in function 'f'\n"
              "\t%s:2: in main chunk");
}

TEST_F(ErrorTrace, InsideACoroutine) {
    EXPECT_EQ(load_report("local f = coroutine.wrap(function()\n"
                          "  error('in co')\n"
                          "end)\n"
                          "f()\n"),
              "%s:4: %s:2: in co\nstack traceback:\n"
              "\t[C]: in function 'f'\n"
              "\t%s:4: in main chunk");
    EXPECT_EQ(load_report("local co = coroutine.create(function() local x = nil; return x.y end)\n"
                          "local ok, message = coroutine.resume(co)\n"
                          "error(message, 0)\n"),
              "%s:1: attempt to index local 'x' (a nil value)\nstack traceback:\n"
              "\t[C]: in function 'error'\n"
              "\t%s:3: in main chunk");
}

TEST_F(ErrorTrace, ASyntaxErrorHasNoTraceback) {
    EXPECT_EQ(load_report("local x = = 1\n"), "%s:1: unexpected symbol near '='");
    standin::errors().clear();
    load(kId, "trace_missing.lua");
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0].find("stack traceback"), std::string::npos) << reports()[0];
}

TEST_F(ErrorTrace, AnErrorWithNoLuaLevelHasNoTraceback) {
    standin::set_list(8, {});
    EXPECT_EQ(script_event(kId, "trace_no_such_function", 8), 1.0);
    EXPECT_EQ(reports(), (std::vector<std::string>{"attempt to call global 'trace_no_such_function' (a nil value)"}));
}

TEST_F(ErrorTrace, ErrorValuesThatAreNotStrings) {
    const std::string by_error = "\nstack traceback:\n\t[C]: in function 'error'\n\t%s:1: in main chunk";
    const struct {
        const char* source;
        std::string message;
    } cases[] = {
        {"error({})", "(error object is a table value)"},
        {"error(nil)", "(error object is a nil value)"},
        {"error()", "(error object is a nil value)"},
        {"error(true)", "(error object is a boolean value)"},
        {"error(print)", "(error object is a function value)"},
        {"error(coroutine.create(function() end))", "(error object is a thread value)"},
        {"error(newproxy())", "(error object is a userdata value)"},
        {"error(7.25, 0)", "7.25"},
        {"error(setmetatable({}, {__tostring = function() return 'a table' end}))", "a table"},
        {"error(setmetatable({}, {__tostring = function() error('not me') end}))", "(error object is a table value)"},
        {"error(setmetatable({}, {__tostring = function() return 5 end}))", "(error object is a table value)"},
        {"error(setmetatable({}, {__tostring = function() end}))", "(error object is a table value)"},
        {"error(setmetatable({}, {__tostring = 'no function'}))", "(error object is a table value)"},
        {"local p = newproxy(true); getmetatable(p).__tostring = function() return 'a proxy' end; error(p)",
         "a proxy"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        EXPECT_EQ(load_report(c.source), c.message + by_error);
    }
}

TEST_F(ErrorTrace, AStackOverflowIsCutInTheMiddle) {
    std::string want = "%s:1: stack overflow\nstack traceback:\n";
    for (int i = 0; i < 10; ++i) want += "\t%s:1: in function 'f'\n";
    want += "\t...\n";
    for (int i = 0; i < 9; ++i) want += "\t%s:1: in function 'f'\n";
    want += "\t%s:2: in main chunk";
    // LuaJIT's interpreter raises its stack overflow with no position, and has no
    // room left to run the message handler in; with its compiler, the recursion
    // runs compiled and the overflow is reported as on Lua 5.1.5.
    const std::string got = load_report("local function f() return 1 + f() end\nf()\n");
    if (!(engine_is_luajit() && got == "stack overflow")) {
        EXPECT_EQ(got, want);
    }
    // The engine is fine afterwards.
    standin::errors().clear();
    run(kId, "draw_text(0, 0, 'after')");
    EXPECT_TRUE(reports().empty()) << joined(reports());
}

TEST_F(ErrorTrace, ALongStackOfAFewLevelsMoreIsNotCut) {
    // 21 levels are shown whole; Lua cuts from 22 on.
    std::string want = "%s:1: bottom\nstack traceback:\n\t[C]: in function 'error'\n";
    for (int i = 0; i < 19; ++i) want += "\t%s:1: in function 'f'\n";
    want += "\t%s:2: in main chunk";
    EXPECT_EQ(load_report("local function f(n) if n == 0 then error('bottom') end return 1 + f(n - 1) end\n"
                          "f(18)\n"),
              want);
}

}  // namespace
