#include "host/export_scope.h"

ExportScope::ExportScope() noexcept {
    side_.host = read_fp_words();
    side_.switched = fp_words_differ(side_.host, kRuntimeWords);
    side_.outer = g_host_side;
    if (side_.switched) switch_fp_words(side_.host, kRuntimeWords);
    g_host_side = &side_;
}

ExportScope::~ExportScope() {
    g_host_side = side_.outer;
    if (side_.switched) switch_fp_words(kRuntimeWords, side_.host);  // clears our x87 flags first
}
