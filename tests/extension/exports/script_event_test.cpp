// script_event through the exports: how a host list is read, how its entries reach
// the Lua function, the verdict, and what happens when any of it goes wrong.
#include <cmath>
#include <algorithm>
#include <limits>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "tests/varnel_fixture.h"

namespace {

using standin::Value;

// Draws the argument count, then each argument as "<type> <value>".
constexpr const char* kEcho = R"(
function ev_echo(...)
  local n = select('#', ...)
  draw_text(n, 0, "#" .. n)
  for i = 1, n do
    local v = select(i, ...)
    draw_text(i, 0, type(v) .. " " .. tostring(v))
  end
end
)";

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

std::vector<Value> numbers(std::initializer_list<double> reals) {
    std::vector<Value> out;
    for (double r : reals) out.push_back(Value::number(r));
    return out;
}

class ScriptEvent : public VarnelTest {
protected:
    void SetUp() override {
        VarnelTest::SetUp();
        open(1);
        ASSERT_EQ(run(1, kEcho), 1.0);
        ASSERT_TRUE(reports().empty()) << joined(reports());
    }

    // The texts drawn so far, in order.
    static std::vector<std::string> seen() {
        std::vector<std::string> out;
        for (const auto& d : standin::draws()) out.push_back(d.text.has_text ? d.text.text : "<null>");
        return out;
    }
    // calls() reduced to the lines starting with one of the prefixes.
    static std::vector<std::string> calls_of(std::initializer_list<const char*> prefixes) {
        std::vector<std::string> out;
        for (const auto& line : standin::calls())
            for (const char* p : prefixes)
                if (line.rfind(p, 0) == 0) out.push_back(untraced(line));
        return out;
    }
    static std::vector<std::string> list_calls() { return calls_of({"list_"}); }
    // calls() up to and including the first list_done.
    static std::vector<std::string> calls_until_done() {
        std::vector<std::string> out;
        for (const auto& line : standin::calls()) {
            out.push_back(line);
            if (line.rfind("list_done", 0) == 0) break;
        }
        return out;
    }
    static size_t count_of(const std::string& line) {
        return static_cast<size_t>(std::count(standin::calls().begin(), standin::calls().end(), line));
    }
    // Forgets the logs, so that the next case is judged alone. Cells are not touched.
    static void clear_logs() {
        standin::calls().clear();
        standin::draws().clear();
        standin::errors().clear();
    }
    // Defines ev_verdict() returning the Lua expression results.
    double verdict_of(const std::string& results) {
        EXPECT_EQ(run(1, "function ev_verdict() return " + results + " end"), 1.0);
        standin::set_list(9, {});
        return script_event(1, "ev_verdict", 9);
    }
};

// ---- The order in which the list is read ------------------------------------------

TEST_F(ScriptEvent, EmptyListIsSizedAndReleasedThenFunctionRunsWithoutArguments) {
    standin::set_list(5, {});
    EXPECT_EQ(script_event(1, "ev_echo", 5), 1.0);
    EXPECT_EQ(calls_of({"list_", "draw"}),
              (std::vector<std::string>{"list_size 5", "list_done 5", "draw 0, 0, \"#0\""}));
    EXPECT_EQ(standin::call_count(R_LIST_GET), 0u);
}

TEST_F(ScriptEvent, NumbersAreReadByPositionAndPassedInOrder) {
    standin::set_list(6, numbers({3, 4.5, -1}));
    EXPECT_EQ(script_event(1, "ev_echo", 6), 1.0);
    EXPECT_EQ(list_calls(), (std::vector<std::string>{"list_size 6", "list_get 6, 0", "list_get 6, 1",
                                                      "list_get 6, 2", "list_done 6"}));
    EXPECT_EQ(seen(), (std::vector<std::string>{"#3", "number 3", "number 4.5", "number -1"}));
    // list_done comes after the last read and before the function's first draw.
    const auto trace = calls_of({"list_", "draw"});
    ASSERT_EQ(trace.size(), 9u);
    EXPECT_EQ(trace[4], "list_done 6");
    EXPECT_EQ(trace[5], "draw 3, 0, \"#3\"");
}

