/* Register-level test helpers (see probe.h for the C view). */
#include "bridge/asm_names.h"

#define P_TARGET 0
#define P_NARGS 4
#define P_ARGS 8
#define P_IN 24
#define P_OUT 52
#define P_ESP_DELTA 80

    .data
    .p2align 2
probe_current:   .long 0
probe_saved_esp: .long 0
probe_target:    .long 0
probe_eax:       .long 0
    .globl CSYM(probe_seen)
CSYM(probe_seen): .fill 11, 4, 0

    .text
/* probe_call(Probe* p), cdecl.
 * Pushes p->args (last first), loads EAX..EBP from p->in, calls p->target, stores
 * EAX..EBP in p->out and the stack pointer's movement in p->esp_delta.
 * Preserves EBX, ESI, EDI, EBP for its own caller whatever the target does. */
    .p2align 4
CDECL_BEGIN probe_call
    pushl %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 20(%esp), %eax
    movl %eax, probe_current
    movl %esp, probe_saved_esp
    movl P_NARGS(%eax), %ecx
1:  testl %ecx, %ecx
    jz 2f
    pushl (P_ARGS - 4)(%eax,%ecx,4)
    decl %ecx
    jmp 1b
2:  movl P_TARGET(%eax), %ecx
    movl %ecx, probe_target
    movl (P_IN + 4)(%eax), %ebx
    movl (P_IN + 8)(%eax), %ecx
    movl (P_IN + 12)(%eax), %edx
    movl (P_IN + 16)(%eax), %esi
    movl (P_IN + 20)(%eax), %edi
    movl (P_IN + 24)(%eax), %ebp
    movl P_IN(%eax), %eax
    call *probe_target
    movl %eax, probe_eax
    movl probe_current, %eax
    movl %ebx, (P_OUT + 4)(%eax)
    movl %ecx, (P_OUT + 8)(%eax)
    movl %edx, (P_OUT + 12)(%eax)
    movl %esi, (P_OUT + 16)(%eax)
    movl %edi, (P_OUT + 20)(%eax)
    movl %ebp, (P_OUT + 24)(%eax)
    movl probe_eax, %ebx
    movl %ebx, P_OUT(%eax)
    movl %esp, %ebx
    subl probe_saved_esp, %ebx
    movl %ebx, P_ESP_DELTA(%eax)
    movl probe_saved_esp, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
CDECL_END probe_call

/* probe_routine: a host built-in routine that only looks.
 * In:  any registers; stack: return address, then three parameters.
 * Out: EAX = PROBE_ROUTINE_RESULT; ECX, EDX clobbered; pops 12. */
    .p2align 4
CDECL_BEGIN probe_routine
    movl %eax, CSYM(probe_seen)
    movl %ebx, CSYM(probe_seen) + 4
    movl %ecx, CSYM(probe_seen) + 8
    movl %edx, CSYM(probe_seen) + 12
    movl %esi, CSYM(probe_seen) + 16
    movl %edi, CSYM(probe_seen) + 20
    movl %ebp, CSYM(probe_seen) + 24
    movl (%esp), %eax
    movl %eax, CSYM(probe_seen) + 28
    movl 4(%esp), %eax
    movl %eax, CSYM(probe_seen) + 32
    movl 8(%esp), %eax
    movl %eax, CSYM(probe_seen) + 36
    movl 12(%esp), %eax
    movl %eax, CSYM(probe_seen) + 40
    movl $0x5EED5EED, %eax
    movl $0x0BAD0C0C, %ecx
    movl $0x0BAD0D0D, %edx
    ret $12
CDECL_END probe_routine

STACK_NOTE
