// Faults the randomized driver (fuzz/) found, each kept as the smallest call
// sequence that showed it.
#include <functional>
#include <string>
#include <vector>

#include "tests/varnel_fixture.h"

namespace {

using Reports = std::vector<std::string>;

class Regression : public VarnelTest {
protected:
    // The engine of id still runs scripts, and reports nothing doing so.
    void expect_engine_alive(double id) {
        const size_t before = standin::errors().size();
        run(id, "draw_text(1, 2, 'alive')");
        EXPECT_EQ(standin::errors().size(), before) << joined(reports());
        ASSERT_FALSE(standin::draws().empty());
        EXPECT_EQ(standin::draws().back().text.text, "alive");
    }
};

// The host closes an engine from inside a routine that an export of that same
// engine calls after its Lua work is over: the error routine, or host_list_done
// on the way out of a failed event. The export still works on the engine when the
// routine returns (it used to remove the error value from the closed engine's
// stack), so the close is refused as for any running engine, and the engine stays
// usable.
class CloseFromHostRoutine : public Regression {
protected:
    static constexpr double kId = 700;
    void SetUp() override {
        Regression::SetUp();
        open(kId);
    }
    // Calls destroy(kId) once, from the next call of the routine a test hooks.
    std::function<void()> close_once() {
        return [this] {
            if (tried_) return;
            tried_ = true;
            verdict_ = destroy(kId);
        };
    }
    bool tried_ = false;
    double verdict_ = 0.0;
};

TEST_F(CloseFromHostRoutine, ErrorRoutineDuringLoadsReport) {
    standin::set_error_hook(close_once());
    run(kId, "error('boom')");
    standin::set_error_hook(nullptr);
    EXPECT_TRUE(tried_);
    EXPECT_EQ(verdict_, 1.0);
    const Reports r = reports();
    ASSERT_EQ(r.size(), 2u) << joined(r);
    EXPECT_NE(r[0].find("boom"), std::string::npos) << r[0];
    EXPECT_EQ(r[1], "destroy: engine 700 is running Lua code");
    expect_engine_alive(kId);
}

TEST_F(CloseFromHostRoutine, ErrorRoutineDuringRegistersReport) {
    run(kId, "setmetatable(_G, {__newindex = function() error('no new globals') end})");
    standin::set_error_hook(close_once());
    EXPECT_EQ(script_register(kId, "regression_close_register", 1), 1.0);
    standin::set_error_hook(nullptr);
    EXPECT_TRUE(tried_);
    const Reports r = reports();
    ASSERT_EQ(r.size(), 2u) << joined(r);
    EXPECT_NE(r[0].find("no new globals"), std::string::npos) << r[0];
    EXPECT_EQ(r[1], "destroy: engine 700 is running Lua code");
    run(kId, "setmetatable(_G, nil)");
    expect_engine_alive(kId);
}

TEST_F(CloseFromHostRoutine, ErrorRoutineDuringEventsReport) {
    run(kId, "function fails() error('event failed') end");
    standin::set_list(3, {standin::Value::number(1)});
    standin::set_error_hook(close_once());
    EXPECT_EQ(script_event(kId, "fails", 3), 1.0);
    standin::set_error_hook(nullptr);
    EXPECT_TRUE(tried_);
    const Reports r = reports();
    ASSERT_EQ(r.size(), 2u) << joined(r);
    EXPECT_NE(r[0].find("event failed"), std::string::npos) << r[0];
    EXPECT_EQ(r[1], "destroy: engine 700 is running Lua code");
    expect_engine_alive(kId);
}

TEST_F(CloseFromHostRoutine, ListDoneAfterTheFunctionLookupRaised) {
    // The global lookup raises before the list is read, so the list is let go
    // after the protected call, with the error value still on the stack.
    run(kId, "setmetatable(_G, {__index = function(t, k) error('no global ' .. k) end})");
    standin::set_list(4, {});
    standin::set_list_done_hook(close_once());
    EXPECT_EQ(script_event(kId, "missing", 4), 1.0);
    standin::set_list_done_hook(nullptr);
    EXPECT_TRUE(tried_);
    const Reports r = reports();
    ASSERT_EQ(r.size(), 2u) << joined(r);
    EXPECT_EQ(r[0], "destroy: engine 700 is running Lua code");
    EXPECT_NE(r[1].find("no global missing"), std::string::npos) << r[1];
    run(kId, "setmetatable(_G, nil)");
    expect_engine_alive(kId);
}

TEST_F(CloseFromHostRoutine, ErrorRoutineAfterAListTooLong) {
    run(kId, "function takes_all(...) return 0 end");
    standin::set_list(5, {});
    standin::set_list_size(5, 1e9);
    standin::set_error_hook(close_once());
    EXPECT_EQ(script_event(kId, "takes_all", 5), 1.0);
    standin::set_error_hook(nullptr);
    EXPECT_TRUE(tried_);
    const Reports r = reports();
    ASSERT_EQ(r.size(), 2u) << joined(r);
    EXPECT_EQ(r[1], "destroy: engine 700 is running Lua code");
    expect_engine_alive(kId);
}

// An export called from a host routine while the engine's stack is as full as
// the calling export may make it: entering protected mode needs two free slots,
// and a failed call turns a number error value into text with two more. A long
// list once left no slot free while host_list_done ran, and an error value being
// reported took one of the two that every export leaves free.
class NestedExportRoom : public Regression {
protected:
    static constexpr double kId = 710;
    void SetUp() override {
        Regression::SetUp();
        open(kId);
        run(kId, "function count(...) return select('#', ...) end");
        std::vector<standin::Value> entries;
        for (int i = 0; i < 30; ++i) entries.push_back(standin::Value::number(i));
        standin::set_list(6, entries);
    }
    // Runs a chunk that returns 40 values, past the slots a new engine has. They
    // once stayed on the engine's stack; now they are dropped, and the cases below
    // check that nothing else took their place.
    void keep_many_results() { run(kId, "local t = {} for i = 1, 40 do t[i] = i end return unpack(t)"); }
};

TEST_F(NestedExportRoom, LoadFromListDoneAfterALongList) {
    ScriptFile nested("draw_text(0, 0, 'nested')");
    bool done = false;
    standin::set_list_done_hook([&] {
        if (done) return;
        done = true;
        load(kId, nested.path());
    });
    EXPECT_EQ(script_event(kId, "count", 6), 0.0);  // 30 arguments
    standin::set_list_done_hook(nullptr);
    EXPECT_TRUE(reports().empty()) << joined(reports());
    ASSERT_EQ(standin::draws().size(), 1u);
    EXPECT_EQ(standin::draws()[0].text.text, "nested");
}

TEST_F(NestedExportRoom, RegisterFromListDoneAfterALongList) {
    standin::set_script(5, [](const HostCallArg*, int) { return standin::Value::number(0); });
    bool done = false;
    standin::set_list_done_hook([&] {
        if (done) return;
        done = true;
        script_register(kId, "regression_room_register", 5);
    });
    EXPECT_EQ(script_event(kId, "count", 6), 0.0);
    standin::set_list_done_hook(nullptr);
    EXPECT_TRUE(reports().empty()) << joined(reports());
    run(kId, "regression_room_register()");
    EXPECT_EQ(standin::call_count(R_EXECUTE_SCRIPT), 1u);
}

TEST_F(NestedExportRoom, LoadFromTheErrorRoutineOfAFailedLoad) {
    // Results of earlier loads fill the stack to the room every export leaves, and
    // the failed load's error value takes one of those slots while it is reported.
    keep_many_results();
    ScriptFile nested("draw_text(0, 0, 'nested')");
    bool done = false;
    standin::set_error_hook([&] {
        if (done) return;
        done = true;
        load(kId, nested.path());
    });
    run(kId, "error('first')");
    standin::set_error_hook(nullptr);
    ASSERT_EQ(reports().size(), 1u) << joined(reports());
    ASSERT_EQ(standin::draws().size(), 1u);
    EXPECT_EQ(standin::draws()[0].text.text, "nested");
}

TEST_F(NestedExportRoom, RegisterFromTheErrorRoutineOfAFailedEvent) {
    run(kId, "function fails() error('event failed') end");
    keep_many_results();
    standin::set_script(5, [](const HostCallArg*, int) { return standin::Value::number(0); });
    bool done = false;
    standin::set_error_hook([&] {
        if (done) return;
        done = true;
        script_register(kId, "regression_room_after_error", 5);
    });
    EXPECT_EQ(script_event(kId, "fails", 6), 1.0);
    standin::set_error_hook(nullptr);
    ASSERT_EQ(reports().size(), 1u) << joined(reports());
    run(kId, "regression_room_after_error()");
    EXPECT_EQ(standin::call_count(R_EXECUTE_SCRIPT), 1u);
}

TEST_F(NestedExportRoom, EventsOfAnEmptyListNestedInListDone) {
    // An event with an empty list holds its function on the stack while the host
    // lets the list go; the events nested there, under the same name, must not
    // each hold one more, or the innermost number error has no room to become text.
    run(kId, "function regression_room_nest() return 0 end");
    keep_many_results();
    standin::set_list(7, {});
    EXPECT_EQ(script_event(kId, "regression_room_nest", 7), 1.0);  // the name is now known
    run(kId, "function regression_room_nest() error(7, 0) end");
    int depth = 0;
    standin::set_list_done_hook([&] {
        if (++depth <= 3) {
            EXPECT_EQ(script_event(kId, "regression_room_nest", 7), 1.0);
        }
    });
    EXPECT_EQ(script_event(kId, "regression_room_nest", 7), 1.0);
    standin::set_list_done_hook(nullptr);
    EXPECT_EQ(messages(), (Reports{"7", "7", "7", "7"}));
    EXPECT_EQ(standin::call_count(R_LIST_DONE), 5u);
    expect_engine_alive(kId);
}

TEST_F(NestedExportRoom, ANumberErrorAfterManyResults) {
    keep_many_results();
    run(kId, "error(-4.5, 0)");
    EXPECT_EQ(messages(), (Reports{"-4.5"}));
    expect_engine_alive(kId);
}

TEST_F(NestedExportRoom, FailingLoadsNestedInTheErrorRoutine) {
    // Each failing load reports from the error routine of the one before; the last
    // error is a number, which is converted to text on the engine's stack.
    keep_many_results();
    ScriptFile failing("error('again')");
    ScriptFile number("error(42, 0)");
    int depth = 0;
    standin::set_error_hook([&] {
        if (++depth < 4) load(kId, depth < 3 ? failing.path() : number.path());
    });
    run(kId, "error('first')");
    standin::set_error_hook(nullptr);
    const Reports r = reports();
    ASSERT_EQ(r.size(), 4u) << joined(r);
    EXPECT_EQ(untraced(r[3]), "42");
    expect_engine_alive(kId);
}

}  // namespace
