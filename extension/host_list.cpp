#include "extension/host_list.h"

#include <cmath>

#include "host/host_contract.h"

namespace {

// One argument record holding the list handle.
HostCallArg handle_record(int32_t h) noexcept {
    HostCallArg record{};
    record.kind = HOST_KIND_NUMBER;
    record.real = h;
    return record;
}

}  // namespace

bool list_handle_of(double handle, int32_t* out) noexcept {
    if (!(handle > -2147483649.0 && handle < 2147483648.0)) return false;  // NaN fails too
    *out = static_cast<int32_t>(handle);
    return true;
}

int32_t clamp_to_int32(double x) noexcept {
    if (std::isnan(x)) return 0;
    if (x >= 2147483647.0) return INT32_MAX;
    if (x <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(x);
}

int32_t read_list_size(int32_t h) noexcept {
    HostCallArg record = handle_record(h);
    HostCallArg result{};
    call_host(HOST_LIST_SIZE, &record, 1, &result);
    return clamp_to_int32(result.real);
}

void read_list_entry(int32_t h, const HostValue& position, HostValue& value) noexcept {
    HostCallArg records[2] = {handle_record(h), HostCallArg{}};
    to_call_arg(position, &records[1]);
    HostCallArg result{};
    call_host(HOST_LIST_GET, records, 2, &result);
    assign_from_result(value, result);
    NexDeallocateResult(&result);
}

void list_done(int32_t h) noexcept {
    HostCallArg record = handle_record(h);
    HostCallArg result{};
    call_host(HOST_LIST_DONE, &record, 1, &result);
}
