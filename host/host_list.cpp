#include "host/host_list.h"

int32_t read_list_size(int32_t h, uint32_t* raised) noexcept {
    HostCallArg record = handle_record(h);
    HostCallArg result{};
    *raised = call_host(HOST_LIST_SIZE, &record, 1, &result);
    return *raised != 0 ? 0 : clamp_to_int32(result.real);
}

uint32_t list_done(int32_t h) noexcept {
    HostCallArg record = handle_record(h);
    HostCallArg result{};
    return call_host(HOST_LIST_DONE, &record, 1, &result);
}