TEST_F(ScriptEvent, FractionalHandleReachesEveryRoutineTruncated) {
    standin::set_list(2, numbers({8}));
    standin::set_list(-2, numbers({9}));
    EXPECT_EQ(script_event(1, "ev_echo", 2.9), 1.0);
    EXPECT_EQ(script_event(1, "ev_echo", -2.9), 1.0);
    EXPECT_EQ(list_calls(), (std::vector<std::string>{"list_size 2", "list_get 2, 0", "list_done 2",
                                                      "list_size -2", "list_get -2, 0", "list_done -2"}));
    EXPECT_EQ(seen(), (std::vector<std::string>{"#1", "number 8", "#1", "number 9"}));
}

// ---- Text entries -------------------------------------------------------------------

TEST_F(ScriptEvent, TextEntriesArriveWithTheirBytes) {
    const std::string high = "\xC3\xA9\x80\xFF\x7F\x01 end";
    const std::string longer = std::string(5000, 'q') + "\xFE tail";
    standin::set_list(4, {Value::text_of("abc"), Value::text_of(high), Value::text_of(longer)});
    EXPECT_EQ(script_event(1, "ev_echo", 4), 1.0);
    EXPECT_EQ(seen(), (std::vector<std::string>{"#3", "string abc", "string " + high,
                                                "string " + longer}));
}

TEST_F(ScriptEvent, EachTextCellIsDisposedBeforeTheNextEntryIsRead) {
    standin::set_list(4, {Value::text_of("ab"), Value::number(2), Value::text_of("cd")});
    EXPECT_EQ(script_event(1, "ev_echo", 4), 1.0);
    EXPECT_EQ(calls_until_done(),
              (std::vector<std::string>{"list_size 4",
                                        "list_get 4, 0", "new_cell", "assign \"ab\"", "finalize", "dispose_cell",
                                        "list_get 4, 1", "finalize",
                                        "list_get 4, 2", "new_cell", "assign \"cd\"", "finalize", "dispose_cell",
                                        "list_done 4"}));
    EXPECT_EQ(seen(), (std::vector<std::string>{"#3", "string ab", "number 2", "string cd"}));
}

TEST_F(ScriptEvent, EmptyTextArrivesAsNilWithoutACell) {
    standin::set_list(4, {Value::empty_text(), Value::text_of("")});
    EXPECT_EQ(script_event(1, "ev_echo", 4), 1.0);
    EXPECT_EQ(seen(), (std::vector<std::string>{"#2", "nil nil", "nil nil"}));
    EXPECT_EQ(calls_until_done(), (std::vector<std::string>{"list_size 4", "list_get 4, 0", "finalize",
                                                            "list_get 4, 1", "finalize", "list_done 4"}));
}

TEST_F(ScriptEvent, MixedListKeepsKindsAndOrder) {
    standin::set_list(4, {Value::number(1), Value::text_of("two"), Value::empty_text(), Value::number(-0.25),
                          Value::text_of("5"), Value::number(0)});
    EXPECT_EQ(script_event(1, "ev_echo", 4), 1.0);
    EXPECT_EQ(seen(), (std::vector<std::string>{"#6", "number 1", "string two", "nil nil", "number -0.25",
                                                "string 5", "number 0"}));
}

// ---- The verdict --------------------------------------------------------------------

TEST_F(ScriptEvent, ResultsThatCountAsZeroGiveOne) {
    for (const char* r : {"0", "nil", "false", "true", "", "'abc'", "'0'", "{}", "-0"})
        EXPECT_EQ(verdict_of(r), 1.0) << "return " << r;
}

TEST_F(ScriptEvent, NonZeroResultsGiveZero) {
    for (const char* r : {"1", "-3", "'7'", "' 12 '", "1e9"}) EXPECT_EQ(verdict_of(r), 0.0) << "return " << r;
}

TEST_F(ScriptEvent, OnlyTheFirstResultDecides) {
    EXPECT_EQ(verdict_of("0, 1"), 1.0);
    EXPECT_EQ(verdict_of("nil, 5"), 1.0);
    EXPECT_EQ(verdict_of("1, 0"), 0.0);
    EXPECT_EQ(verdict_of("2, nil, false"), 0.0);
}

