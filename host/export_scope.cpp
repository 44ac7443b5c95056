#include "host/export_scope.h"

// VARNEL_SKIP_FP_SWITCH builds a variant that leaves the host's words in place,
// only to see what they do to Lua. It is never shipped.
#if defined(VARNEL_SKIP_FP_SWITCH)
constexpr bool kSwitch = false;
#else
constexpr bool kSwitch = true;
#endif

ExportScope::ExportScope() noexcept {
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
    if (!kSwitch) return;
    g_host_side = side_.outer;
    if (side_.switched) switch_fp_words(kRuntimeWords, side_.host);  // clears our x87 flags first
}
