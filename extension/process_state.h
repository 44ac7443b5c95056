// The process-wide state of varnel, all of it, with where it lives and why it
// exists. Everything else hangs off an engine (engine/engine_registry.h). Nothing
// here is declared: each variable stays private to the file named, and a new
// one is added to this list. All of it is used from the host's one thread.
//
// extension/
//   g_states          engine/engine_registry.cpp  The engines by id: the host names an
//                                                 engine by id from one export to the next.
//   g_scripts         engine/script_registry.cpp  Host script indices by name, shared by
//                                                 all engines, as the host registers them.
//   g_remembered      engine/script_registry.cpp  Speed cache: the entry found per Lua
//                                                 string, so a forwarder call skips the
//                                                 search (1,182 against 1,375 instructions).
//   g_pending         engine/pending_cells.cpp    Host cells whose text is being pushed: a
//                                                 raise skips every C++ frame, so no frame
//                                                 can own them.
//   g_armed           engine/job_runner.cpp       The job the next runner call may take, set
//                                                 just around lua_pcall.
//   g_run_clock       limits/run_clock.cpp        The clock Lua code is charged to now: the
//                                                 count hook and xpcall's guard read it.
//   g_since, g_limits, g_host_depth, g_host_saved
//                     limits/run_clock.cpp        When the current clock started, how many
//                                                 engines have a limit, and the clocks put
//                                                 aside by host routine calls under way.
//   g_holding         exports/list_call.cpp       One call by name holds its function
//                                                 outside protected mode at a time: the
//                                                 stack has one spare slot for it.
//   g_buffer, g_capacity
//                     exports/text_result.cpp     The text a text export returns: it must
//                                                 outlive the export, until the game has
//                                                 copied it (the next text export reuses it).
//   set_mode          limits/engine_jit.cpp       luaJIT_setmode, looked up once (a
//                                                 function-local static).
//   Registry keys     engine/error_trace.cpp      g_handler_key, g_describe_key,
//                     limits/coroutine_watch.cpp  g_traceback_key, g_coroutines_key: bytes
//                                                 whose addresses are keys, never written.
//
// host/ (nothing there includes extension/)
//   g_host_side       host/host_call.cpp          The innermost export's view of the host's
//                                                 floating-point words (host/export_scope.h).
//   g_words_on_demand host/fp_trap.cpp            Whether the engine beside varnel loads the
//                                                 x87 word itself and meets no trap first, so
//                                                 that neither unit is switched at the
//                                                 boundary: asked once at load, never written.
//   g_cell_raised     host/host_call.cpp          An exception a cell or record routine
//                                                 raised, held until Lua code or the export's
//                                                 end can take it: those routines are called
//                                                 where no code path returns a status.
#pragma once