TEST_F(ScriptEvent, FractionalResultCountsAsTheLinkedLibraryConvertsIt) {
    lua_State* T = luaL_newstate();
    ASSERT_NE(T, nullptr);
    const std::pair<const char*, double> cases[] = {
        {"0.4", 0.4}, {"0.6", 0.6}, {"1.7", 1.7}, {"-0.5", -0.5}, {"-0.4", -0.4}, {"2.5", 2.5},
        {"-1.5", -1.5}, {"4294967296", 4294967296.0}, {"2^40", std::ldexp(1.0, 40)}};
    for (const auto& [source, real] : cases) {
        lua_pushnumber(T, real);
        const double expected = lua_tointeger(T, -1) == 0 ? 1.0 : 0.0;
        lua_settop(T, 0);
        EXPECT_EQ(verdict_of(source), expected) << "return " << source;
    }
    lua_close(T);
}

// ---- Failures -----------------------------------------------------------------------

TEST_F(ScriptEvent, LuaErrorIsReportedOnceAfterTheListIsReleased) {
    ASSERT_EQ(run(1, "function ev_fail(a) draw_text(a, 0, 'before') error('ev boom', 0) end"), 1.0);
    standin::set_list(7, numbers({5, 6}));
    EXPECT_EQ(script_event(1, "ev_fail", 7), 1.0);
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0].rfind("ev boom", 0), 0u) << reports()[0];
    EXPECT_EQ(list_calls(),
              (std::vector<std::string>{"list_size 7", "list_get 7, 0", "list_get 7, 1", "list_done 7"}));
    EXPECT_EQ(seen(), (std::vector<std::string>{"before"}));
}

TEST_F(ScriptEvent, GlobalThatCannotBeCalledIsReported) {
    ASSERT_EQ(run(1, "ev_number = 42\nev_table = {}"), 1.0);
    const std::pair<const char*, const char*> cases[] = {
        {"ev_absent", "attempt to call global 'ev_absent' (a nil value)"},
        {"ev_number", "attempt to call global 'ev_number' (a number value)"},
        {"ev_table", "attempt to call global 'ev_table' (a table value)"},
        {"string.len", "attempt to call global 'string.len' (a nil value)"}};
    standin::set_list(7, numbers({1}));
    for (const auto& [name, message] : cases) {
        clear_logs();
        EXPECT_EQ(script_event(1, name, 7), 1.0) << name;
        ASSERT_EQ(reports().size(), 1u) << name;
        EXPECT_EQ(reports()[0].rfind(message, 0), 0u) << reports()[0];
        EXPECT_EQ(count_of("list_done 7"), 1u) << name;
    }
}

TEST_F(ScriptEvent, MissingOrClosedEngineAndNullNameStillReleaseTheList) {
    open(2);
    close(2);
    standin::set_list(8, numbers({1, 2}));
    const auto check = [&](double id, const char* name) {
        clear_logs();
        EXPECT_EQ(script_event(id, name, 8.5), 1.0);
        EXPECT_EQ(reports().size(), 1u) << joined(reports());
        EXPECT_EQ(list_calls(), (std::vector<std::string>{"list_done 8"}));
        EXPECT_TRUE(seen().empty());
    };
    check(77, "ev_echo");
    check(2, "ev_echo");
    check(1, nullptr);
    check(kNaN, "ev_echo");
}

