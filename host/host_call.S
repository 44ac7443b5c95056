/* host_guarded: one host routine run inside a structured exception frame on
 * Windows; the same call without the frame elsewhere, where nothing the host's
 * code raises can be caught. */
#include "bridge/asm_names.h"

/* Frame of host_guarded, from EBP. On Windows the last three words are the
 * exception registration record that FS:[0] points to while the routine runs. */
#define A_ROUTINE 8
#define A_EAX 12
#define A_WORDS 16          /* four argument words, the first at the lowest address */
#define F_EBX (-4)
#define F_ESI (-8)
#define F_EDI (-12)
#define F_RECORD (-24)      /* next record, handler, our EBP (for the handler) */
#define R_NEXT 0
#define R_EBP 8
#define EXCEPTION_UNWIND_FLAGS 6    /* EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND */
#define EXCEPTION_CONTINUE_SEARCH 1

    .text

/* host_guarded(routine, eax_out, a0, a1, a2, a3) -> 0 or an exception code
 * In:  cdecl; [esp+4] = routine, a stdcall routine of up to four word arguments
 *      (one of nexlink's); [esp+8] = where the routine's EAX goes;
 *      [esp+12..24] = the argument words a0..a3, of which the routine reads as
 *      many as it takes (the rest lie unread above them and are dropped).
 * Out: EAX = 0 when the routine returned, its EAX stored at eax_out; or the code
 *      of the exception that was raised inside it, eax_out untouched, the host's
 *      frames unwound by RtlUnwind and their handlers run. Pops 0.
 * Preserves EBX, ESI, EDI, EBP. Clobbers ECX, EDX. FS:[0] is as it came in. */
    .p2align 4
CDECL_BEGIN host_guarded
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
#if defined(_WIN32)
    pushl %ebp                      /* record: our EBP */
    pushl $guard_handler            /* record: handler */
    pushl %fs:0                     /* record: next */
    movl %esp, %fs:0
#else
    subl $12, %esp                  /* the same frame, for the same offsets */
#endif
    pushl A_WORDS+12(%ebp)
    pushl A_WORDS+8(%ebp)
    pushl A_WORDS+4(%ebp)
    pushl A_WORDS(%ebp)
    call *A_ROUTINE(%ebp)           /* stdcall: pops what it takes */
    movl A_EAX(%ebp), %ecx
    movl %eax, (%ecx)
    xorl %eax, %eax
guard_resume:                       /* EBP = our frame, EAX = the result */
#if defined(_WIN32)
    movl F_RECORD+R_NEXT(%ebp), %ecx
    movl %ecx, %fs:0
#endif
    leal F_EDI(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
CDECL_END host_guarded

#if defined(_WIN32)
/* guard_handler(exception_record, registration, context, dispatcher) -> disposition
 * In:  cdecl, called by the system's exception dispatcher.
 * Out: during an unwind, EAX = EXCEPTION_CONTINUE_SEARCH (nothing to clean up).
 *      Otherwise does not return: unwinds every frame above the registration
 *      (RtlUnwind, stdcall, pops 16) and resumes in host_guarded with
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
