#include "extension/host_list.h"

int32_t read_list_size(int32_t h) noexcept {
    HostCallArg record = handle_record(h);
    HostCallArg result{};
    call_host(HOST_LIST_SIZE, &record, 1, &result);
    return clamp_to_int32(result.real);
}

void list_done(int32_t h) noexcept {
    HostCallArg record = handle_record(h);
    HostCallArg result{};
    call_host(HOST_LIST_DONE, &record, 1, &result);
}
