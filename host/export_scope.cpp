#include "host/export_scope.h"

#include <cstdio>

#include "host/host_contract.h"
#include "host/host_value.h"

namespace {

// Reports the cell exception pending as the export returns, where no Lua code
// runs to take it. A cell routine that raises while the report is made leaves
// nothing more: one report per exception.
void report_cell_exception(uint32_t code) noexcept {
    char text[64];
    std::snprintf(text, sizeof text, HOST_EXCEPTION_FORMAT, static_cast<unsigned>(code));
    {
        HostValue holder(true, 0.0);
        set_text(holder, text);
        HostCallArg record{};
        to_call_arg(holder, &record);
        HostCallArg result{};
        call_host(HOST_REPORT_ERROR, &record, 1, &result);
    }
    g_cell_raised = 0;
}

}  // namespace

// VARNEL_SKIP_FP_SWITCH builds a variant that leaves the host's words in place,
// only to see what they do to Lua. It is never shipped.
#if defined(VARNEL_SKIP_FP_SWITCH)
constexpr bool kSwitch = false;
#else
constexpr bool kSwitch = true;
#endif

ExportScope::ExportScope() noexcept {
    outer_cell_raised_ = g_cell_raised;
    g_cell_raised = 0;
    if (!kSwitch) return;
    side_.host = read_fp_words();
    side_.switched = kSwitch && fp_words_differ(side_.host, kRuntimeWords);
    side_.outer = g_host_side;
    if (side_.switched) switch_fp_words(side_.host, kRuntimeWords);
    g_host_side = &side_;
    // Engine time starts here: an engine's run-time clock starts once the export
    // knows its engine, and runs until the scope closes.
}

ExportScope::~ExportScope() {
    // Engine time ends here: an engine's run-time clock stops before the host's
    // words go back.
    if (g_cell_raised != 0) report_cell_exception(g_cell_raised);
    g_cell_raised = outer_cell_raised_;
    if (!kSwitch) return;
    g_host_side = side_.outer;
    hand_back_fp_words(side_.host);  // whichever unit differs, none of our flags stays
}
