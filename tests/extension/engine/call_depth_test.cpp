// Calls that nest on the C stack without end (a metamethod or library callback
// that calls back through C, coroutines resumed inside coroutines) end in one Lua
// error, "C stack overflow" or "stack overflow", on every engine, on a thread with
// a small stack as a game's may be; the engine goes on after it. Those that recurse
// through pcall for ever end at the time limit.
#include <functional>
#include <string>
#include <vector>

#include "tests/varnel_fixture.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace {

// A game's main thread has 1 MB on Windows. On Linux, string.gsub keeps a
// BUFSIZ (8 KB with glibc) buffer on the C stack on both engines: 200 nested
// calls need 2 MB there.
#if defined(_WIN32)
constexpr size_t kStackBytes = 1u << 20;
#else
constexpr size_t kStackBytes = 2u << 20;
#endif

#if defined(_WIN32)
// A thread's entry point is stdcall: a lambda cannot be one.
DWORD WINAPI run_function(LPVOID p) {
    (*static_cast<const std::function<void()>*>(p))();
    return 0;
}
#endif

// Runs f on a new thread with a stack of kStackBytes and waits for it.
void on_small_stack(const std::function<void()>& f) {
#if defined(_WIN32)
    HANDLE thread = CreateThread(nullptr, kStackBytes, run_function, const_cast<std::function<void()>*>(&f),
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
#else
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, kStackBytes), 0);
    auto start = [](void* p) -> void* {
        (*static_cast<const std::function<void()>*>(p))();
        return nullptr;
    };
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, start, const_cast<std::function<void()>*>(&f)), 0);
    pthread_attr_destroy(&attr);
    pthread_join(thread, nullptr);
#endif
}

class CallDepth : public VarnelTest {
protected:
    static constexpr double kId = 90;
    void SetUp() override {
        VarnelTest::SetUp();
        open(kId);
    }
    // Loads source on the small stack; expects the load to fail with one report
    // that starts with or contains expected, then the engine to run a script.
    void expect_one_report(const std::string& source, const std::string& expected) {
        SCOPED_TRACE(source);
        standin::errors().clear();
        double result = 0;
        on_small_stack([&] { result = run(kId, source); });
        EXPECT_EQ(result, 1.0);
        const std::vector<std::string> r = reports();
        ASSERT_EQ(r.size(), 1u) << joined(r);
        EXPECT_NE(r[0].find(expected), std::string::npos) << r[0];
        standin::draws().clear();
        on_small_stack([&] { run(kId, "draw_text(0, 0, 'alive')"); });
        EXPECT_EQ(reports().size(), 1u) << joined(reports());
        ASSERT_EQ(standin::draws().size(), 1u);
        EXPECT_EQ(standin::draws()[0].text.text, "alive");
    }
};

TEST_F(CallDepth, ToStringMetamethodsThatCallBack) {
    const char* sources[] = {
        "print(setmetatable({}, {__tostring = print}))",
        "local t = setmetatable({}, {__tostring = tostring}) tostring(t)",
        "local t = setmetatable({}, {__tostring = function(t) return tostring(t) end}) tostring(t)",
    };
    for (const char* source : sources) expect_one_report(source, "stack overflow");
}

TEST_F(CallDepth, AnErrorValueWhoseToStringCallsBack) {
    // The report is what __tostring returns: here it fails, and the report says
    // what the value is.
    expect_one_report("error(setmetatable({}, {__tostring = tostring}))", "(error object is a table value)");
}

TEST_F(CallDepth, LibraryCallbacksThatCallBack) {
    const char* sources[] = {
        "local function f(s) return (s:gsub('.', f)) end f('ab')",
        "local function f() return assert(pcall(string.gsub, 'a', '.', f)) end f()",
        "local function f(a, b) table.sort({1, 2, 3}, f) return a < b end f(1, 2)",
        // __index, __lt and __eq reached from C functions.
        "local t t = setmetatable({}, {__index = function(t, k) return (('a'):gsub('.', t)) end}) local _ = t.x",
        "local mt = {} mt.__lt = function(a, b) table.sort({a, b}) return false end\n"
        "table.sort({setmetatable({}, mt), setmetatable({}, mt)})",
        "local mt = {} mt.__eq = function(a, b) table.sort({a, b}, function(x, y) return x == y end) return true end\n"
        "local _ = setmetatable({}, mt) == setmetatable({}, mt)",
        // __concat from Lua nests on Lua's stack, not C's: its own overflow.
        "local t t = setmetatable({}, {__concat = function(a, b) return t .. b end}) local _ = t .. 1",
    };
    for (const char* source : sources) expect_one_report(source, "stack overflow");
}

TEST_F(CallDepth, CoroutinesResumedInsideCoroutines) {
    const char* sources[] = {
        "local function f() coroutine.wrap(f)() end f()",
        "local function f() assert(coroutine.resume(coroutine.create(f))) end f()",
    };
    for (const char* source : sources) expect_one_report(source, "C stack overflow");
}

TEST_F(CallDepth, XpcallInsideXpcallAndItsHandler) {
    // The innermost xpcall fails; each level hands its message up.
    expect_one_report("local function f() return select(2, xpcall(f, function(m) return m end)) end\n"
                      "error(f(), 0)",
                      "stack overflow");
    // A handler that calls xpcall whose handler fails in turn.
    standin::errors().clear();
    on_small_stack([&] {
        run(kId, "local function h(m) return select(2, xpcall(error, h)) end\n"
                 "draw_text(0, 0, tostring(select(2, xpcall(error, h))))");
    });
    EXPECT_TRUE(reports().empty()) << joined(reports());
}

TEST_F(CallDepth, PcallRecursionStopsAtTheTimeLimit) {
    ASSERT_EQ(time_limit(kId, 0.2), 1.0);
    expect_one_report("local function f() pcall(f) pcall(f) end f()", "script ran longer than 0.2 seconds");
    expect_one_report("local function f() pcall(f) return pcall(f) end f()", "script ran longer than 0.2 seconds");
}

}  // namespace