TEST_F(ScriptEvent, ErrorWhileEntriesArePushedStillReleasesTheList) {
    // After a full collection, a proxy whose finalizer raises is left as garbage and
    // each collection step made to finish its cycle. The big texts pushed next
    // start that step, and with it the finalizer, inside lua_pushstring.
    ASSERT_EQ(run(1, R"(
function ev_arm()
  collectgarbage("collect")
  local p = newproxy(true)
  getmetatable(p).__gc = function() error("ev gc boom", 0) end
  collectgarbage("setstepmul", 0)
end)"), 1.0);
    standin::set_list(3, {});
    EXPECT_EQ(script_event(1, "ev_arm", 3), 1.0);
    clear_logs();
    standin::set_list(3, std::vector<Value>(8, Value::text_of(std::string(64 * 1024, 'g'))));
    EXPECT_EQ(script_event(1, "ev_echo", 3), 1.0);
    EXPECT_EQ(messages(), (std::vector<std::string>{"ev gc boom"}));
    const auto lists = list_calls();
    ASSERT_GE(lists.size(), 3u);
    EXPECT_LT(lists.size(), 10u) << "the error came after every entry was read";
    EXPECT_EQ(lists.back(), "list_done 3");
    EXPECT_EQ(count_of("list_done 3"), 1u);
    EXPECT_TRUE(seen().empty()) << "the function ran";
    // The engine goes on working.
    standin::set_list(3, numbers({1}));
    clear_logs();
    EXPECT_EQ(script_event(1, "ev_echo", 3), 1.0);
    EXPECT_EQ(seen(), (std::vector<std::string>{"#1", "number 1"}));
}

TEST_F(ScriptEvent, ListTooLongForLuaIsReportedWithoutCallingTheFunction) {
    const auto check = [&](double size, const std::string& named) {
        clear_logs();
        EXPECT_EQ(script_event(1, "ev_echo", 3), 1.0) << size;
        ASSERT_EQ(reports().size(), 1u) << size;
        EXPECT_NE(reports()[0].find(named), std::string::npos) << reports()[0];
        EXPECT_EQ(list_calls(), (std::vector<std::string>{"list_size 3", "list_done 3"})) << size;
        EXPECT_TRUE(seen().empty());
    };
    standin::set_list(3, {});
    standin::set_list_size(3, 100000);
    check(100000, "100000");
    standin::set_list_size(3, 1e12);
    check(1e12, "");
    standin::set_list_size(3, kInf);
    check(kInf, "");
    standin::remove_list(3);
    standin::set_list(3, std::vector<Value>(10000, Value::number(1)));
    check(10000, "10000");
}

TEST_F(ScriptEvent, HandleWithoutA32BitValueReachesNoListRoutine) {
    standin::set_list(0, {});
    standin::set_list(-1, {});
    for (double h : {kNaN, kInf, -kInf, 3e9, -3e9, 2147483648.0}) {
        clear_logs();
        EXPECT_EQ(script_event(1, "ev_echo", h), 1.0) << h;
        EXPECT_EQ(reports().size(), 1u) << h;
        EXPECT_TRUE(seen().empty()) << h;
    }
    EXPECT_EQ(standin::call_count(R_LIST_SIZE), 0u);
    EXPECT_EQ(standin::call_count(R_LIST_GET), 0u);
    EXPECT_EQ(standin::call_count(R_LIST_DONE), 0u);
}

TEST_F(ScriptEvent, CountOfZeroOrLessReadsNothingAndCallsWithoutArguments) {
    standin::set_list(3, numbers({1, 2}));
    for (double size : {kNaN, -kInf, -5.0, 0.0, 0.9, -0.9, -3e9}) {
        clear_logs();
        standin::set_list_size(3, size);
        EXPECT_EQ(script_event(1, "ev_echo", 3), 1.0) << size;
        EXPECT_EQ(list_calls(), (std::vector<std::string>{"list_size 3", "list_done 3"})) << size;
        EXPECT_EQ(seen(), (std::vector<std::string>{"#0"})) << size;
    }
    EXPECT_TRUE(reports().empty()) << joined(reports());
}

TEST_F(ScriptEvent, RaisingIndexMetamethodOnGlobalsIsReported) {
    ASSERT_EQ(run(1, "setmetatable(_G, {__index = function() error('idx', 0) end})"), 1.0);
    standin::set_list(3, numbers({1}));
    EXPECT_EQ(script_event(1, "ev_not_a_global", 3), 1.0);
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0].rfind("idx", 0), 0u) << reports()[0];
    EXPECT_EQ(count_of("list_done 3"), 1u);
    EXPECT_EQ(standin::call_count(R_LIST_GET), 0u);
    // A global that exists is found without the metamethod.
    clear_logs();
    EXPECT_EQ(script_event(1, "ev_echo", 3), 1.0);
    EXPECT_EQ(seen(), (std::vector<std::string>{"#1", "number 1"}));
}

// ---- Long lists ---------------------------------------------------------------------

