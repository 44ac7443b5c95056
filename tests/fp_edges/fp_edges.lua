-- Floating-point edge cases, printed so that the output is the same on every
-- platform: infinities, NaNs and zeros by name, finite numbers with 17 digits and
-- as tostring writes them. Any host environment must give the same bytes.
local function show(x)
  if type(x) ~= "number" then return tostring(x) end
  if x ~= x then return "nan" end
  if x == math.huge then return "inf" end
  if x == -math.huge then return "-inf" end
  if x == 0 then return 1 / x < 0 and "-0" or "0" end
  return string.format("%.17g", x) .. " " .. tostring(x)
end

-- A host call gives the host its floating-point words back: each case starts
-- under them, as a script's first instruction does.
local settle = draw_text or function() end

local function case(name, f)
  settle(0, 0, "")
  local ok, a, b = pcall(f)
  if not ok then
    print(name, "error", (string.gsub(tostring(a), "^[^:]*:%d+: ", "")))
  elseif b ~= nil then
    print(name, show(a), show(b))
  else
    print(name, show(a))
  end
end

local zero, one, nan = 0, 1, 0 / 0
local huge = math.huge

-- Division and the special values it makes.
case("1/0", function() return 1 / 0 end)
case("-1/0", function() return -1 / 0 end)
case("0/0", function() return 0 / 0 end)
case("1/-0", function() return one / -zero end)
case("5 % 0", function() return 5 % 0 end)
case("-5 % 0", function() return -5 % 0 end)
case("5.5 % -2", function() return 5.5 % -2 end)
case("1e300 * 1e10", function() return 1e300 * 1e10 end)
case("1e308 * 10", function() return 1e308 * 10 end)
case("-1e308 * 10", function() return -1e308 * 10 end)

-- NaN compares unequal to everything, itself included.
case("nan == nan", function() return nan == nan end)
case("nan ~= nan", function() return nan ~= nan end)
case("nan < 1", function() return nan < 1 end)
case("nan > 1", function() return nan > 1 end)
case("nan <= nan", function() return nan <= nan end)
case("math.max(nan, 1)", function() return math.max(nan, 1) end)
case("math.min(1, nan)", function() return math.min(1, nan) end)
case("t[nan] = 1", function() local t = {}; t[nan] = 1; return 1 end)
case("t[nan]", function() local t = {}; return t[nan] end)

-- math.huge arithmetic.
case("huge + 1", function() return huge + 1 end)
case("huge - huge", function() return huge - huge end)
case("huge * 0", function() return huge * 0 end)
case("huge / huge", function() return huge / huge end)
case("-huge", function() return -huge end)
case("1 / huge", function() return 1 / huge end)
case("-1 / huge", function() return -1 / huge end)
case("huge > 1e308", function() return huge > 1e308 end)

-- The math library's domain and range errors.
case("math.sqrt(-1)", function() return math.sqrt(-1) end)
case("math.log(0)", function() return math.log(0) end)
case("math.log(-1)", function() return math.log(-1) end)
case("math.log10(0)", function() return math.log10(0) end)
case("math.exp(1000)", function() return math.exp(1000) end)
case("math.exp(-1000)", function() return math.exp(-1000) end)
case("math.pow(10, 400)", function() return math.pow(10, 400) end)
case("math.pow(10, 309)", function() return math.pow(10, 309) end)
case("10 ^ 309", function() local b = 10; return b ^ 309 end)
case("math.pow(0, -1)", function() return math.pow(0, -1) end)
case("math.pow(-8, 1/3)", function() return math.pow(-8, 1 / 3) end)
case("math.fmod(1, 0)", function() return math.fmod(1, 0) end)
case("math.fmod(-7, 3)", function() return math.fmod(-7, 3) end)
case("math.ldexp(1, 2000)", function() return math.ldexp(1, 2000) end)
case("math.ldexp(1, -1074)", function() return math.ldexp(1, -1074) end)
case("math.frexp(1e-310)", function() return math.frexp(1e-310) end)
case("math.cosh(1000)", function() return math.cosh(1000) end)
case("math.sinh(-1000)", function() return math.sinh(-1000) end)
case("math.acos(1 + 2^-52)", function() return math.acos(1 + 2 ^ -52) end)
case("math.asin(2)", function() return math.asin(2) end)
case("math.acos(-1)", function() return math.acos(-1) end)
case("math.atan2(0, -1)", function() return math.atan2(0, -1) end)
case("math.atan2(-0, -1)", function() return math.atan2(-zero, -1) end)
case("math.tan(math.pi / 2)", function() return math.tan(math.pi / 2) end)
case("math.sin(1e22)", function() return math.sin(1e22) end)
case("math.cos(1e22)", function() return math.cos(1e22) end)
case("math.floor(-0.5)", function() return math.floor(-0.5) end)
case("math.ceil(-0.5)", function() return math.ceil(-0.5) end)
case("math.floor(2^40 + 0.5)", function() return math.floor(2 ^ 40 + 0.5) end)
case("math.modf(-3.5)", function() return math.modf(-3.5) end)
case("math.modf(huge)", function() return math.modf(huge) end)
case("math.abs(-0)", function() return math.abs(-zero) end)

