// run, call_real, call_text, the global_* exports and last_error, through the
// stand-in under each of the host's floating-point environments: conversions one
// by one, dotted paths, the text result's life, and errors reported once and
// kept for last_error.
#include <string>
#include <vector>

#include "standin/fp_env.h"
#include "tests/varnel_fixture.h"

namespace {

using standin::FpEnv;
using standin::Value;

class Calls : public VarnelTest, public ::testing::WithParamInterface<FpEnv> {
protected:
    void SetUp() override {
        VarnelTest::SetUp();
        standin::set_fp_env(GetParam());
        open(1);
        standin::set_list(7, {});
    }
    // Runs code in engine 1, which must report nothing.
    void code(const std::string& source) {
        const size_t before = standin::errors().size();
        EXPECT_EQ(::run(1, source.c_str()), 1.0);
        EXPECT_EQ(standin::errors().size(), before) << joined(reports());
    }
    size_t reported() const { return standin::errors().size(); }
    size_t list_done_calls() const { return standin::call_count(R_LIST_DONE); }
};

TEST_P(Calls, RunCompilesAndRunsAChunkDroppingItsResults) {
    code("cx = 1 + 2 return 'dropped'");
    EXPECT_EQ(global_real(1, "cx"), 3.0);
    EXPECT_EQ(::run(1, "error('boom')"), 1.0);
    ASSERT_EQ(reported(), 1u);
    EXPECT_EQ(messages()[0], "[string \"error('boom')\"]:1: boom");
    EXPECT_NE(reports()[0].find("stack traceback:"), std::string::npos);
    EXPECT_EQ(::run(1, "x = = 1"), 1.0);
    EXPECT_EQ(messages()[1], "[string \"x = = 1\"]:1: unexpected symbol near '='");
    EXPECT_EQ(::run(1, "local a = 1\nerror('second line')"), 1.0);
    EXPECT_EQ(messages()[2], "[string \"local a = 1...\"]:2: second line");
    EXPECT_EQ(::run(1, nullptr), 1.0);
    EXPECT_EQ(reports()[3], "run: null code for engine 1");
    EXPECT_EQ(::run(9, "x = 1"), 1.0);
    EXPECT_EQ(reports()[4], "run: no engine with id 9");
}

TEST_P(Calls, CallRealConvertsTheFirstResult) {
    code(R"(
function r_sum(a, b) return a + b end
function r_of(kind)
  local values = {num = 3.5, yes = true, no = false, digits = '42', hex = ' 0x10 ', word = 'abc',
                  tbl = {}, fn = print, neg = -0.25}
  return values[kind], 'second'
end
function r_none() end
function r_nil() return nil end
function r_fail() error('r failed') end)");
    standin::set_list(8, {Value::number(1.5), Value::number(2)});
    EXPECT_EQ(call_real(1, "r_sum", 8), 3.5);
    const std::pair<const char*, double> cases[] = {{"num", 3.5}, {"yes", 1},    {"no", 0},  {"digits", 42},
                                                    {"hex", 16},  {"word", 0},   {"tbl", 0}, {"fn", 0},
                                                    {"neg", -0.25}, {"absent", 0}};
    for (const auto& [kind, expected] : cases) {
        standin::set_list(9, {Value::text_of(kind)});
        EXPECT_EQ(call_real(1, "r_of", 9), expected) << kind;
    }
    EXPECT_EQ(call_real(1, "r_none", 7), 0.0);
    EXPECT_EQ(call_real(1, "r_nil", 7), 0.0);
    EXPECT_EQ(reported(), 0u) << joined(reports());
    EXPECT_EQ(call_real(1, "r_fail", 7), 0.0);
    ASSERT_EQ(reported(), 1u);
    EXPECT_NE(reports()[0].find("r failed"), std::string::npos);
    EXPECT_EQ(std::string(last_error(1)), reports()[0]);
}

TEST_P(Calls, CallTextConvertsTheFirstResult) {
    code(R"(
function t_of(kind)
  local values = {str = 'hello', nul = 'a\0b', num = 3.5, big = 1e15, int = 7, yes = true, no = false,
                  tbl = {}, empty = ''}
  return values[kind]
end
function t_join(a, b) return tostring(a) .. '+' .. tostring(b) end
function t_fail() error('t failed') end)");
    const std::pair<const char*, const char*> cases[] = {
        {"str", "hello"}, {"nul", "a"},   {"num", "3.5"}, {"big", "1e+15"}, {"int", "7"},
        {"yes", "true"},  {"no", "false"}, {"tbl", ""},   {"empty", ""},    {"absent", ""}};
    for (const auto& [kind, expected] : cases) {
        standin::set_list(9, {Value::text_of(kind)});
        EXPECT_STREQ(call_text(1, "t_of", 9), expected) << kind;
    }
    standin::set_list(8, {Value::number(2), Value::empty_text()});
    EXPECT_STREQ(call_text(1, "t_join", 8), "2+nil");
    EXPECT_EQ(reported(), 0u) << joined(reports());
    EXPECT_STREQ(call_text(1, "t_fail", 7), "");
    ASSERT_EQ(reported(), 1u);
    EXPECT_EQ(std::string(last_error(1)), reports()[0]);
}

TEST_P(Calls, TheTextResultStaysUntilTheNextExport) {
    code("function t_word(w) return w end  tw = 'global text'");
    standin::set_list(9, {Value::text_of("first")});
    const char* first = call_text(1, "t_word", 9);
    EXPECT_EQ(script_event(1, "t_word", 9), 1.0);
    EXPECT_EQ(call_real(1, "t_word", 9), 0.0);
    EXPECT_STREQ(first, "first");  // no other export returned a text meanwhile
    const std::string copied = first;
    EXPECT_STREQ(global_text(1, "tw"), "global text");
    EXPECT_EQ(copied, "first");
    // A long text after a short one, and the short one again.
    std::string long_text(100000, 'z');
    standin::set_list(10, {Value::text_of(long_text)});
    EXPECT_EQ(std::string(call_text(1, "t_word", 10)), long_text);
    EXPECT_STREQ(call_text(1, "t_word", 9), "first");
}

TEST_P(Calls, AGlobalThatIsNotAFunctionIsReportedByName) {
    code("c_number = 4");
    EXPECT_EQ(call_real(1, "on_step", 7), 0.0);
    EXPECT_STREQ(call_text(1, "c_number", 7), "");
    EXPECT_EQ(script_event(1, "on_step", 7), 1.0);
    EXPECT_EQ(messages(), (std::vector<std::string>{"attempt to call global 'on_step' (a nil value)",
                                                    "attempt to call global 'c_number' (a number value)",
                                                    "attempt to call global 'on_step' (a nil value)"}));
    EXPECT_EQ(list_done_calls(), 3u);
    EXPECT_STREQ(last_error(1), "attempt to call global 'on_step' (a nil value)");
    EXPECT_STREQ(last_error(1), "");
    // A table with __call is called as Lua calls it.
    code("c_callable = setmetatable({}, {__call = function(self, a) return a * 2 end})");
    standin::set_list(8, {Value::number(21)});
    EXPECT_EQ(call_real(1, "c_callable", 8), 42.0);
}

TEST_P(Calls, CallsReadTheListAsScriptEventDoes) {
    code("function l_count(...) return select('#', ...) end");
    standin::set_list(8, {Value::number(1), Value::text_of("x"), Value::empty_text()});
    EXPECT_EQ(call_real(1, "l_count", 8), 3.0);
    EXPECT_STREQ(call_text(1, "l_count", 8), "3");
    EXPECT_EQ(list_done_calls(), 2u);
    standin::set_list_size(30, 100000);
    standin::set_list(30, {});
    EXPECT_EQ(call_real(1, "l_count", 30), 0.0);
    ASSERT_EQ(reported(), 1u);
    EXPECT_EQ(reports()[0], "call_real: list of 100000 entries is too long");
    EXPECT_STREQ(last_error(1), "call_real: list of 100000 entries is too long");
    EXPECT_STREQ(call_text(1, "l_count", 1e10), "");
    EXPECT_EQ(reports()[1], "call_text: list handle 10000000000 has no 32-bit value");
    EXPECT_EQ(list_done_calls(), 3u);
    EXPECT_EQ(call_real(1, nullptr, 8), 0.0);
    EXPECT_EQ(reports()[2], "call_real: null name for engine 1");
    EXPECT_EQ(call_real(5, "l_count", 8), 0.0);
    EXPECT_EQ(reports()[3], "call_real: no engine with id 5");
    EXPECT_EQ(list_done_calls(), 5u);
}

TEST_P(Calls, GlobalsAreReadByDottedPath) {
    code(R"(
difficulty = 2
config = {volume = 0.5, name = 'hero', flags = {on = true}}
enemies = {{hp = 1}, {hp = 7}}
keys = {[2] = 'number two', ['2'] = 'text two', [''] = 'empty key'}
proxy = setmetatable({}, {__index = function(_, k) return 'via ' .. k end})
raising = setmetatable({}, {__index = function(_, k) error('no field ' .. k) end}))");
    EXPECT_EQ(global_real(1, "difficulty"), 2.0);
    EXPECT_EQ(global_real(1, "config.volume"), 0.5);
    EXPECT_EQ(global_real(1, "enemies.2.hp"), 7.0);
    EXPECT_EQ(global_real(1, "config.flags.on"), 1.0);
    EXPECT_STREQ(global_text(1, "config.name"), "hero");
    EXPECT_STREQ(global_text(1, "difficulty"), "2");
    EXPECT_STREQ(global_text(1, "keys.2"), "number two");
    EXPECT_STREQ(global_text(1, "keys.x"), "");
    EXPECT_STREQ(global_text(1, "proxy.door"), "via door");
    EXPECT_STREQ(global_text(1, "config.name.len"), "");  // a function: no text
    // Missing, or on the way through what cannot be indexed: nothing, no report.
    for (const char* path : {"absent", "absent.deeper", "difficulty.x", "config.volume.x", "enemies.3.hp",
                             "", ".", "..", "config.", ".config"}) {
        EXPECT_EQ(global_real(1, path), 0.0) << path;
        EXPECT_STREQ(global_text(1, path), "") << path;
    }
    EXPECT_EQ(reported(), 0u) << joined(reports());
    EXPECT_EQ(global_real(1, "raising.door"), 0.0);
    ASSERT_EQ(reported(), 1u);
    EXPECT_NE(reports()[0].find("no field door"), std::string::npos) << reports()[0];
    EXPECT_EQ(std::string(last_error(1)), reports()[0]);
    EXPECT_EQ(global_real(1, nullptr), 0.0);
    EXPECT_EQ(reports()[1], "global_real: null path for engine 1");
}

TEST_P(Calls, GlobalsAreSetByDottedPath) {
    code(R"(
config = {volume = 0.5}
enemies = {{hp = 1}}
settings_log = {}
settings = setmetatable({}, {__newindex = function(t, k, v) settings_log[#settings_log + 1] = k .. '=' .. v end})
locked = setmetatable({}, {__newindex = function() error('locked') end}))");
    EXPECT_EQ(global_set_real(1, "config.volume", 0.8), 1.0);
    EXPECT_EQ(global_real(1, "config.volume"), 0.8);
    EXPECT_EQ(global_set_text(1, "player_name", "Ann"), 1.0);
    EXPECT_STREQ(global_text(1, "player_name"), "Ann");
    EXPECT_EQ(global_set_real(1, "enemies.1.hp", 9), 1.0);
    EXPECT_EQ(global_set_text(1, "enemies.2", "second"), 1.0);
    EXPECT_EQ(global_set_text(1, "config.title", ""), 1.0);
    EXPECT_EQ(global_set_text(1, "config.subtitle", nullptr), 1.0);
    EXPECT_EQ(global_set_real(1, "settings.speed", 3), 1.0);
    code("assert(enemies[1].hp == 9 and enemies[2] == 'second')\n"
         "assert(config.title == '' and config.subtitle == '')\n"
         "assert(settings_log[1] == 'speed=3' and rawget(settings, 'speed') == nil)");
    EXPECT_EQ(reported(), 0u) << joined(reports());
    // A part before the last that is no table: one report naming it, nothing set.
    EXPECT_EQ(global_set_real(1, "nothing.volume", 1), 1.0);
    EXPECT_EQ(global_set_real(1, "config.volume.x", 1), 1.0);
    EXPECT_EQ(global_set_text(1, "enemies.5.hp", "x"), 1.0);
    EXPECT_EQ(reports(), (std::vector<std::string>{
                             "global_set_real: 'nothing' is not a table (a nil value) in path 'nothing.volume'",
                             "global_set_real: 'config.volume' is not a table (a number value) in path "
                             "'config.volume.x'",
                             "global_set_text: 'enemies.5' is not a table (a nil value) in path 'enemies.5.hp'"}));
    EXPECT_STREQ(last_error(1), reports()[2].c_str());
    code("assert(nothing == nil and config.volume == 0.8 and #enemies == 2)");
    EXPECT_EQ(global_set_real(1, "locked.key", 1), 1.0);
    ASSERT_EQ(reported(), 4u);
    EXPECT_NE(reports()[3].find("locked"), std::string::npos);
}

TEST_P(Calls, LastErrorIsKeptPerEngineAndForgottenOnRead) {
    open(2);
    EXPECT_STREQ(last_error(1), "");
    EXPECT_EQ(::run(1, "error('one', 0)"), 1.0);
    EXPECT_EQ(::run(2, "error('two', 0)"), 1.0);
    EXPECT_EQ(::run(2, "error('three', 0)"), 1.0);
    EXPECT_EQ(load(1, "no_such_file.lua"), 1.0);
    ASSERT_EQ(reported(), 4u);
    EXPECT_EQ(std::string(last_error(2)), reports()[2]);
    EXPECT_STREQ(last_error(2), "");
    EXPECT_EQ(std::string(last_error(1)), reports()[3]);
    EXPECT_STREQ(last_error(1), "");
    EXPECT_STREQ(last_error(77), "");  // no engine: nothing, and no report
    EXPECT_STREQ(last_error(0.0 / 0.0), "");
    EXPECT_EQ(time_limit(1, -1), 1.0);
    EXPECT_STREQ(last_error(1), "time_limit: seconds is negative (-1) for engine 1");
    EXPECT_EQ(reported(), 5u);
}

TEST_P(Calls, TheErrorRoutineMayAskForTheLastError) {
    std::vector<std::string> asked;
    standin::set_error_hook([&asked] { asked.push_back(untraced(last_error(1))); });
    EXPECT_EQ(::run(1, "error('asked', 0)"), 1.0);
    EXPECT_EQ(asked, (std::vector<std::string>{"asked"}));
    EXPECT_STREQ(last_error(1), "");
}

TEST_P(Calls, ACodeStringThatNeverEndsStopsAtTheTimeLimit) {
    EXPECT_EQ(time_limit(1, 0.05), 1.0);
    EXPECT_EQ(::run(1, "while true do end"), 1.0);
    EXPECT_EQ(global_real(1, "absent"), 0.0);
    code("spin = setmetatable({}, {__index = function() while true do end end})");
    EXPECT_EQ(global_real(1, "spin.x"), 0.0);
    ASSERT_EQ(reported(), 2u);
    EXPECT_EQ(time_limit(1, 0), 1.0);
}

TEST_P(Calls, ThousandsOfCallsLeaveNothingBehind) {
    code(R"(
function k_echo(...) return ... end
function k_fail() error({}) end
k_tab = {a = {b = {c = 'deep'}}})");
    standin::set_list(8, {Value::text_of("txt"), Value::number(3)});
    for (int i = 0; i < 3000; ++i) {
        EXPECT_STREQ(call_text(1, "k_echo", 8), "txt");
        EXPECT_EQ(call_real(1, "k_echo", 8), 0.0);
        EXPECT_STREQ(global_text(1, "k_tab.a.b.c"), "deep");
        EXPECT_EQ(global_set_real(1, "k_tab.a.n", i), 1.0);
        if (i % 100 == 0) {
            EXPECT_EQ(call_real(1, "k_fail", 8), 0.0);
            EXPECT_EQ(::run(1, "error('x')"), 1.0);
        }
    }
    EXPECT_EQ(reported(), 60u);
    EXPECT_EQ(global_real(1, "k_tab.a.n"), 2999.0);
}

INSTANTIATE_TEST_SUITE_P(HostWords, Calls, ::testing::Values(FpEnv::kDefault, FpEnv::kPascal, FpEnv::kDirect3D),
                         [](const ::testing::TestParamInfo<FpEnv>& info) {
                             return std::string(standin::fp_env_name(info.param));
                         });

}  // namespace
