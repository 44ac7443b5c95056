/* host_guarded_call: a host routine run inside a structured exception frame.
 * Windows only; the Linux build has a plain C++ version (host_call.cpp). */
#include "bridge/asm_names.h"

#if defined(_WIN32)
/* Frame of host_guarded_call, from EBP. The last three words are the exception
 * registration record that FS:[0] points to while the routine runs. */
#define F_EBX (-4)
#define F_ESI (-8)
#define F_EDI (-12)
#define F_RECORD (-24)      /* next record, handler, our EBP (for the handler) */
#define R_NEXT 0
#define R_EBP 8
#define EXCEPTION_UNWIND_FLAGS 6    /* EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND */
#define EXCEPTION_CONTINUE_SEARCH 1

    .text

/* host_guarded_call(entry, records, count, result) -> 0 or an exception code
 * In:  cdecl; [esp+4] = entry, [esp+8] = records, [esp+12] = count,
 *      [esp+16] = result: NexCallFunction's arguments.
 * Out: EAX = 0 when the routine returned, or the code of the exception that was
 *      raised inside it; the host's frames were then unwound by RtlUnwind, their
 *      handlers run. Pops 0.
 * Preserves EBX, ESI, EDI, EBP. Clobbers ECX, EDX. FS:[0] is as it came in. */
    .p2align 4
CDECL_BEGIN host_guarded_call
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    pushl %ebp                      /* record: our EBP */
    pushl $guard_handler            /* record: handler */
    pushl %fs:0                     /* record: next */
    movl %esp, %fs:0
    pushl 20(%ebp)
    pushl 16(%ebp)
    pushl 12(%ebp)
    pushl 8(%ebp)
    call CSYM(NexCallFunction)      /* stdcall: pops 16 */
    xorl %eax, %eax
guard_resume:                       /* EBP = our frame, EAX = the result */
    movl F_RECORD+R_NEXT(%ebp), %ecx
    movl %ecx, %fs:0
    leal F_EDI(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
CDECL_END host_guarded_call

/* guard_handler(exception_record, registration, context, dispatcher) -> disposition
 * In:  cdecl, called by the system's exception dispatcher.
 * Out: during an unwind, EAX = EXCEPTION_CONTINUE_SEARCH (nothing to clean up).
 *      Otherwise does not return: unwinds every frame above the registration
 *      (RtlUnwind, stdcall, pops 16) and resumes in host_guarded_call with
 *      EAX = the exception code. */
    .p2align 4
guard_handler:
    movl 4(%esp), %eax              /* EXCEPTION_RECORD: code at +0, flags at +4 */
    testl $EXCEPTION_UNWIND_FLAGS, 4(%eax)
    jnz 1f
    movl 8(%esp), %edx              /* our registration record */
    pushl $0
    pushl %eax
    pushl $2f
    pushl %edx
    call _RtlUnwind@16
2:  movl 4(%esp), %eax
    movl (%eax), %eax               /* the exception code */
    movl 8(%esp), %edx
    movl R_EBP(%edx), %ebp
    jmp guard_resume
1:  movl $EXCEPTION_CONTINUE_SEARCH, %eax
    ret
#endif

STACK_NOTE
