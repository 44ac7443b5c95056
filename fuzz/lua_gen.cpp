#include "fuzz/lua_gen.h"

#include <cstdio>

namespace {

class Gen {
public:
    Gen(Rng& rng, const std::vector<std::string>& forwarders) : r_(rng), fw_(forwarders) {}

    std::string program() {
        std::string out = header();
        const int n = r_.range(1, 9);
        for (int i = 0; i < n; ++i) out += top_statement();
        if (r_.chance(15)) out += returns();
        return out;
    }

    // A value of a random Lua type, as an expression; inside a function it may use its arguments.
    std::string value(bool in_function) {
        switch (r_.below(in_function ? 31 : 28)) {
            case 0: return "nil";
            case 1: return "true";
            case 2: return "false";
            case 3: return "0";
            case 4: return "-0";
            case 5: return "0/0";
            case 6: return r_.pick({"1/0", "-1/0"});
            case 7: return r_.pick({"3.5", "-7", "2.9", "-2.9", "1e300", "2^31", "-2^31", "2^53", "0.5"});
            case 8: return r_.pick({"'txt'", "''", "'a\\0b'", "'\\200\\255\\195\\169'", "'7'", "'0'", "' 12 '"});
            case 9: return "string.rep('L', " + std::to_string(r_.pick({255, 256, 300, 4000})) + ")";
            case 10: return "{}";
            case 11: return "{1, 'x', {}}";
            case 12: return "function() return 1 end";
            case 13: return "newproxy()";
            case 14: return "newproxy(true)";
            case 15: return "coroutine.create(function() end)";
            case 16: return "type";
            case 17: return "io.stdout";
            case 18: return lua_quote(forwarder());
            case 19: return "setmetatable({}, {__tostring = function() error('ts') end})";
            case 20: return "(" + std::to_string(r_.range(-3, 3)) + ")";
            case 21: return "draw_text";
            case 22: return "tostring(" + value(in_function) + ")";
            case 23: return "#" + lua_quote(std::string(r_.below(5), 'x'));
            case 24: return "'" + std::to_string(r_.range(-100, 100)) + ".25'";
            case 25: return "math.huge";
            case 26: return "-math.huge";
            case 27:  // the engine's x87 code: the C runtime's math, fscale, 64-bit conversions
                return std::string(r_.pick({"math.exp(", "math.ldexp(1, ", "math.sin(", "math.fmod(7, ", "math.log(",
                                            "math.pow(10, ", "string.format('%d', ", "string.format('%x', ",
                                            "tostring(1e300 * "})) +
                       value(in_function) + ")";
            case 28: return "a";
            case 29: return "...";
            default: return "select('#', ...)";  // only inside a function
        }
    }

private:
    Rng& r_;
    const std::vector<std::string>& fw_;
    int depth_ = 0;
    int gc_count_ = 0;

    // A global the scripts call as a host script. Never an event function: one that
    // calls itself would not end.
    std::string forwarder() {
        if (fw_.empty() || r_.chance(10)) return r_.pick({"nope", "draw_text", "a.b"});
        if (fw_.size() > 3 && r_.chance(60)) return fw_[r_.below(3)];  // the names games register first
        const std::string& name = r_.pick(fw_);
        return name.compare(0, 3, "ev_") == 0 ? "nope" : name;
    }

    std::string header() {
        std::string h;
        if (r_.chance(5)) h += "#!/usr/bin/env lua\n";
        h += "local KEEP = rawget(_G, 'KEEP') or {}\nrawset(_G, 'KEEP', KEEP)\n";
        return h;
    }

    std::string args(bool in_function) {
        std::string out;
        const int n = r_.chance(5) ? r_.range(9, 24) : r_.range(0, 4);
        for (int i = 0; i < n; ++i) out += (i ? ", " : "") + value(in_function);
        return out;
    }

    std::string callee() {
        switch (r_.below(5)) {
            case 0: return "draw_text";
            case 1: return "error";
            case 2: return "rawget(_G, " + lua_quote(forwarder()) + ")";
            default: return "_G[" + lua_quote(forwarder()) + "]";
        }
    }