TEST_F(ScriptEvent, SeveralThousandEntriesReachTheFunction) {
    ASSERT_EQ(run(1, R"(
function ev_tally(...)
  local n, sum, texts = select('#', ...), 0, 0
  for i, v in ipairs({...}) do
    if type(v) == "number" then sum = sum + v elseif v == "t" .. i then texts = texts + 1 end
  end
  draw_text(n, sum, tostring(texts))
  return n
end)"), 1.0);
    std::vector<Value> entries;
    double sum = 0;
    for (int i = 1; i <= 5000; ++i) {
        if (i % 2) {
            entries.push_back(Value::text_of("t" + std::to_string(i)));
        } else {
            entries.push_back(Value::number(i));
            sum += i;
        }
    }
    standin::set_list(3, entries);
    EXPECT_EQ(script_event(1, "ev_tally", 3), 0.0);
    ASSERT_EQ(standin::draws().size(), 1u);
    EXPECT_EQ(standin::draws()[0].x.real, 5000);
    EXPECT_EQ(standin::draws()[0].y.real, sum);
    EXPECT_EQ(seen()[0], "2500");
    EXPECT_EQ(standin::call_count(R_LIST_GET), 5000u);
    EXPECT_EQ(count_of("list_done 3"), 1u);
}

// ---- Events inside events -----------------------------------------------------------

constexpr const char* kOuter = R"(
function ev_outer(...)
  local r = %s(...)
  draw_text(0, 0, "got " .. tostring(r))
  return 1
end)";

std::string outer_calling(const std::string& global) {
    std::string s = kOuter;
    return s.replace(s.find("%s"), 2, global);
}

TEST_F(ScriptEvent, HostScriptFiresEventOnTheSameEngine) {
    ASSERT_EQ(run(1, outer_calling("ev_fire_same")), 1.0);
    ASSERT_EQ(script_register(1, "ev_fire_same", 3301), 1.0);
    double inner = -1;
    standin::set_script(3301, [&](const HostCallArg*, int count) {
        EXPECT_EQ(count, 3);
        inner = script_event(1, "ev_echo", 21);
        return Value::text_of("back");
    });
    standin::set_list(20, numbers({7, 8}));
    standin::set_list(21, {Value::text_of("x"), Value::text_of("y")});
    EXPECT_EQ(script_event(1, "ev_outer", 20), 0.0);
    EXPECT_EQ(inner, 1.0);
    EXPECT_EQ(seen(), (std::vector<std::string>{"#2", "string x", "string y", "got back"}));
    EXPECT_EQ(list_calls(), (std::vector<std::string>{"list_size 20", "list_get 20, 0", "list_get 20, 1",
                                                      "list_done 20", "list_size 21", "list_get 21, 0",
                                                      "list_get 21, 1", "list_done 21"}));
    EXPECT_TRUE(reports().empty()) << joined(reports());
}

TEST_F(ScriptEvent, NestedEventErrorStaysInsideIt) {
    ASSERT_EQ(run(1, outer_calling("ev_fire_failing") + "\nfunction ev_inner_fail() error('inner', 0) end"),
              1.0);
    ASSERT_EQ(script_register(1, "ev_fire_failing", 3303), 1.0);
    standin::set_script(3303, [&](const HostCallArg*, int) {
        return Value::number(script_event(1, "ev_inner_fail", 21) == 1.0 ? 11 : 12);
    });
    standin::set_list(20, {});
    standin::set_list(21, {Value::text_of("z")});
    EXPECT_EQ(script_event(1, "ev_outer", 20), 0.0);
    EXPECT_EQ(messages(), (std::vector<std::string>{"inner"}));
    EXPECT_EQ(seen(), (std::vector<std::string>{"got 11"}));
    EXPECT_EQ(count_of("list_done 20"), 1u);
    EXPECT_EQ(count_of("list_done 21"), 1u);
}

TEST_F(ScriptEvent, HostScriptFiresEventOnAnotherEngine) {
    open(2);
    ASSERT_EQ(run(2, kEcho), 1.0);
    ASSERT_EQ(run(1, outer_calling("ev_fire_other")), 1.0);
    ASSERT_EQ(script_register(1, "ev_fire_other", 3302), 1.0);
    standin::set_script(3302, [&](const HostCallArg*, int) { return Value::number(script_event(2, "ev_echo", 21)); });
    standin::set_list(20, {Value::text_of("a")});
    standin::set_list(21, numbers({1.5}));
    EXPECT_EQ(script_event(1, "ev_outer", 20), 0.0);
    EXPECT_EQ(seen(), (std::vector<std::string>{"#1", "number 1.5", "got 1"}));
}

