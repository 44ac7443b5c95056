/* The stand-in's side of an export call, and host code: a division by zero, and
 * (Windows) a frame with a cleanup handler. */
#include "bridge/asm_names.h"
#include "standin/export_call.h"

    .text

/* standin_call_export(call)
 * In:  cdecl; [esp+4] = an ExportCall record (standin/export_call.h).
 * Does: saves the caller's words, copies the argument words to a stack whose ESP
 *      at the call is 16k + skew, clears the x87 flags and loads the host's words,
 *      calls the export; then stores EAX, MXCSR, the x87 environment (control,
 *      status, tags), the ESP delta and ST0 in the record (the result of a
 *      double export; for a text export, whose result is EAX, the tags tell the
 *      caller that ST0 was empty and what was stored means nothing), empties the
 *      x87 stack and puts the caller's words back.
 * Out: nothing in registers. Pops 0. Preserves EBX, ESI, EDI, EBP. */
    .p2align 4
CDECL_BEGIN standin_call_export
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 8(%ebp), %ebx
    movl $0, EC_OWN_X87(%ebx)
    fnstcw EC_OWN_X87(%ebx)
    stmxcsr EC_OWN_MXCSR(%ebx)
    movl EC_WORDS(%ebx), %ecx
    leal (,%ecx,4), %eax
    movl %esp, %edx
    subl %eax, %edx
    subl $32, %edx
    andl $-16, %edx
    addl EC_SKEW(%ebx), %edx
    movl %edx, %esp
    movl EC_ARGS(%ebx), %esi
    movl %esp, %edi
    cld
    rep movsl
    movl %esp, %edi                 /* kept by the export (cdecl) */
    movl %esp, EC_ESP_AT_CALL(%ebx)
    fnclex
    fldcw EC_HOST_X87(%ebx)
    ldmxcsr EC_HOST_MXCSR(%ebx)
    call *EC_FN(%ebx)
    movl %eax, EC_EAX(%ebx)
    stmxcsr EC_MXCSR_AFTER(%ebx)
    fnstenv EC_ENV(%ebx)            /* then masks every x87 exception */
    movl %esp, %eax
    subl %edi, %eax
    movl %eax, EC_ESP_DELTA(%ebx)
    fstpl EC_RESULT(%ebx)
    fninit
    fldcw EC_OWN_X87(%ebx)
    ldmxcsr EC_OWN_MXCSR(%ebx)
    leal -12(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
CDECL_END standin_call_export

/* standin_divide_by_zero(x87, mxcsr, sse)
 * In:  cdecl; [esp+4] = x87 control word, [esp+8] = MXCSR, [esp+12] = nonzero for
 *      SSE2, zero for the x87.
 * Does: loads the words and divides 1 by 0; with zero-divide unmasked this
 *      faults here (the x87 at the fwait). Otherwise clears the flags and puts
 *      back the words it found.
 * Out: nothing. Pops 0. Preserves EBX, ESI, EDI, EBP. Clobbers EAX, ECX, EDX. */
    .p2align 4
CDECL_BEGIN standin_divide_by_zero
    subl $16, %esp
    fnstcw (%esp)
    stmxcsr 4(%esp)
    fldcw 20(%esp)
    ldmxcsr 24(%esp)
    cmpl $0, 28(%esp)
    jne 1f
    movl $0, 8(%esp)
    movl $0, 12(%esp)
    fld1
    fdivl 8(%esp)                   /* 1 / 0 */
    fwait
    fstp %st(0)
    jmp 2f
1:  movl $1, 8(%esp)
    cvtsi2sd 8(%esp), %xmm0
    xorpd %xmm1, %xmm1
    divsd %xmm1, %xmm0
2:  fnclex
    fldcw (%esp)
    ldmxcsr 4(%esp)
    addl $16, %esp
    ret
CDECL_END standin_divide_by_zero

#if defined(_WIN32)
/* standin_with_cleanup(fn, unwound)
 * In:  cdecl; [esp+4] = a cdecl function of no arguments, [esp+8] = an int.
 * Does: calls fn inside a structured exception frame whose handler takes no
 *      exception but, when the system unwinds the frame, adds 1 to *unwound: a
 *      host frame with cleanup to do.
 * Out: nothing. Pops 0. Preserves EBX, ESI, EDI, EBP; FS:[0] as it came in. */
    .p2align 4
CDECL_BEGIN standin_with_cleanup
    pushl %ebp
    movl %esp, %ebp
    pushl 12(%ebp)                  /* record: the counter */
    pushl $cleanup_handler          /* record: handler */
    pushl %fs:0                     /* record: next */
    movl %esp, %fs:0
    call *8(%ebp)
    movl (%esp), %ecx
    movl %ecx, %fs:0
    movl %ebp, %esp
    popl %ebp
    ret
CDECL_END standin_with_cleanup

/* cleanup_handler(exception_record, registration, context, dispatcher)
 * In:  cdecl, from the system. Out: EAX = 1 (continue the search or the unwind);
 *      during an unwind, first adds 1 to the counter kept in the registration. */
    .p2align 4
cleanup_handler:
    movl 4(%esp), %eax
    testl $6, 4(%eax)               /* EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND */
    jz 1f
    movl 8(%esp), %edx
    movl 8(%edx), %edx
    addl $1, (%edx)
1:  movl $1, %eax
    ret
#endif

STACK_NOTE
