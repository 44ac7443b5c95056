// memory_limit and memory_used through the exports: an engine over its cap gets
// Lua's "not enough memory", reported once, and is usable afterwards, back near
// the memory it held before; other engines are not affected.
#include <cmath>
#include <string>
#include <vector>

#include "tests/varnel_fixture.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

constexpr double kCap = 4 * 1024 * 1024;
// What may stay of a full engine after a collection: tables the engine keeps (the
// strings' hash, the noted coroutines) that grew with what filled it.
constexpr double kNear = kCap / 8;

class MemoryLimit : public VarnelTest {
protected:
    static constexpr double kId = 70;
    void SetUp() override {
        VarnelTest::SetUp();
        open(kId);
        ASSERT_EQ(memory_limit(kId, kCap), 1.0);
        ASSERT_TRUE(reports().empty()) << joined(reports());
    }
    // The bytes held once every collectable object is gone (buffers and tables
    // the engine keeps shrink a little at each collection).
    double settled(double id) {
        run(id, "for i = 1, 4 do collectgarbage() end");
        return memory_used(id);
    }
    // Drops what the scripts below keep, through an event function defined
    // beforehand: with the engine full, not even a chunk can be compiled.
    void clear(double id) {
        standin::set_list(1, {});
        script_event(id, "mem_clear", 1);
    }
    void expect_alive(double id) {
        const size_t before = reports().size();
        run(id, "local t = {} for i = 1, 100 do t[i] = tostring(i) end draw_text(0, 0, 'alive ' .. #t)");
        EXPECT_EQ(reports().size(), before) << joined(reports());
        ASSERT_FALSE(standin::draws().empty());
        EXPECT_EQ(standin::draws().back().text.text, "alive 100");
    }
};

TEST_F(MemoryLimit, EachWayOfGrowingIsStoppedOnceAndTheEngineRecovers) {
    const char* sources[] = {
        "local t = {} while true do t[#t + 1] = {} end",
        "local s = 'x' while true do s = s .. s end",
        "local s = string.rep('x', 64 * 1024 * 1024)",
        "local f = function() end while true do local g = f f = function() return g end end",
        "local t = {} while true do t[#t + 1] = coroutine.create(function() end) end",
        "pcall(function() local t = {} while true do t[#t + 1] = {} end end)",
        "mem_cache = {} for i = 1, 1e9 do mem_cache[i] = 'entry ' .. i end",
    };
    run(kId, "function mem_clear() mem_cache = nil end");
    for (const char* source : sources) {
        SCOPED_TRACE(source);
        const double before = settled(kId);
        EXPECT_GT(before, 0.0);
        EXPECT_LT(before, kCap / 2);
        standin::errors().clear();
        EXPECT_EQ(run(kId, source), 1.0);
        EXPECT_EQ(reports(), std::vector<std::string>{"not enough memory"});
        EXPECT_LE(memory_used(kId), kCap);
        clear(kId);
        EXPECT_LT(settled(kId), before + kNear);
        expect_alive(kId);
    }
}

TEST_F(MemoryLimit, MemoryUsedFollowsWhatScriptsHold) {
    const double before = settled(kId);
    run(kId, "mem_kept = string.rep('y', 1024 * 1024)");
    const double holding = memory_used(kId);
    EXPECT_GE(holding, before + 1024 * 1024);
    run(kId, "mem_kept = nil");
    EXPECT_LT(settled(kId), before + kNear);
    EXPECT_TRUE(reports().empty()) << joined(reports());
}

TEST_F(MemoryLimit, AnotherEngineIsNotAffected) {
    open(71);
    const double other = settled(71);
    run(kId, "local t = {} while true do t[#t + 1] = {} end");
    EXPECT_EQ(reports().size(), 1u);
    standin::errors().clear();
    run(71, "mem_big = string.rep('z', 16 * 1024 * 1024) draw_text(0, 0, 'big ' .. #mem_big)");
    EXPECT_TRUE(reports().empty()) << joined(reports());
    ASSERT_EQ(standin::draws().size(), 1u);
    EXPECT_EQ(standin::draws()[0].text.text, "big 16777216");
    EXPECT_GT(memory_used(71), other + 16 * 1024 * 1024);
}

