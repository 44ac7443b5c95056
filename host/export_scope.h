// ExportScope: what every export does first and last. It runs the export's work,
// and all Lua code in it, with the runtime's floating-point words whatever the
// host's are, and gives the host back exactly its own words when it returns,
// with no exception flag of ours left pending. Host routines called meanwhile get
// the host's words back for their run (host/host_call.h). A cell routine's
// exception that no Lua code took is reported as the scope closes.
//
// An export opens the scope before it touches a floating-point argument and does
// its work in a function it calls afterwards (VARNEL_EXPORT_WORK), so that no
// floating-point instruction runs under the host's words.
//
// The scope knows no engine: an engine's run clock starts and stops where Lua is
// entered (extension/engine/lua_entry.cpp), inside the scope.
#pragma once

#include "host/host_call.h"

// Exports are entered with the stack aligned to 4 bytes only: realign it.
#define VARNEL_ENTRY __attribute__((force_align_arg_pointer))
// An export's work, kept out of line so that none of it moves above the scope.
#define VARNEL_EXPORT_WORK __attribute__((noinline))

class ExportScope {
public:
    ExportScope() noexcept;
    ~ExportScope();

    ExportScope(const ExportScope&) = delete;
    ExportScope& operator=(const ExportScope&) = delete;

private:
    HostSide side_;
    uint32_t outer_cell_raised_;  // the outer export's pending cell exception

};
