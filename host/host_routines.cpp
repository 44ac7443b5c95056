#include "host/host_routines.h"

uint32_t host_execute_script(const HostValue& index, int argc, const HostValue* args, HostValue& result,
                             HostCallArg* records) noexcept {
    const int n = argc + 1;
    to_call_arg(index, &records[0]);  // each record is zero-filled as it is made
    for (int i = 1; i <= argc; ++i) to_call_arg(args[i - 1], &records[i]);
    HostCallArg result_record{};
    const uint32_t raised = call_host(HOST_EXECUTE_SCRIPT, records, n, &result_record);
    assign_from_result(result, result_record);
    host_finalize_result(&result_record);
    return raised;
}

uint32_t host_list_size(int32_t h, int32_t* size) noexcept {
    HostCallArg record = handle_record(h);
    HostCallArg result{};
    const uint32_t raised = call_host(HOST_LIST_SIZE, &record, 1, &result);
    *size = raised != 0 ? 0 : clamp_to_int32(result.real);
    return raised;
}

uint32_t host_list_done(int32_t h) noexcept {
    HostCallArg record = handle_record(h);
    HostCallArg result{};
    return call_host(HOST_LIST_DONE, &record, 1, &result);
}

uint32_t host_report_error(const HostValue& holder) noexcept {
    HostCallArg record{};
    to_call_arg(holder, &record);
    HostCallArg result{};
    return call_host(HOST_REPORT_ERROR, &record, 1, &result);
}

uint32_t host_draw_text(double x, double y, const char* text) noexcept {
    HostCallArg records[3] = {};
    records[0].kind = HOST_KIND_NUMBER;
    records[0].real = x;
    records[1].kind = HOST_KIND_NUMBER;
    records[1].real = y;
    HostValue holder(true, 0.0);
    if (text) set_text(holder, text);
    if (g_cell_raised != 0) return 0;  // the text's cell raised: no call
    to_call_arg(holder, &records[2]);
    HostCallArg result{};
    return call_host(HOST_DRAW_TEXT, records, 3, &result);
}
