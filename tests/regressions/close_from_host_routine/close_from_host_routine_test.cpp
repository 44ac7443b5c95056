// A fault the randomized driver (fuzz/) found: the host closing an engine from a
// routine that the engine's own export calls. Kept as the smallest call sequences
// that showed it.
#include <functional>

#include "tests/regressions/regression_fixture.h"

namespace {

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

TEST_F(CloseFromHostRoutine, CallHookWhileTimeLimitTurnsTheCompilerOff) {
    // On LuaJIT, a first limit turns the compiler off through a C function that
    // the engine calls, and a script's call hook fires for C functions too. Its
    // host calls ran there, where no export marks the engine busy: the engine was
    // closed under the call, and the process crashed on its way back. The script's
    // hook is set aside during varnel's own work, and stays the script's.
    run(kId, "debug.sethook(function(e) draw_text(1, 1, e) end, 'c')");
    standin::draws().clear();
    standin::set_draw_hook(close_once());
    EXPECT_EQ(time_limit(kId, 5), 1.0);
    standin::set_draw_hook(nullptr);
    EXPECT_FALSE(tried_);
    EXPECT_TRUE(standin::draws().empty());
    EXPECT_TRUE(reports().empty()) << joined(reports());
    run(kId, "local s = tostring(1)");
    ASSERT_FALSE(standin::draws().empty());
    EXPECT_EQ(standin::draws().back().text.text, "call");
    run(kId, "debug.sethook()");
    expect_engine_alive(kId);
}

}  // namespace
