#include "host/export_scope.h"

#include "host/host_routines.h"

namespace {

// Reports the cell exception pending as the export returns, where no Lua code
// runs to take it. A cell routine that raises while the report is made leaves
// nothing more: one report per exception.
void report_cell_exception(uint32_t code) noexcept {
    {
        HostValue holder(true, 0.0);
        set_text(holder, host_exception_text(code).text);
        host_report_error(holder);
    }
    g_cell_raised = 0;
}

}  // namespace

ExportScope::ExportScope() noexcept {
    outer_cell_raised_ = g_cell_raised;
    g_cell_raised = 0;
    side_.host = read_fp_words();
    side_.mxcsr_now = false;
    side_.outer = g_host_side;
    watch_fp_traps(side_.record);
    enter_runtime_words(side_.host, false);
    g_host_side = &side_;
}

ExportScope::~ExportScope() {
    if (g_cell_raised != 0) report_cell_exception(g_cell_raised);
    g_cell_raised = outer_cell_raised_;
    g_host_side = side_.outer;
    hand_back_fp_words(side_.host);  // whichever unit differs, none of our flags stays
    unwatch_fp_traps(side_.record);
}