TEST_F(MemoryLimit, ZeroLiftsTheCap) {
    EXPECT_EQ(memory_limit(kId, 0), 1.0);
    run(kId, "mem_big = string.rep('z', 16 * 1024 * 1024) mem_big = nil");
    EXPECT_TRUE(reports().empty()) << joined(reports());
    // A cap below what the engine holds refuses the next growth only.
    EXPECT_EQ(memory_limit(kId, 1024), 1.0);
    run(kId, "local t = {} for i = 1, 1000 do t[i] = {} end");
    EXPECT_EQ(reports(), std::vector<std::string>{"not enough memory"});
    EXPECT_EQ(memory_limit(kId, 0), 1.0);
    expect_alive(kId);
}

TEST_F(MemoryLimit, AStringRefusedInsideAFastFunctionIsReported) {
    // tostring of a number makes its string in the engine's own code, which on
    // LuaJIT leaves the stack's top where the export left it: the function the
    // event calls lies there, and the error must not be written over its frame.
    run(kId, "function mem_format(n) local s = tostring(n) return s end\n"
             "function mem_event() local s = mem_format(12345.25) return s end");
    EXPECT_TRUE(reports().empty()) << joined(reports());
    EXPECT_EQ(memory_limit(kId, 1024), 1.0);
    standin::set_list(1, {});
    script_event(kId, "mem_event", 1);
    EXPECT_EQ(reports(), std::vector<std::string>{"not enough memory"});
    EXPECT_EQ(memory_limit(kId, 0), 1.0);
    expect_alive(kId);
}

TEST_F(MemoryLimit, ReportingAndClosingWorkAtTheCap) {
    // A run-time error raised while the engine is full is still worded with its
    // traceback, and the engine closes.
    run(kId, "local message = 'full'\n"
             "mem_cache = {} local ok = pcall(function() while true do mem_cache[#mem_cache + 1] = {} end end)\n"
             "error(message, 0)");
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(messages()[0].find("full"), messages()[0].size() - 4) << reports()[0];
    EXPECT_NE(reports()[0].find("stack traceback:"), std::string::npos) << reports()[0];
    run(kId, "mem_cache = {} while true do mem_cache[#mem_cache + 1] = {} end");
    EXPECT_EQ(reports().size(), 2u);
    EXPECT_EQ(close(kId), 1.0);
}

TEST_F(MemoryLimit, BadArgumentsAreReportedOnceAndChangeNothing) {
    const struct {
        double id;
        double bytes;
        const char* report;
    } cases[] = {
        {72, 1.0, "memory_limit: no engine with id 72"},
        {kId, std::nan(""), "memory_limit: bytes is NaN for engine 70"},
        {kId, -1.0, "memory_limit: bytes is negative (-1) for engine 70"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.report);
        standin::errors().clear();
        EXPECT_EQ(memory_limit(c.id, c.bytes), 1.0);
        EXPECT_EQ(reports(), std::vector<std::string>{c.report});
    }
    standin::errors().clear();
    EXPECT_EQ(memory_used(72), 0.0);
    EXPECT_EQ(reports(), std::vector<std::string>{"memory_used: no engine with id 72"});
    standin::errors().clear();
    run(kId, "local s = string.rep('x', 8 * 1024 * 1024)");  // the cap of 4 MB still holds
    EXPECT_EQ(reports(), std::vector<std::string>{"not enough memory"});
}

#if defined(_WIN32)
TEST(MemoryLimitExports, HaveTheirOrdinals) {
    HMODULE varnel = GetModuleHandleA("varnel.dll");
    ASSERT_NE(varnel, nullptr);
    const struct {
        const char* name;
        int ordinal;
    } exports[] = {{"memory_limit", 15}, {"memory_used", 16}, {"sandbox", 17}};
    for (const auto& e : exports) {
        FARPROC by_name = GetProcAddress(varnel, e.name);
        ASSERT_NE(by_name, nullptr) << e.name;
        EXPECT_EQ(by_name, GetProcAddress(varnel, MAKEINTRESOURCEA(e.ordinal))) << e.name;
    }
}
#endif

}  // namespace