    std::string body(bool in_function) {
        std::string out;
        ++depth_;
        const int n = depth_ > 2 ? r_.range(0, 1) : r_.range(1, 4);
        for (int i = 0; i < n; ++i) out += statement(in_function);
        --depth_;
        return out;
    }

    std::string raise(bool in_function) {
        std::string v = r_.pick({"nil", "{}", "true", "false", "42", "-0.5", "0/0", "'boom'",
                                 "'cut\\0here'", "newproxy(true)", "string.rep('E', 600)"});
        if (in_function && r_.chance(30)) v = "a";
        if (r_.chance(20)) return "error(" + v + ", 2)\n";
        return "error(" + v + ")\n";
    }

    std::string gc_object(bool in_function) {
        std::string out = "do local u = newproxy(true)\n getmetatable(u).__gc = function(self)\n";
        out += r_.chance(40) ? raise(false) : body(false);
        out += " end\n";
        if (r_.chance(50)) out += " KEEP[" + std::to_string(++gc_count_) + "] = u\n";
        if (in_function && r_.chance(20)) out += " a = u\n";
        return out + "end\n";
    }

    std::string globals_metatable() {
        switch (r_.below(6)) {
            case 0: return "setmetatable(_G, nil)\n";
            case 1: return "setmetatable(_G, {__index = function(t, k) error('no global ' .. tostring(k)) end})\n";
            case 2: return "setmetatable(_G, {__newindex = function(t, k, v) error({k}) end})\n";
            case 3: return "setmetatable(_G, {__newindex = function(t, k, v) draw_text(1, 2, k) rawset(t, k, v) end})\n";
            case 4: return "setmetatable(_G, {__index = function(t, k) return " + value(false) + " end})\n";
            default: return "setmetatable(_G, {__newindex = function(t, k, v) " + callee() + "(k, v) rawset(t, k, v) end})\n";
        }
    }

    // A debug hook, which stays on the engine's main thread for later exports too:
    // it raises or calls back into the host at random points of all Lua code.
    std::string debug_hook() {
        switch (r_.below(5)) {
            case 0: return "debug.sethook()\n";
            case 1: return "do local n = 0 debug.sethook(function() n = n + 1 if n % " + std::to_string(r_.range(2, 9)) +
                           " == 0 then error('tick') end end, '', " + std::to_string(r_.pick({7, 50, 400})) + ") end\n";
            case 2: return "debug.sethook(function() draw_text(1, 1, 'tick') end, '', " + std::to_string(r_.pick({100, 1000})) + ")\n";
            case 3: return "debug.sethook(function(e) " + callee() + "(e) end, 'cr')\n";
            default: return "do local n = 0 debug.sethook(function() n = n + 1 if n % 5 == 0 then error({}) end end, 'c') end\n";
        }
    }

    std::string tamper() {
        if (r_.chance(30)) return debug_hook();
        switch (r_.below(4)) {
            case 0: return "do local f = rawget(_G, " + lua_quote(forwarder()) +
                           ") if type(f) == 'function' then pcall(debug.setupvalue, f, 1, " + value(false) + ") end end\n";
            case 1: return "do local r = debug.getregistry() for i = 1, #r do if type(r[i]) == 'function' then "
                           "pcall(r[i]) pcall(r[i], newproxy()) end end end\n";
            case 2: return "do local r = debug.getregistry() for i = 1, #r do if type(r[i]) == 'function' then r[i] = " +
                           std::string(r_.pick({"false", "tostring", "function() error('x') end"})) + " end end end\n";
            default: return "_G[" + lua_quote(forwarder()) + "] = " + value(false) + "\n";
        }
    }

