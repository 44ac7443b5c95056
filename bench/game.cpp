#include "bench/game.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "extension/exports/varnel_exports.h"
#include "standin/standin.h"

namespace {

constexpr double kGameEngine = 2;
constexpr double kNoEntries = 60;  // an empty list: each part takes no arguments
constexpr double kHostScript = 13;

}  // namespace

const char kGameSource[] = R"lua(
local N = 10000
local entities = {}
for i = 1, N do
  entities[i] = {x = i % 100, y = math.floor(i / 100), vx = i % 7 - 3, vy = i % 5 - 2,
                 hp = 100 - i % 50, name = "unit" .. i, dist = 0}
end
local target = {x = 50.5, y = 49.5}

function game_entities()
  local tx, ty, sqrt = target.x, target.y, math.sqrt
  for i = 1, N do
    local e = entities[i]
    local dx, dy = tx - e.x, ty - e.y
    local d = sqrt(dx * dx + dy * dy) + 1e-9
    e.vx = e.vx * 0.9 + dx / d * 0.5
    e.vy = e.vy * 0.9 + dy / d * 0.5
    e.x = e.x + e.vx * 0.016
    e.y = e.y + e.vy * 0.016
    e.dist = d
  end
  return 0
end

local nearest = {}
local function closer(a, b) return a.dist < b.dist end
function game_sorts()
  for i = 1, 1000 do nearest[i] = entities[i * 10] end
  table.sort(nearest, closer)
  return 0
end

function game_strings()
  local lines = {}
  for i = 1, 500 do
    local e = entities[i]
    lines[i] = string.format("%s at %.1f, %.1f hp %d", e.name, e.x, e.y, e.hp)
  end
  local text = table.concat(lines, "\n")
  return #text > 0 and 0 or 1
end

function game_host()
  for i = 1, 100 do
    game_host_call(i, 2.5, "tag")
    draw_text(i, 10, nearest[i].name)
  end
  return 0
end

function game_frame()
  game_entities()
  game_sorts()
  game_strings()
  game_host()
  return 0
end
game_entities()
game_sorts()
)lua";

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

template <typename Run>
double median_ms(int frames, Run run) {
    std::vector<double> ms;
    for (int i = 0; i < frames; ++i) {
        const Clock::time_point start = Clock::now();
        run();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return median(ms);
}

// The engine library's own name for itself.
std::string engine_name() {
    lua_State* L = luaL_newstate();
    if (!L) return "?";
    luaL_openlibs(L);
    std::string name = "?";
    if (luaL_dostring(L, "return jit and jit.version or _VERSION") == 0 && lua_isstring(L, -1))
        name = lua_tostring(L, -1);
    lua_close(L);
    return name;
}

}  // namespace

bool run_game_frames(int frames) {
    standin::set_script(kHostScript, [](const HostCallArg*, int) { return standin::Value::number(1); });
    standin::set_list(static_cast<int32_t>(kNoEntries), {});
    const std::size_t errors = standin::errors().size();
    state(kGameEngine);
    script_register(kGameEngine, "game_host_call", kHostScript);
    const char* path = "varnel_game.lua";
    std::ofstream(path, std::ios::binary) << kGameSource;
    load(kGameEngine, path);
    std::remove(path);

    std::printf("game-like frame through script_event on %s: ms, median of %d frames\n", engine_name().c_str(),
                frames);
    const char* parts[][2] = {{"entities", "game_entities"},
                              {"sorts", "game_sorts"},
                              {"strings", "game_strings"},
                              {"host-calls", "game_host"},
                              {"frame", "game_frame"}};
    for (const auto& part : parts) {
        for (int i = 0; i < 3; ++i) script_event(kGameEngine, part[1], kNoEntries);  // warm-up
        const double ms = median_ms(frames, [&] { script_event(kGameEngine, part[1], kNoEntries); });
        std::printf("game %-10s %10.3f\n", part[0], ms);
        std::fflush(stdout);
        standin::draws().clear();
    }
    destroy(kGameEngine);
    const double ms = median_ms(frames, [] {
        state(kGameEngine + 1);
        destroy(kGameEngine + 1);
    });
    std::printf("game %-10s %10.3f\n", "state", ms);
    const bool clean = standin::errors().size() == errors && standin::faults().empty() && !standin::live_cells() &&
                       !standin::live_strings();
    if (!clean) std::printf("game: a frame reported an error or left host cells behind\n");
    return clean;
}
