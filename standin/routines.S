/* The stand-in's routines, in the host's register convention.
 *
 * Each stub is entered as the host's routine would be: parameters in EAX, EDX, ECX
 * and on the stack. It saves the x87 control word, MXCSR and EAX..EBP as a
 * Registers record (see standin.h), loads standin_runtime_words, calls
 * standin_dispatch(id, &registers) (cdecl), and returns with:
 *   the x87 control word and MXCSR of the record (the host's, unless a host script
 *   changed them), the x87 exception flags clear;
 *   EAX = what standin_dispatch returned;
 *   ECX = POISON_ECX, EDX = POISON_EDX (the host does not preserve them);
 *   EBX, ESI, EDI, EBP as they came in;
 *   its stack parameters popped (12 bytes for built-ins, none for cell routines).
 *
 * On Windows the program is linked at 0x00400000 and this file's .init section
 * comes first in .text, at 0x00401000; .org puts a jump to each stub at the host's
 * exact address. On Linux the stand-in maps those addresses at run time. */
#include "bridge/asm_names.h"
#include "bridge/nexlink_table.h"
#include "host/host_contract.h"
#include "standin/routine_ids.h"

.macro STUB name, id, pop
    .p2align 4
CDECL_BEGIN standin_stub_\name
    pushl %ebp
    pushl %edi
    pushl %esi
    pushl %edx
    pushl %ecx
    pushl %ebx
    pushl %eax
    subl $8, %esp               /* the host's words, as they came in */
    movl $0, (%esp)
    fnstcw (%esp)
    stmxcsr 4(%esp)
    movl %esp, %esi             /* ESI = the Registers record, kept across the call */
    fnclex                      /* the stand-in's own code runs with the runtime's words */
    fldcw CSYM(standin_runtime_words)
    ldmxcsr CSYM(standin_runtime_words)+4
    andl $-16, %esp
    subl $8, %esp
    pushl %esi
    pushl $\id
    call CSYM(standin_dispatch)
    movl %esi, %esp
    fnclex                      /* the host's words back, as the record now holds them */
    fldcw (%esp)
    ldmxcsr 4(%esp)
    addl $12, %esp              /* the words, and the EAX slot: the result replaces it */
    popl %ebx
    addl $8, %esp               /* ECX, EDX slots */
    popl %esi
    popl %edi
    popl %ebp
    movl $POISON_ECX, %ecx
    movl $POISON_EDX, %edx
    .if \pop
    ret $\pop
    .else
    ret
    .endif
CDECL_END standin_stub_\name
.endm

#if defined(_WIN32)
#define IMAGE_TEXT 0x00401000
    .section .init,"xr"
CDECL_BEGIN standin_image_text
    .org HOST_CLEAR_STRING - IMAGE_TEXT, 0xCC
    jmp CSYM(standin_stub_clear_string)
    .org HOST_ASSIGN_STRING - IMAGE_TEXT, 0xCC
    jmp CSYM(standin_stub_assign_string)
    .org HOST_FINALIZE_RECORD - IMAGE_TEXT, 0xCC
    jmp CSYM(standin_stub_finalize_record)
    .org HOST_NEW_CELL - IMAGE_TEXT, 0xCC
    jmp CSYM(standin_stub_new_cell)
    .org HOST_DISPOSE_CELL - IMAGE_TEXT, 0xCC
    jmp CSYM(standin_stub_dispose_cell)
    .org HOST_DRAW_TEXT - IMAGE_TEXT, 0xCC
    jmp CSYM(standin_stub_draw_text)
    .org HOST_REPORT_ERROR - IMAGE_TEXT, 0xCC
    jmp CSYM(standin_stub_report_error)
    .org HOST_EXECUTE_SCRIPT - IMAGE_TEXT, 0xCC
    jmp CSYM(standin_stub_execute_script)
    .org HOST_LIST_DONE - IMAGE_TEXT, 0xCC
    jmp CSYM(standin_stub_list_done)
    .org HOST_LIST_SIZE - IMAGE_TEXT, 0xCC
    jmp CSYM(standin_stub_list_size)
    .org HOST_LIST_GET - IMAGE_TEXT, 0xCC
    jmp CSYM(standin_stub_list_get)
#else
    .text
#endif

    STUB new_cell, R_NEW_CELL, 0
    STUB assign_string, R_ASSIGN_STRING, 0
    STUB clear_string, R_CLEAR_STRING, 0
    STUB dispose_cell, R_DISPOSE_CELL, 0
    STUB finalize_record, R_FINALIZE_RECORD, 0
    STUB execute_script, R_EXECUTE_SCRIPT, 12
    STUB list_size, R_LIST_SIZE, 12
    STUB list_get, R_LIST_GET, 12
    STUB list_done, R_LIST_DONE, 12
    STUB report_error, R_REPORT_ERROR, 12
    STUB draw_text, R_DRAW_TEXT, 12

STACK_NOTE
