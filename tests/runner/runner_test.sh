#!/usr/bin/env bash
# The runner, varnel-run: the README's example run (output and exit status),
# a script without HOST, HOST files it must refuse with one clear message and
# exit status 2 (never a crash), and a HOST play function that fails.
#
#   runner_test.sh SOURCE_DIR [EMULATOR] RUNNER
set -uo pipefail
src=$1
shift
runner=("$@")
source "$src/tests/readme_example.sh"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# run NAME ARGS...: runs the runner, leaving $status, $out (stdout) and $err (stderr).
run() {
  local name=$1
  shift
  "${runner[@]}" "$@" >"$work/$name.out" 2>"$work/$name.err"
  status=$?
  out=$(cat "$work/$name.out")
  err=$(cat "$work/$name.err")
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The README's example run, from the source folder, as it is written there.
example=$(readme_example "$src/README.md")
command=$(head -n 1 <<<"$example")
expected=$(tail -n +2 <<<"$example")
[ "${command%% *}" = ">" ] && [ -n "$expected" ] || fail "README.md has no runner example"
read -r -a args <<<"${command#> varnel-run }"
(cd "$src" && run readme "${args[@]}"; echo "$status" >"$work/readme.status")
out=$(cat "$work/readme.out")
[ "$out" = "$expected" ] || { fail "README example output differs:"; diff <(echo "$expected") <(echo "$out"); }
[ "$(cat "$work/readme.status")" = 1 ] || fail "README example: exit status $(cat "$work/readme.status"), expected 1"

cd "$work"

# Without HOST: the script is loaded and reported on; nothing went wrong.
cat >quiet.lua <<'LUA'
draw_text(1, 2, "tab\there\nand a \"quote\"")
function unused() end
LUA
run quiet quiet.lua
expected='state(1)
load(1, "quiet.lua")
  host_draw_text 1, 2, "tab\there\nand a \"quote\""
destroy(1)
ledger: 0 live cells, 0 live host strings, 0 faults
exit status 0'
[ "$status" = 0 ] && [ "$out" = "$expected" ] || fail "script without HOST: status $status, output:"$'\n'"$out"

# A script that does not compile: one error report, exit status 1.
printf 'function broken(\n' >broken.lua
run broken broken.lua
[ "$status" = 1 ] && [ "$(grep -c '^  host_report_error "broken.lua:' <<<"$out")" = 1 ] ||
  fail "script with a syntax error: status $status, output:"$'\n'"$out"

# HOST files the runner refuses: nothing runs, one line on stderr, exit status 2.
refuses() {  # refuses NAME EXPECTED-PIECE HOST-TEXT
  printf '%s\n' "$3" >"$1.lua"
  run "$1" quiet.lua "$1.lua"
  local lines
  lines=$(wc -l <"$work/$1.err")
  if [ "$status" != 2 ] || [ -n "$out" ] || [ "$lines" != 1 ] || [[ "$err" != "varnel-run: HOST file $1.lua: "*"$2"* ]]; then
    fail "HOST $1: status $status, stdout '$out', stderr '$err'"
  fi
}
refuses syntax "'}' expected" 'return { scripts = {}, events = { }'
refuses runtime "host_runtime_boom" 'error("host_runtime_boom")'
refuses not_table "must return a table with the fields 'scripts' and 'events', not number" 'return 5'
refuses no_scripts "the table returned has no field 'scripts'" 'return { events = {} }'
refuses no_events "the table returned has no field 'events'" 'return { scripts = {} }'
refuses no_play "scripts[2] has no field 'play'" \
  'return { scripts = { {name = "a", index = 1, play = print}, {name = "b", index = 2} }, events = {} }'
refuses index_text "scripts[1].index must be a number, not string" \
  'return { scripts = { {name = "a", index = "1", play = print} }, events = {} }'
refuses index_twice "scripts[2].index 1 is scripts[1]'s already" \
  'return { scripts = { {name = "a", index = 1, play = print}, {name = "b", index = 1, play = print} }, events = {} }'
refuses entry_kind "events[1] must be a table, not string" 'return { scripts = {}, events = { "on_frame" } }'
refuses no_values "events[1] has no field 'values'" 'return { scripts = {}, events = { {name = "on_frame"} } }'
refuses value_kind "events[1].values[2] must be a number or a text, not boolean" \
  'return { scripts = {}, events = { {name = "f", values = {1, true}} } }'
refuses error_object "(error object is a table value)" 'error({})'
refuses index_nan "scripts[1].index is NaN, which no script index can match" \
  'return { scripts = { {name = "a", index = 0/0, play = print} }, events = {} }'
refuses export_kind "events[1].export 'call_number' is not one of script_event, call_real" \
  'return { scripts = {}, events = { {export = "call_number", name = "f", values = {}} } }'
refuses export_no_path "events[1] has no field 'path'" 'return { scripts = {}, events = { {export = "global_real"} } }'
refuses export_value_kind "events[1].value must be a number, not string" \
  'return { scripts = {}, events = { {export = "global_set_real", path = "x", value = "1"} } }'
refuses limit_kind "the table returned.time_limit must be a number, not string" \
  'return { scripts = {}, events = {}, time_limit = "1" }'
refuses limit_negative "the table returned.time_limit must be 0 or more" \
  'return { scripts = {}, events = {}, time_limit = -1 }'
refuses memory_kind "the table returned.memory_limit must be a number, not boolean" \
  'return { scripts = {}, events = {}, memory_limit = true }'
refuses memory_negative "the table returned.memory_limit must be 0 or more" \
  'return { scripts = {}, events = {}, memory_limit = -5 }'
refuses sandbox_kind "the table returned.sandbox must be a boolean, not number" \
  'return { scripts = {}, events = {}, sandbox = 1 }'
run missing quiet.lua no_such_host.lua
[ "$status" = 2 ] && [ -z "$out" ] && [[ "$err" == "varnel-run: HOST file no_such_host.lua: cannot open no_such_host.lua"* ]] ||
  fail "missing HOST: status $status, stderr '$err'"
run usage
usage='usage: varnel-run SCRIPT [HOST]
       varnel-run --help | --version'
[ "$status" = 2 ] && [ -z "$out" ] && [ "$err" = "$usage" ] || fail "no arguments: status $status"
run unknown_option --verbose quiet.lua
[ "$status" = 2 ] && [ -z "$out" ] && [ "$err" = "$usage" ] || fail "unknown option: status $status"
run help --help
[ "$status" = 0 ] && [ -z "$err" ] && [[ "$out" == "$usage"*"Exit status: 0 all went well"* ]] || fail "--help: status $status"
run version --version
[ "$status" = 0 ] && [ -z "$err" ] && [[ "$out" =~ ^varnel-run\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version: '$out'"

# The game's other calls, from events entries: each printed with what it gave.
cat >answers.lua <<'LUA'
function answer(a, b) return a * b end
function words(w) return w .. "!" end
config = {volume = 0.5}
LUA
cat >answers_host.lua <<'LUA'
return { scripts = {}, events = {
  {export = "call_real", name = "answer", values = {6, 7}},
  {export = "call_text", name = "words", values = {"hi"}},
  {export = "call_real", name = "on_step", values = {}},
  {export = "last_error"},
  {export = "last_error"},
  {export = "global_set_real", path = "config.volume", value = 0.75},
  {export = "global_text", path = "config.volume"},
  {export = "global_set_text", path = "config.title", value = ""},
  {export = "run", code = "assert(config.title == '')"},
} }
LUA
run answers answers.lua answers_host.lua
expected='state(1)
load(1, "answers.lua")
call_real(1, "answer", list {6, 7})
  gave 42
call_text(1, "words", list {"hi"})
  gave "hi!"
call_real(1, "on_step", list {})
  host_report_error "attempt to call global '"'"'on_step'"'"' (a nil value)"
  gave 0
last_error(1)
  gave "attempt to call global '"'"'on_step'"'"' (a nil value)"
last_error(1)
  gave ""
global_set_real(1, "config.volume", 0.75)
  gave 1
global_text(1, "config.volume")
  gave "0.75"
global_set_text(1, "config.title", "")
  gave 1
run(1, "assert(config.title == '"'"''"'"')")
  gave 1
destroy(1)
ledger: 0 live cells, 0 live host strings, 0 faults
exit status 1: 1 error reported'
[ "$status" = 1 ] && [ "$out" = "$expected" ] || { fail "export calls: status $status"; diff <(echo "$expected") <(echo "$out"); }

# A play function that fails or answers a table: the script goes on with 0, the
# run ends with exit status 3.
cat >calls.lua <<'LUA'
function on_go(x) return broken(x) end
LUA
cat >failing.lua <<'LUA'
return {
  scripts = { {name = "broken", index = 7, play = function(x) if x == 1 then error("no luck") end return {} end} },
  events = { {name = "on_go", values = {1}}, {name = "on_go", values = {""}} },
}
LUA
run failing calls.lua failing.lua
expected='state(1)
script_register(1, "broken", 7)
load(1, "calls.lua")
script_event(1, "on_go", list {1})
  host_execute_script 7, 1 -> HOST script "broken" failed: failing.lua:2: no luck
  verdict 1.0
script_event(1, "on_go", list {""})
  host_execute_script 7, 0 -> HOST script "broken" failed: play returned table, not a number or a text
  verdict 1.0
destroy(1)
ledger: 0 live cells, 0 live host strings, 0 faults
exit status 3: 2 HOST play function(s) failed'
[ "$status" = 3 ] && [ "$out" = "$expected" ] || { fail "failing play: status $status"; diff <(echo "$expected") <(echo "$out"); }

# A HOST that gives the engine a time limit: an event that never returns is stopped
# and reported, and the game goes on to the next event.
cat >spins.lua <<'LUA'
function on_spin(n) if n == 1 then while true do end end return 0 end
LUA
cat >limited.lua <<'LUA'
return { scripts = {}, events = { {name = "on_spin", values = {1}}, {name = "on_spin", values = {2}} }, time_limit = 0.1 }
LUA
run limited spins.lua limited.lua
[ "$status" = 1 ] && [ "$(sed -n 2p <<<"$out")" = "time_limit(1, 0.1)" ] &&
  [ "$(grep -c '^  host_report_error "script ran longer than 0.1 seconds\\nstack traceback:' <<<"$out")" = 1 ] &&
  [ "$(grep -c '^  verdict 1.0$' <<<"$out")" = 2 ] ||
  fail "HOST with a time limit: status $status, output:"$'\n'"$out"

# Paths outside the system's code page: a script and a HOST file whose names and
# folder hold Cyrillic and CJK letters open and run.
mkdir -p "данные_数据"
printf 'function on_go() draw_text(0, 0, "ok") return 0 end\n' >"данные_数据/сценарий_脚本.lua"
printf 'return { scripts = {}, events = { {name = "on_go", values = {}} } }\n' >"данные_数据/хост.lua"
run wide "данные_数据/сценарий_脚本.lua" "данные_数据/хост.lua"
[ "$status" = 0 ] && grep -q '^load(1, "данные_数据/сценарий_脚本.lua")$' <<<"$out" &&
  grep -q '^  host_draw_text 0, 0, "ok"$' <<<"$out" || fail "paths outside the code page: status $status, output:"$'\n'"$out$err"

# A HOST that sandboxes the engine and caps its memory, as a game does for a mod:
# the removed library is missing, the cache that grows for ever is stopped once.
cat >mod.lua <<'LUA'
function on_io() return io == nil and 1 or 0 end  -- 1: verdict 0.0
function on_grow() cache = {} while true do cache[#cache + 1] = {} end end
LUA
cat >modded.lua <<'LUA'
return { scripts = {}, events = { {name = "on_io", values = {}}, {name = "on_grow", values = {}} },
         sandbox = true, memory_limit = 2000000 }
LUA
run modded mod.lua modded.lua
[ "$status" = 1 ] && [ "$(sed -n 2,3p <<<"$out")" = $'sandbox(1)\nmemory_limit(1, 2000000)' ] &&
  [ "$(grep -c '^  host_report_error "not enough memory"$' <<<"$out")" = 1 ] &&
  [ "$(grep -c '^  verdict 0.0$' <<<"$out")" = 1 ] ||
  fail "HOST with a sandbox and a memory limit: status $status, output:"$'\n'"$out"

[ "$failures" = 0 ] && echo "runner: all cases passed"
exit $((failures > 0))