    std::string statement(bool in_function) {
        const size_t k = r_.weighted({12, 14, 8, 3, 6, 3, 3, 3, 2, 3, 2, 2, 2});
        switch (k) {
            case 0: return "draw_text(" + args(in_function) + ")\n";
            case 1:
                if (r_.chance(50))
                    return "do local f = rawget(_G, " + lua_quote(forwarder()) + ") or draw_text f(" + args(in_function) + ") end\n";
                return "_G[" + lua_quote(forwarder()) + "](" + args(in_function) + ")\n";
            case 2: {
                const std::string f = callee(), a = args(in_function);
                return "pcall(" + f + (a.empty() ? "" : ", " + a) + ")\n";
            }
            case 3: return raise(in_function);
            case 4: return gc_object(in_function);
            case 5: return globals_metatable();
            case 6: return r_.pick({"collectgarbage()\n", "collectgarbage('step')\n"});
            case 7: return "for i = 1, " + std::to_string(r_.range(10, 400)) + " do local t = {string.rep('g', i)} end\n";
            case 8: return tamper();
            case 9: {
                const std::string a = args(in_function);
                return "do local co = coroutine.create(function(...)\n" + body(false) +
                       " end)\n local ok, e = coroutine.resume(co" + (a.empty() ? "" : ", " + a) + ") end\n";
            }
            case 10: return "if select('#'" + std::string(in_function ? ", ..." : "") + ") > " +
                            std::to_string(r_.range(0, 3)) + " then\n" + body(in_function) + "end\n";
            case 11: return "do local f = loadstring(" + lua_quote(r_.chance(50) ? "return 1 +" : "draw_text(9, 9, 'ls')") +
                            ") if f then pcall(f) end end\n";
            default: return "do local function r(n) if n > 0 then return 1 + r(n - 1) end return 0 end pcall(r, " +
                            std::to_string(r_.pick({10, 30000})) + ") end\n";
        }
    }

    std::string event_function() {
        std::string out = "function " + event_function_name(r_.below(kEventFunctions)) + "(...)\n local a, b, c = ...\n";
        out += body(true);
        switch (r_.below(4)) {
            case 0: return out + " return\nend\n";
            case 1: return out + " return " + value(true) + ", " + value(true) + "\nend\n";
            case 2: return out + " return _G[" + lua_quote(forwarder()) + "](...)\nend\n";
            default: return out + " return " + value(true) + "\nend\n";
        }
    }

    std::string top_statement() {
        switch (r_.weighted({10, 2, 1})) {
            case 0: return event_function();
            case 1: return event_function_name(r_.below(kEventFunctions)) + " = " +
                           r_.pick<std::string>({"coroutine.wrap(function(...) while true do coroutine.yield(select('#', ...)) end end)",
                                    "draw_text", "error", "{}", "nil", "_G[" + lua_quote(forwarder()) + "]"}) + "\n";
            default: return statement(false);
        }
    }

    std::string returns() {
        if (r_.chance(70)) return "return " + args(false) + "\n";
        return "do local t = {} for i = 1, " + std::to_string(r_.pick({100, 3000, 7990, 9000})) +
               " do t[i] = i end return unpack(t) end\n";
    }
};

// Breaks a valid program so that it no longer compiles, or writes no Lua at all.
std::string broken(Rng& rng, std::string text) {
    switch (rng.below(6)) {
        case 0: return text.substr(0, rng.below(static_cast<uint32_t>(text.size()) + 1)) + "\nfunction (";
        case 1: return text.insert(rng.below(static_cast<uint32_t>(text.size()) + 1), " end end )");
        case 2: return "\x1bLua\x99 not a chunk";
        case 3: return std::string("\xff\xfe\x80\x81 = = \x01");
        case 4: return "";
        default: return "local s = [[" + text;
    }
}

}  // namespace

std::string event_function_name(int k) { return "ev_" + std::to_string(k); }

std::string lua_quote(const std::string& s) {
    std::string out = "'";
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F && c != '\'' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\%03u", c);
            out += esc;
        }
    }
    return out + "'";
}

std::string random_script(Rng& rng, const std::vector<std::string>& forwarders) {
    Gen gen(rng, forwarders);
    std::string text = gen.program();
    if (rng.chance(12)) return broken(rng, text);
    return text;
}