-- Precision: what 24-bit or 64-bit x87 rounding would change.
case("1/3", function() return 1 / 3 end)
case("2/3", function() return 2 / 3 end)
case("10/3", function() return 10 / 3 end)
case("640/480", function() return 640 / 480 end)
case("16777217/3", function() return 16777217 / 3 end)
case("0.1 + 0.2", function() return 0.1 + 0.2 end)
case("1 + 2^-53", function() return 1 + 2 ^ -53 end)
case("1 + 2^-52", function() return 1 + 2 ^ -52 end)
case("(1 + 2^-52) - 1", function() return (1 + 2 ^ -52) - 1 end)
case("1e16 + 1", function() return 1e16 + 1 end)
case("2^53 + 1", function() return 2 ^ 53 + 1 end)
case("16777216 + 1", function() return 16777216 + 1 end)
case("123456789 * 3", function() return 123456789 * 3 end)
case("math.sqrt(2)", function() return math.sqrt(2) end)
case("math.exp(1)", function() return math.exp(1) end)
case("math.log(10)", function() return math.log(10) end)
case("math.sin(1)", function() return math.sin(1) end)
case("dot product", function()
  local x, y, z = 0.6, 0.8, 0
  local n = math.sqrt(x * x + y * y + z * z)
  return (x / n) * (x / n) + (y / n) * (y / n) + (z / n) * (z / n)
end)
case("running sum of 0.1", function()
  local s = 0
  for _ = 1, 1000 do s = s + 0.1 end
  return s
end)

-- Denormals: flushing to zero would change these.
case("1e-310 > 0", function() return 1e-310 > 0 end)
case("1e-310 * 1", function() return 1e-310 * 1 end)
case("2^-1074 / 2", function() return 2 ^ -1074 / 2 end)
case("2.2250738585072014e-308 / 3", function() return 2.2250738585072014e-308 / 3 end)

