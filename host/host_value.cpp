#include "host/host_value.h"

#include <cstdlib>
#include <cstring>

#include "host/host_contract.h"

namespace {

// Texts up to this size (header, bytes and NUL) are laid out on the C stack.
constexpr std::size_t kStackBlock = 256;

// Writes the host string layout at block: reference count, length, bytes, NUL.
// Returns the address of the first byte, which is what the host is given.
const char* lay_out_text(char* block, const char* text, std::size_t n) noexcept {
    const int32_t refcount = HOST_STRING_LITERAL_REFCOUNT;
    const int32_t length = static_cast<int32_t>(n);
    std::memcpy(block, &refcount, sizeof refcount);
    std::memcpy(block + sizeof refcount, &length, sizeof length);
    char* bytes = block + HOST_STRING_HEADER;
    std::memcpy(bytes, text, n);
    bytes[n] = '\0';
    return bytes;
}

}  // namespace

static_assert(HOST_STRING_HEADER == 2 * sizeof(int32_t), "count and length head the block");

void set_text(HostValue& holder, const char* text) noexcept {
    if (!holder.cell) holder.cell = host_new_cell();
    if (!holder.cell) return;
    const std::size_t n = std::strlen(text);
    const std::size_t size = n + HOST_STRING_HEADER + 1;
    if (size <= kStackBlock) {
        alignas(int32_t) char block[kStackBlock];
        host_set_string(lay_out_text(block, text, n), holder.cell);
        return;
    }
    // The length field is 32 bits wide; a longer text is treated like a failed allocation.
    char* block = n <= INT32_MAX - HOST_STRING_HEADER - 1
                      ? static_cast<char*>(std::malloc(size))
                      : nullptr;
    if (!block) {
        host_clear_string(holder.cell);
        return;
    }
    host_set_string(lay_out_text(block, text, n), holder.cell);
    std::free(block);
}

void assign_through_cell(HostValue& holder, const HostCallArg& record) noexcept {
    if (record.kind == HOST_KIND_TEXT) {
        if (!holder.is_string) {
            holder.is_string = true;
            holder.real = 0.0;
        }
        if (record.text)
            set_text(holder, record.text);
        else if (holder.cell)
            host_clear_string(holder.cell);
        return;
    }
    const double r = record.real;
    if (holder.is_string) {
        if (holder.cell) host_clear_string(holder.cell);  // the cell stays for later use
        holder.is_string = false;
    }
    holder.real = r;
}
