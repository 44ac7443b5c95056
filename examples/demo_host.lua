-- A HOST file for varnel-run: it stands in for the game that runs demo.lua.
--
--   varnel-run examples/demo.lua examples/demo_host.lua
--
-- It runs in varnel-run's own Lua state, not in the script's engine, and returns
-- what the game would do: the host scripts it registers (in this order, before
-- the script is loaded) and the events it fires (in this order). An event with
-- a field `export` is another call the game makes, whose result the runner shows.
return {
  scripts = {
    -- host_add: the sum of its number arguments; texts count as nothing.
    { name = "host_add", index = 1, play = function(...)
        local sum = 0
        for i = 1, select("#", ...) do
          local v = select(i, ...)
          if type(v) == "number" then sum = sum + v end
        end
        return sum
      end },
    -- host_greet: a text. The empty text ("") reaches the script as nil.
    { name = "host_greet", index = 2, play = function(who)
        return "hello, " .. (who ~= "" and who or "stranger")
      end },
  },
  events = {
    -- Each event calls the script's global function with the list's values.
    { name = "on_frame", values = { 1, 4, 5.5, "apple" } },
    { name = "on_frame", values = { 2, 4 } },
    { name = "on_frame", values = { 3 } },
    -- What went wrong in frame 3, asked once the game saw the report.
    { export = "last_error" },
    -- A text back from the script, and a global set and read by path.
    { export = "call_text", name = "quest_line", values = { 2 } },
    { export = "global_set_text", path = "player.name", value = "Ann" },
    { export = "run", code = "player = {name = 'Ann', level = 4}" },
    { export = "global_real", path = "player.level" },
  },
}