TEST_F(ScriptEvent, DrawHookFiresEvent) {
    bool fired = false;
    double inner = -1;
    standin::set_draw_hook([&] {
        if (fired) return;
        fired = true;
        inner = script_event(1, "ev_echo", 21);
    });
    standin::set_list(20, numbers({1}));
    standin::set_list(21, {Value::text_of("x"), Value::text_of("y")});
    EXPECT_EQ(script_event(1, "ev_echo", 20), 1.0);
    EXPECT_EQ(inner, 1.0);
    EXPECT_EQ(seen(), (std::vector<std::string>{"#1", "#2", "string x", "string y", "number 1"}));
}

TEST_F(ScriptEvent, ListDoneHookFiresEventBeforeTheOuterFunctionRuns) {
    bool fired = false;
    double inner = -1;
    standin::set_list_done_hook([&] {
        if (fired) return;
        fired = true;
        inner = script_event(1, "ev_echo", 21);
    });
    standin::set_list(20, {Value::number(3), Value::text_of("four")});
    standin::set_list(21, {Value::text_of("in")});
    EXPECT_EQ(script_event(1, "ev_echo", 20), 1.0);
    EXPECT_EQ(inner, 1.0);
    EXPECT_EQ(seen(), (std::vector<std::string>{"#1", "string in", "#2", "number 3", "string four"}));
}

// load leaves a chunk's results on the engine's stack; done from inside an event,
// they must not become arguments of the event's function.
TEST_F(ScriptEvent, ValuesLeftByANestedLoadDoNotBecomeArguments) {
    bool fired = false;
    standin::set_list_done_hook([&] {
        if (fired) return;
        fired = true;
        EXPECT_EQ(run(1, "return 'stray', 2, 3"), 1.0);
    });
    standin::set_list(20, {Value::number(3), Value::text_of("four")});
    EXPECT_EQ(script_event(1, "ev_echo", 20), 1.0);
    EXPECT_EQ(seen(), (std::vector<std::string>{"#2", "number 3", "string four"}));
    EXPECT_TRUE(reports().empty()) << joined(reports());
}

// ---- A name called again -------------------------------------------------------------
// The engine remembers the last name it was asked for, and finds that global again
// without entering protected mode first. The host must see no difference.

TEST_F(ScriptEvent, ANameCalledAgainReadsTheListTheSameWay) {
    standin::set_list(5, {});
    standin::set_list(6, {Value::number(3), Value::text_of("four")});
    for (int32_t list : {5, 6}) {
        std::vector<std::vector<std::string>> runs;
        for (int i = 0; i < 3; ++i) {
            clear_logs();
            EXPECT_EQ(script_event(1, "ev_echo", list), 1.0);
            runs.push_back(standin::calls());
        }
        EXPECT_EQ(runs[1], runs[0]) << list;
        EXPECT_EQ(runs[2], runs[0]) << list;
    }
    EXPECT_EQ(seen(), (std::vector<std::string>{"#2", "number 3", "string four"}));
    EXPECT_TRUE(reports().empty()) << joined(reports());
}

TEST_F(ScriptEvent, ErrorOfANameCalledAgainIsReportedOnceAfterTheListIsReleased) {
    ASSERT_EQ(run(1, "function ev_again_fail(...) if ev_failing then error(select('#', ...) == 0 and 5 or 'ev again', 0) end end"),
              1.0);
    standin::set_list(5, {});
    standin::set_list(6, numbers({1, 2}));
    EXPECT_EQ(script_event(1, "ev_again_fail", 5), 1.0);  // the name is now known
    ASSERT_EQ(run(1, "ev_failing = true"), 1.0);
    for (int i = 0; i < 2; ++i) {
        clear_logs();
        EXPECT_EQ(script_event(1, "ev_again_fail", 5), 1.0);
        EXPECT_EQ(calls_of({"list_", "error"}), (std::vector<std::string>{"list_size 5", "list_done 5", "error \"5\""}));
        clear_logs();
        EXPECT_EQ(script_event(1, "ev_again_fail", 6), 1.0);
        EXPECT_EQ(calls_of({"list_", "error"}),
                  (std::vector<std::string>{"list_size 6", "list_get 6, 0", "list_get 6, 1", "list_done 6",
                                            "error \"ev again\""}));
    }
}