-- Numbers as text, both ways.
case("tostring(0.1)", function() return tostring(0.1) end)
case("tostring(2^53 + 1)", function() return tostring(2 ^ 53 + 1) end)
case("tostring(16777215)", function() return tostring(16777215) end)
case("tostring(123456789)", function() return tostring(123456789) end)
case("tostring(640/480)", function() return tostring(640 / 480) end)
case("tostring(2^31)", function() return tostring(2 ^ 31) end)
case("tostring(-2^63)", function() return tostring(-2 ^ 63) end)
case("tostring(1e15)", function() return tostring(1e15) end)
case("tostring(1e100)", function() return tostring(1e100) end)
case("tostring(5e-324)", function() return tostring(5e-324) end)
case("tonumber(\"1e400\")", function() return tonumber("1e400") end)
case("tonumber(\"-1e400\")", function() return tonumber("-1e400") end)
case("tonumber(\"1e-400\")", function() return tonumber("1e-400") end)
case("tonumber(\"0x7fffffff\")", function() return tonumber("0x7fffffff") end)
case("tonumber(\"0x1p2000\")", function() return tonumber("0x1p2000") end)
case("tonumber(\"123456789.123\")", function() return tonumber("123456789.123") end)
case("tonumber(\"0.1\") == 0.1", function() return tonumber("0.1") == 0.1 end)
case("\"10\" + 1", function() return "10" + 1 end)
case("\"1e400\" * 1", function() return "1e400" * 1 end)
case("string.format(\"%.17g\", 0.1)", function() return string.format("%.17g", 0.1) end)
case("string.format(\"%.3f\", 2/3)", function() return string.format("%.3f", 2 / 3) end)
case("string.format(\"%5.1f\", -0.05)", function() return string.format("%5.1f", -0.05) end)
case("string.format(\"%d\", 3.99)", function() return string.format("%d", 3.99) end)
case("string.format(\"%d\", -3.99)", function() return string.format("%d", -3.99) end)
case("string.format(\"%d\", 2^31 - 1)", function() return string.format("%d", 2 ^ 31 - 1) end)
case("string.format(\"%x\", 255.5)", function() return string.format("%x", 255.5) end)
case("string.format(\"%g\", 1e20)", function() return string.format("%g", 1e20) end)
case("string.format(\"%d\", 1e30)", function() return string.format("%d", 1e30) end)
case("string.format(\"%d\", -2^63)", function() return string.format("%d", -2 ^ 63) end)
case("string.format(\"%x\", -1)", function() return string.format("%x", -1) end)
case("string.format(\"%x\", 2^64)", function() return string.format("%x", 2 ^ 64) end)
case("string.format(\"%c\", 1e30)", function() return #string.format("%c", 1e30) end)
case("string.format(\"%e\", 12345.678)", function() return string.format("%e", 12345.678) end)

-- Literals and constants folded while the chunk loads.
case("local ms = 5000000000", function() local ms = 5000000000; return ms end)
case("local far = 10^400", function() local far = 10 ^ 400; return far end)
case("local big = 2^31", function() local big = 2 ^ 31; return big end)
case("123456789.123", function() return 123456789.123 end)
case("1e308 * 10 folded", function() return 1e308 * 10 end)
case("0/0 unfolded", function() return 0 / 0 end)

-- Numbers that become integers: table keys, string positions, loops.
case("t[2^31] = 1", function() local t = {}; t[2 ^ 31] = 1; return t[2 ^ 31] end)
case("t[-2^31]", function() local t = {[-2 ^ 31] = 5}; return t[-2 ^ 31] end)
case("t[1e300]", function() local t = {[1e300] = 7}; return t[1e300] end)
case("t[0.5]", function() local t = {[0.5] = 3}; return t[0.5] end)
case("#{n = 2^31}", function() local t = {}; t[2 ^ 31] = 1; return #t end)
case("(\"hello\"):sub(2^31)", function() return ("hello"):sub(2 ^ 31) end)
case("(\"hello\"):sub(-2^31, 2)", function() return ("hello"):sub(-2 ^ 31, 2) end)
case("(\"hello\"):byte(1e10)", function() return ("hello"):byte(1e10) end)
case("(\"ab\"):rep(0.5)", function() return ("ab"):rep(0.5) end)
case("string.char(65.25)", function() return string.char(65.25) end)
case("for 1, 3, 0.5", function() local n = 0; for _ = 1, 3, 0.5 do n = n + 1 end; return n end)
case("for 1, nan", function() local n = 0; for _ = 1, nan do n = n + 1 end; return n end)
case("for 0.1 .. 1, 0.1", function() local n = 0; for _ = 0.1, 1, 0.1 do n = n + 1 end; return n end)
case("unpack({1, 2}, 1, 2.5)", function() return select("#", unpack({1, 2}, 1, 2.5)) end)
case("select(1.25, \"a\", \"b\")", function() return select(1.25, "a", "b") end)
case("math.random after randomseed(42)", function() math.randomseed(42); return math.random(1, 2 ^ 20) >= 1 end)
-- The same again, run often enough that an engine with a compiler runs them
-- compiled, each run after a host call: the last of 300 results.
local function hot(name, f)
  case(name .. " x300", function()
    local a, b
    for i = 1, 300 do
      settle(0, 0, "")
      a, b = f(i)
    end
    return a, b
  end)
end
hot("math.ldexp(i, 2000)", function(i) return math.ldexp(i, 2000) end)
hot("math.ldexp(i, -1074)", function(i) return math.ldexp(i, -1074) end)
hot("math.exp(999 + i)", function(i) return math.exp(999 + i) end)
hot("math.exp(i / 300)", function(i) return math.exp(i / 300) end)
hot("math.log(i - i)", function(i) return math.log(i - i) end)
hot("math.log10(i)", function(i) return math.log10(i) end)
hot("math.sin(1e22 * i)", function(i) return math.sin(1e22 * i) > -1 end)
hot("math.atan2(i, 3 * i)", function(i) return math.atan2(i, 3 * i) end)
hot("math.fmod(i, 0)", function(i) return math.fmod(i, 0) end)
hot("(1 + i / 1000) ^ 29", function(i) return (1 + i / 1000) ^ 29 end)
hot("10 ^ (308 + i)", function(i) return 10 ^ (308 + i) end)
hot("i / 0", function(i) return i / 0 end)
hot("(i - i) / 0", function(i) return (i - i) / 0 end)
hot("1e308 * (i + 9)", function(i) return 1e308 * (i + 9) end)
hot("(i + 2^70) % 2^32", function(i) return (i + 2 ^ 70) % 2 ^ 32 end)
hot("string.format(\"%d\", i * 1e30)", function(i) return string.format("%d", i * 1e30) end)
hot("string.format(\"%x\", -i)", function(i) return string.format("%x", -i) end)
hot("tostring(i / 3)", function(i) return tostring(i / 3) end)
hot("t[i * 1e300]", function(i) local t = {}; t[i * 1e300] = i; return t[i * 1e300] end)
hot("(\"hello\"):sub(i * 2^31)", function(i) return ("hello"):sub(i * 2 ^ 31) end)
print("done")
