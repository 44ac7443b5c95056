// sandbox through the exports: what a sandboxed engine keeps, escape attempts
// that must end in an error (never a crash, never a removed function reached),
// and binary chunks refused there and only there.
#include <string>
#include <vector>

#include "tests/varnel_fixture.h"

namespace {

using standin::Value;

class Sandbox : public VarnelTest {
protected:
    static constexpr double kId = 80;     // sandboxed
    static constexpr double kPlain = 81;  // not
    void SetUp() override {
        VarnelTest::SetUp();
        open(kId);
        open(kPlain);
        ASSERT_EQ(sandbox(kId), 1.0);
        ASSERT_TRUE(reports().empty()) << joined(reports());
    }
    std::vector<std::string> drawn() const {
        std::vector<std::string> out;
        for (const auto& d : standin::draws()) out.push_back(d.text.text);
        return out;
    }
    // The sorted keys of the table expression, as one line.
    std::string keys(double id, const std::string& table) {
        standin::draws().clear();
        run(id, "local k = {} for name in pairs(" + table + ") do k[#k + 1] = tostring(name) end\n"
                "table.sort(k) draw_text(0, 0, table.concat(k, ' '))");
        return drawn().empty() ? "<nothing drawn>" : drawn().back();
    }
};

TEST_F(Sandbox, KeepsExactlyWhatItShould) {
    standin::set_script(8001, [](const HostCallArg*, int) { return Value::number(5); });
    ASSERT_EQ(script_register(kId, "host_five", 8001), 1.0);
    EXPECT_EQ(keys(kId, "_G"),
              "_G _VERSION assert collectgarbage coroutine debug draw_text error gcinfo getfenv getmetatable "
              "host_five ipairs load loadstring math newproxy next os pairs pcall print rawequal rawget rawset "
              "select setfenv setmetatable string table tonumber tostring type unpack xpcall");
    EXPECT_EQ(keys(kId, "os"), "clock date difftime time");
    EXPECT_EQ(keys(kId, "debug"), "traceback");
    const std::string plain_string = keys(kPlain, "string");
    std::string without_dump = plain_string;
    without_dump.erase(without_dump.find("dump "), 5);
    EXPECT_EQ(keys(kId, "string"), without_dump);
    for (const char* whole : {"table", "math", "coroutine"}) EXPECT_EQ(keys(kId, whole), keys(kPlain, whole)) << whole;
    // What stays works, the host scripts too.
    standin::draws().clear();
    run(kId, "draw_text(0, 0, host_five() .. ' ' .. type(os.clock()) .. ' ' .. os.date('!%Y', 0) .. ' ' ..\n"
             "  type(os.time()) .. ' ' .. os.difftime(2, 1) .. ' ' .. type(debug.traceback()) .. ' ' ..\n"
             "  loadstring('return 7')() .. ' ' .. ('abc'):upper())");
    EXPECT_TRUE(reports().empty()) << joined(reports());
    EXPECT_EQ(drawn(), std::vector<std::string>{"5 number 1970 number 1 string 7 ABC"});
    // Sandboxing again changes nothing.
    EXPECT_EQ(sandbox(kId), 1.0);
    EXPECT_EQ(keys(kId, "os"), "clock date difftime time");
    EXPECT_TRUE(reports().empty()) << joined(reports());
}

TEST_F(Sandbox, EscapeAttemptsEndInAnError) {
    const char* attempts[] = {
        "os.exit(3)",
        "os.execute('echo x')",
        "os.remove('x')",
        "os.getenv('PATH')",
        "io.open('sandbox_escape.txt', 'w')",
        "require('io')",
        "dofile('x.lua')",
        "loadfile('x.lua')",
        "module('x')",
        "package.loaded.os.exit(3)",
        "getfenv(0).io.write('x')",
        "getfenv(print).os.exit(3)",
        "getfenv(1).package.loadlib('x', 'y')",
        "string.dump(print)",
        "getmetatable('').__index.dump(function() end)",
        "('x').dump(function() end)",
        "debug.getregistry()",
        "debug.getinfo(1)",
        "debug.sethook(function() end, 'l')",
        "debug.getupvalue(print, 1)",
        "debug.getmetatable('')",
        "jit.off()",
        "bit.band(1, 2)",
        "coroutine.wrap(function() return io.stdout end)():write('x')",
        "setfenv(1, {}) print('x')",
        "setfenv(print, {})",
        "assert(loadstring(string.char(27) .. 'LuaQ\\0\\1\\4\\4\\4\\8\\0'))",
        "assert(load(function() return string.char(27) end))",
        "error(setmetatable({}, {__tostring = function() return os.exit(3) end}))",
        "os.date('%Q')",
        "os.date('%Ez')",
        "os.date('!%#c')",
        "newproxy(true).x()",
        "collectgarbage('count')() ",
    };
    for (const char* attempt : attempts) {
        SCOPED_TRACE(attempt);
        standin::errors().clear();
        EXPECT_EQ(run(kId, attempt), 1.0);
        EXPECT_EQ(reports().size(), 1u) << joined(reports());
    }
    std::FILE* escaped = std::fopen("sandbox_escape.txt", "r");
    EXPECT_EQ(escaped, nullptr);
    if (escaped) std::fclose(escaped);
    standin::errors().clear();
    standin::draws().clear();
    run(kId, "draw_text(0, 0, 'still here')");
    EXPECT_EQ(drawn(), std::vector<std::string>{"still here"});
}

TEST_F(Sandbox, BinaryChunksAreRefusedThereAndOnlyThere) {
    ScriptFile binary("");
    ScriptFile marked("");
    const std::string write = "local function put(path, head)\n"
                              "  local f = assert(io.open(path, 'wb'))\n"
                              "  f:write(head .. string.dump(function() draw_text(0, 0, 'binary ran') end))\n"
                              "  f:close()\n"
                              "end\n"
                              "put('" + std::string(binary.path()) + "', '')\n"
                              "put('" + std::string(marked.path()) + "', '#!/usr/bin/env lua\\n')\n"
                              "sb_dumped = string.dump(function() return 'loaded' end)";
    run(kPlain, write);
    ASSERT_TRUE(reports().empty()) << joined(reports());
    // Not sandboxed: accepted by the export, loadstring and load.
    EXPECT_EQ(load(kPlain, binary.path()), 1.0);
    run(kPlain, "local once = false\n"
                "draw_text(0, 0, loadstring(sb_dumped)() .. ' ' .. load(function()\n"
                "  if once then return nil end once = true return sb_dumped end)())");
    EXPECT_TRUE(reports().empty()) << joined(reports());
    EXPECT_EQ(drawn(), (std::vector<std::string>{"binary ran", "loaded loaded"}));
    // Sandboxed: refused, one report for each file.
    standin::draws().clear();
    for (const ScriptFile* file : {&binary, &marked}) {
        standin::errors().clear();
        EXPECT_EQ(load(kId, file->path()), 1.0);
        ASSERT_EQ(reports().size(), 1u) << joined(reports());
        EXPECT_NE(reports()[0].find("binary chunks are not loaded in a sandboxed engine"), std::string::npos)
            << reports()[0];
    }
    EXPECT_TRUE(drawn().empty());
    // The run export too: code that starts as a compiled chunk does.
    standin::errors().clear();
    EXPECT_EQ(::run(kId, "\x1bLuaQ"), 1.0);
    ASSERT_EQ(reports().size(), 1u) << joined(reports());
    EXPECT_NE(reports()[0].find("binary chunks are not loaded in a sandboxed engine"), std::string::npos)
        << reports()[0];
    standin::errors().clear();
    standin::set_script(8002, [](const HostCallArg*, int) { return Value::number(0); });
    run(kId, "local chunk = string.char(27) .. 'LuaQ'\n"
             "local f1, m1 = loadstring(chunk)\n"
             "local f2, m2 = load(function() local c = chunk chunk = nil return c end)\n"
             "local f3 = load(function() return nil end)\n"
             "draw_text(0, 0, tostring(f1) .. ' ' .. m1 .. ' | ' .. tostring(f2) .. ' ' .. m2 .. ' | ' .. type(f3))");
    EXPECT_TRUE(reports().empty()) << joined(reports());
    EXPECT_EQ(drawn(), std::vector<std::string>{
                           "nil binary chunks are not loaded in a sandboxed engine | "
                           "nil binary chunks are not loaded in a sandboxed engine | function"});
    if (engine_is_luajit()) {
        // LuaJIT's load takes a text, a mode (always text here) and an environment.
        standin::draws().clear();
        run(kId, "local f = load('return x', 'chunk', 'b', {x = 'from env'})\n"
                 "draw_text(0, 0, f() .. ' ' .. tostring(load(string.char(27) .. 'LJ', 'c', 'b')))");
        EXPECT_TRUE(reports().empty()) << joined(reports());
        EXPECT_EQ(drawn(), std::vector<std::string>{"from env nil"});
    }
}

TEST_F(Sandbox, AnUnknownIdIsReportedOnce) {
    EXPECT_EQ(sandbox(82), 1.0);
    EXPECT_EQ(reports(), std::vector<std::string>{"sandbox: no engine with id 82"});
}

}  // namespace
