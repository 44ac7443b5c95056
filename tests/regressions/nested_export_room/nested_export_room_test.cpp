// A fault the randomized driver (fuzz/) found: no room left on the engine's stack
// for an export nested in a host routine. Kept as the smallest call sequences that
// showed it.
#include <vector>

#include "tests/regressions/regression_fixture.h"

namespace {

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
