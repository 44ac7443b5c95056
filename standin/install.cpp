// Puts the stand-in's routines at the host's entry addresses.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bridge/nexlink_table.h"
#include "host/host_contract.h"
#include "standin/standin.h"

extern "C" {
void standin_stub_new_cell();
void standin_stub_assign_string();
void standin_stub_clear_string();
void standin_stub_dispose_cell();
void standin_stub_finalize_record();
void standin_stub_execute_script();
void standin_stub_list_size();
void standin_stub_list_get();
void standin_stub_list_done();
void standin_stub_report_error();
void standin_stub_draw_text();
}

#if defined(_WIN32)

extern "C" char standin_image_text[];

namespace standin {

void install() {
    // The linker placed the routines; a program linked elsewhere would call garbage.
    if (reinterpret_cast<uintptr_t>(standin_image_text) != 0x00401000) {
        std::fprintf(stderr, "stand-in: routines are at %p, not at 0x00401000: link at 0x00400000 "
                             "with the routines' object first\n", static_cast<void*>(standin_image_text));
        std::abort();
    }
}

}  // namespace standin

#else
#include <sys/mman.h>

namespace standin {

void install() {
    static bool done = false;
    if (done) return;
    struct Entry {
        uint32_t address;
        void (*stub)();
    };
    static const Entry kEntries[] = {
        {HOST_NEW_CELL, standin_stub_new_cell},           {HOST_ASSIGN_STRING, standin_stub_assign_string},
        {HOST_CLEAR_STRING, standin_stub_clear_string},   {HOST_DISPOSE_CELL, standin_stub_dispose_cell},
        {HOST_FINALIZE_RECORD, standin_stub_finalize_record},
        {HOST_EXECUTE_SCRIPT, standin_stub_execute_script}, {HOST_LIST_SIZE, standin_stub_list_size},
        {HOST_LIST_GET, standin_stub_list_get},           {HOST_LIST_DONE, standin_stub_list_done},
        {HOST_REPORT_ERROR, standin_stub_report_error},   {HOST_DRAW_TEXT, standin_stub_draw_text},
    };
    const uintptr_t first = 0x00401000, last = 0x0057B000;
    void* at = mmap(reinterpret_cast<void*>(first), last - first, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (at != reinterpret_cast<void*>(first)) {
        std::perror("stand-in: cannot map the host's addresses");
        std::abort();
    }
    std::memset(at, 0xCC, last - first);
    for (const Entry& e : kEntries) {
        // jmp rel32 to the stub
        unsigned char* p = reinterpret_cast<unsigned char*>(static_cast<uintptr_t>(e.address));
        uint32_t rel = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(e.stub)) - (e.address + 5);
        p[0] = 0xE9;
        std::memcpy(p + 1, &rel, 4);
    }
    if (mprotect(at, last - first, PROT_READ | PROT_EXEC) != 0) {
        std::perror("stand-in: mprotect");
        std::abort();
    }
    done = true;
}

}  // namespace standin
#endif