// The function is the one the global held before the list was read, even when a
// host routine redefines it meanwhile.
TEST_F(ScriptEvent, ANameCalledAgainRunsTheFunctionFoundBeforeTheListIsRead) {
    standin::set_list(5, {});
    standin::set_list(6, numbers({1}));
    for (int32_t list : {5, 6}) {
        ASSERT_EQ(run(1, "function ev_replaced() draw_text(0, 0, 'first') return 0 end"), 1.0);
        EXPECT_EQ(script_event(1, "ev_replaced", list), 1.0);
        bool fired = false;
        standin::set_list_done_hook([&] {
            if (fired) return;
            fired = true;
            EXPECT_EQ(run(1, "function ev_replaced() draw_text(0, 0, 'second') return 1 end"), 1.0);
        });
        standin::draws().clear();
        EXPECT_EQ(script_event(1, "ev_replaced", list), 1.0) << list;
        standin::set_list_done_hook(nullptr);
        EXPECT_EQ(seen(), (std::vector<std::string>{"first"})) << list;
        standin::draws().clear();
        EXPECT_EQ(script_event(1, "ev_replaced", list), 0.0) << list;
        EXPECT_EQ(seen(), (std::vector<std::string>{"second"})) << list;
    }
    EXPECT_TRUE(reports().empty()) << joined(reports());
}

// A known name whose global is no longer a function is looked up as any other:
// through __index when it is nil, through __call when it is a table.
TEST_F(ScriptEvent, ANameCalledAgainThatIsNoLongerAFunction) {
    ASSERT_EQ(run(1, "function ev_shifting() return 0 end"), 1.0);
    standin::set_list(5, {});
    EXPECT_EQ(script_event(1, "ev_shifting", 5), 1.0);
    ASSERT_EQ(run(1, "ev_shifting = setmetatable({}, {__call = function(self, ...) draw_text(select('#', ...), 0, "
                     "'call') return 1 end})"),
              1.0);
    EXPECT_EQ(script_event(1, "ev_shifting", 5), 0.0);
    ASSERT_EQ(run(1, "ev_shifting = nil setmetatable(_G, {__index = function(_, k) return function() "
                     "draw_text(0, 0, 'index ' .. k) return 0 end end})"),
              1.0);
    EXPECT_EQ(script_event(1, "ev_shifting", 5), 1.0);
    EXPECT_EQ(script_event(1, "ev_shifting", 5), 1.0);
    EXPECT_EQ(seen(), (std::vector<std::string>{"call", "index ev_shifting", "index ev_shifting"}));
    ASSERT_EQ(run(1, "setmetatable(_G, nil) ev_shifting = 7"), 1.0);
    EXPECT_EQ(script_event(1, "ev_shifting", 5), 1.0);
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0].rfind("attempt to call global 'ev_shifting' (a number value)", 0), 0u) << reports()[0];
    EXPECT_EQ(count_of("list_done 5"), 5u);
}

// The engine knows only a few short names; any other is looked up each time.
TEST_F(ScriptEvent, ManyNamesAndLongNamesAlternate) {
    const std::vector<std::string> names = {"ev_n1", "ev_n2", "ev_n3", "ev_n4", "ev_n5", "ev_n6",
                                            "ev_name_longer_than_the_engine_keeps_at_all"};
    std::string source;
    for (size_t i = 0; i < names.size(); ++i)
        source += "function " + names[i] + "() draw_text(" + std::to_string(i) + ", 0, '" + names[i] +
                  "') return " + std::to_string(i % 2) + " end\n";
    ASSERT_EQ(run(1, source), 1.0);
    standin::set_list(5, {});
    std::vector<std::string> expected;
    for (int round = 0; round < 3; ++round) {
        for (size_t i = 0; i < names.size(); ++i) {
            EXPECT_EQ(script_event(1, names[i].c_str(), 5), i % 2 ? 0.0 : 1.0) << names[i];
            expected.push_back(names[i]);
        }
    }
    EXPECT_EQ(seen(), expected);
    EXPECT_EQ(count_of("list_size 5"), 3 * names.size());
    EXPECT_EQ(count_of("list_done 5"), 3 * names.size());
    EXPECT_TRUE(reports().empty()) << joined(reports());
}

