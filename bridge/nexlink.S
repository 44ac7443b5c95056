/* nexlink: six stdcall exports that reach routines inside the host process.
 *
 * The host's routines take their first three parameters in EAX, EDX and ECX, any
 * further ones on the stack (pushed in declaration order), and pop their own stack
 * parameters. The host preserves EBX, ESI, EDI and EBP and may clobber EAX, ECX
 * and EDX.
 *
 * The five cell and record exports call their routine through a word of
 * nex_table, never through an address in their code. The table is reached
 * PC-relative (through ECX, which every one of them may clobber), so the library
 * carries no relocations and no imports on either object format. */
#include "bridge/asm_names.h"
#include "bridge/nexlink_table.h"

/* Table word indices. */
#define W_STRING_TYPE 0
#define W_VALUE_TYPE 1
#define W_NEW_CELL 2
#define W_ASSIGN_STRING 3
#define W_CLEAR_STRING 4
#define W_DISPOSE_CELL 5
#define W_FINALIZE_RECORD 6

/* ECX = address of table word w, found relative to the current instruction. */
.macro TABLE_WORD_ADDRESS w
    call 9f
9:  popl %ecx
    addl $(nex_table + 4 * \w - 9b), %ecx
.endm

    RODATA_SECTION
    .p2align 2
nex_table:
    .long STRING_TYPE_DESCRIPTOR
    .long VALUE_TYPE_DESCRIPTOR
    .long HOST_NEW_CELL
    .long HOST_ASSIGN_STRING
    .long HOST_CLEAR_STRING
    .long HOST_DISPOSE_CELL
    .long HOST_FINALIZE_RECORD

    .text

/* NexAllocateString() -> cell
 * In:  no stack arguments.
 * Host: EAX = HOST_STRING_CELL_SIZE, EDX = string type descriptor; host_new_cell.
 * Out: EAX = the new cell (it holds the empty string). Pops 0.
 * Preserves EBX, EDX, ESI, EDI, EBP. Clobbers ECX. */
    .p2align 4
STDCALL_BEGIN NexAllocateString, 0
    pushl %edx
    pushl %ebx
    TABLE_WORD_ADDRESS W_STRING_TYPE
    movl (%ecx), %edx
    movl $HOST_STRING_CELL_SIZE, %eax
    call *(4 * (W_NEW_CELL - W_STRING_TYPE))(%ecx)
    popl %ebx
    popl %edx
    ret
STDCALL_END NexAllocateString, 0

/* NexDeallocateString(cell)
 * In:  [esp+4] = cell.
 * Host: EAX = cell, EDX = string type descriptor; host_dispose_cell.
 * Out: EAX = whatever the host left. Pops 4.
 * Preserves EBX, EDX, ESI, EDI, EBP. Clobbers ECX. */
    .p2align 4
STDCALL_BEGIN NexDeallocateString, 4
    pushl %edx
    TABLE_WORD_ADDRESS W_STRING_TYPE
    movl (%ecx), %edx
    movl 8(%esp), %eax
    call *(4 * (W_DISPOSE_CELL - W_STRING_TYPE))(%ecx)
    popl %edx
    ret $4
STDCALL_END NexDeallocateString, 4

/* NexDeallocateResult(record)
 * In:  [esp+4] = a HostCallArg record.
 * Host: EAX = record, EDX = value type descriptor; host_finalize_record.
 * Out: EAX = whatever the host left. Pops 4.
 * Preserves EBX, EDX, ESI, EDI, EBP. Clobbers ECX. */
    .p2align 4
STDCALL_BEGIN NexDeallocateResult, 4
    pushl %edx
    TABLE_WORD_ADDRESS W_VALUE_TYPE
    movl (%ecx), %edx
    movl 8(%esp), %eax
    call *(4 * (W_FINALIZE_RECORD - W_VALUE_TYPE))(%ecx)
    popl %edx
    ret $4
STDCALL_END NexDeallocateResult, 4

/* NexSetString(text, cell)
 * In:  [esp+4] = text (first byte of a block laid out as a host string),
 *      [esp+8] = cell.
 * Host: EAX = cell, EBX = cell, EDX = text; host_assign_string.
 * Out: EAX = whatever the host left. Pops 8.
 * Preserves EBX, EDX, ESI, EDI, EBP. Clobbers ECX. */
    .p2align 4
STDCALL_BEGIN NexSetString, 8
    pushl %edx
    pushl %ebx
    movl 12(%esp), %edx
    movl 16(%esp), %eax
    movl %eax, %ebx
    TABLE_WORD_ADDRESS W_ASSIGN_STRING
    call *(%ecx)
    popl %ebx
    popl %edx
    ret $8
STDCALL_END NexSetString, 8

/* NexClearString(cell)
 * In:  [esp+4] = cell.
 * Host: EAX = cell; host_clear_string.
 * Out: EAX = whatever the host left. Pops 4.
 * Saves nothing: EDX comes back as the host left it. Clobbers ECX. */
    .p2align 4
STDCALL_BEGIN NexClearString, 4
    movl 4(%esp), %eax
    TABLE_WORD_ADDRESS W_CLEAR_STRING
    call *(%ecx)
    ret $4
STDCALL_END NexClearString, 4

/* NexCallFunction(entry, records, count, result)
 * In:  [esp+4] = entry, [esp+8] = records, [esp+12] = count, [esp+16] = result.
 * Host: ECX = count; stack, top down: return address, result, HOST_CALL_TAG,
 *      records. EAX and EDX reach the routine as our caller had them. The routine
 *      pops its three stack parameters.
 * Out: EAX = whatever the routine left. Pops 16.
 * Preserves EBX, ECX, ESI, EDI, EBP. EDX comes back as the routine left it. */
    .p2align 4
STDCALL_BEGIN NexCallFunction, 16
    pushl %ebp
    movl %esp, %ebp
    pushl %ecx
    movl 16(%ebp), %ecx
    pushl 12(%ebp)
    pushl $HOST_CALL_TAG
    pushl 20(%ebp)
    call *8(%ebp)
    movl -4(%ebp), %ecx
    movl %ebp, %esp
    popl %ebp
    ret $16
STDCALL_END NexCallFunction, 16

#if defined(_WIN32)
/* DllEntryPoint(instance, reason, reserved) -> TRUE for every reason. Pops 12. */
    .p2align 4
STDCALL_BEGIN NexEntryPoint, 12
    movl $1, %eax
    ret $12
#endif

STACK_NOTE
