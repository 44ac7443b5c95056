// The six exports of nexlink. Each is stdcall: it removes its own arguments.
// Every export returns what EAX held when the host routine came back; only
// NexAllocateString's value means something.
#pragma once
#include <cstdint>

#if defined(_WIN32)
#define NEX_API __stdcall
// The DLL exports undecorated names; bind to them rather than to name@bytes.
#define NEX_NAME(name) __asm__("_" #name)
#else
#define NEX_API __attribute__((stdcall))
#define NEX_NAME(name) __asm__(#name)
#endif

// A host string variable: null (the empty string) or the first byte of a host string.
typedef const char* HostStringCell;

extern "C" {
HostStringCell* NEX_API NexAllocateString(void) NEX_NAME(NexAllocateString);
uint32_t NEX_API NexCallFunction(uint32_t entry, void* records, int32_t count, void* result) NEX_NAME(NexCallFunction);
uint32_t NEX_API NexClearString(HostStringCell* cell) NEX_NAME(NexClearString);
uint32_t NEX_API NexDeallocateResult(void* record) NEX_NAME(NexDeallocateResult);
uint32_t NEX_API NexDeallocateString(HostStringCell* cell) NEX_NAME(NexDeallocateString);
uint32_t NEX_API NexSetString(const char* text, HostStringCell* cell) NEX_NAME(NexSetString);
}