// A script that overwrites what varnel keeps in the registry (the job runner and
// the remembered name) changes nothing the host sees.
TEST_F(ScriptEvent, RegistryOverwrittenByAScript) {
    ASSERT_EQ(run(1, R"(
function ev_spoil(names_too)
  local r = debug.getregistry()
  for k, v in pairs(r) do
    if type(v) == "function" or (names_too and type(v) == "string") then r[k] = 12345 end
  end
end)"), 1.0);
    standin::set_list(5, {});
    standin::set_list(6, {Value::number(3), Value::text_of("four")});
    for (int i = 0; i < 2; ++i) {
        for (int32_t list : {5, 6, 5}) {
            EXPECT_EQ(script_event(1, "ev_echo", list), 1.0);
            ASSERT_EQ(run(1, i == 0 ? "ev_spoil(false)" : "ev_spoil(true)"), 1.0);
        }
    }
    EXPECT_EQ(seen(), (std::vector<std::string>{"#0", "#2", "number 3", "string four", "#0",
                                                "#0", "#2", "number 3", "string four", "#0"}));
    EXPECT_TRUE(reports().empty()) << joined(reports());
}

// ---- The engine's stack -------------------------------------------------------------

// Results and error values an event leaves behind on the stack stay reachable, so a
// weak table shows whether any survived its event.
TEST_F(ScriptEvent, ManyEventsLeaveNoValueBehind) {
    ASSERT_EQ(run(1, R"(
ev_weak = setmetatable({}, {__mode = "k"})
function ev_give(...) local t = {...} ev_weak[t] = true return t end
function ev_throw() local t = {} ev_weak[t] = true error(t) end
function ev_keep() ev_kept = {} ev_weak[ev_kept] = true return ev_kept end
function ev_weak_count()
  collectgarbage("collect")
  local n = 0
  for _ in pairs(ev_weak) do n = n + 1 end
  draw_text(n, 0, "weak")
end)"), 1.0);
    standin::set_list(3, {Value::number(1), Value::text_of("x")});
    standin::set_list_size(30, 100000);
    standin::set_list(30, {});
    size_t expected_reports = 0;
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(script_event(1, "ev_give", 3), 1.0);
        if (i % 10 == 0) {
            EXPECT_EQ(script_event(1, "ev_throw", 3), 1.0);
            EXPECT_EQ(script_event(1, "ev_absent", 3), 1.0);
            EXPECT_EQ(script_event(1, "ev_give", 30), 1.0);
            expected_reports += 3;
        }
    }
    EXPECT_EQ(script_event(1, "ev_keep", 3), 1.0);
    EXPECT_EQ(reports().size(), expected_reports);
    standin::draws().clear();
    EXPECT_EQ(script_event(1, "ev_weak_count", 3), 1.0);
    ASSERT_EQ(standin::draws().size(), 1u);
    EXPECT_EQ(standin::draws()[0].x.real, 1) << "only ev_kept should be alive";
}

TEST_F(ScriptEvent, AHookCannotBorrowTheJobRunner) {
    // A call hook looks through every level for a C function with a userdata
    // local and calls it with that value, from a coroutine and on the main thread,
    // as a hostile script would to run an export's job itself.
    ASSERT_EQ(run(1, R"(
ev_borrowed = 0
local function borrow()
  for level = 1, 30 do
    local info = debug.getinfo(level, 'fS')
    if not info then break end
    if info.what == 'C' then
      for i = 1, 10 do
        local name, value = debug.getlocal(level, i)
        if not name then break end
        if type(value) == 'userdata' then
          ev_borrowed = ev_borrowed + 1
          coroutine.resume(coroutine.create(function() return info.func(value) end))
          pcall(info.func, value)
        end
      end
    end
  end
end
function ev_victim(n)
  draw_text(0, 0, 'victim ran')
  return n
end
debug.sethook(borrow, 'crl')
)"), 1.0);
    for (double entry : {7.0, 0.0}) {
        SCOPED_TRACE(entry);
        clear_logs();
        standin::set_list(9, numbers({entry}));
        EXPECT_EQ(script_event(1, "ev_victim", 9), entry == 0.0 ? 1.0 : 0.0);
        EXPECT_TRUE(reports().empty()) << joined(reports());
        EXPECT_EQ(seen(), std::vector<std::string>{"victim ran"});
    }
    clear_logs();
    // The hook is still the script's, and still runs.
    ASSERT_EQ(run(1, "draw_text(0, 0, tostring(debug.gethook() ~= nil))"), 1.0);
    EXPECT_EQ(seen(), std::vector<std::string>{"true"});
}

}  // namespace
