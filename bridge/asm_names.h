/* Symbol naming per object format, for the assembly sources.
 *   PE (32-bit Windows): C names carry a leading underscore; stdcall names also
 *   carry @<bytes of arguments>.
 *   ELF: plain names with .type and .size, and a non-executable stack note.
 *
 *   STDCALL_BEGIN name, bytes / STDCALL_END name, bytes   a stdcall routine
 *   CDECL_BEGIN name / CDECL_END name                     a cdecl routine
 *   CSYM(name)                                            a C symbol, to call */
#ifndef ASM_NAMES_H
#define ASM_NAMES_H

#if defined(_WIN32)
#define CSYM(name) _##name
#define RODATA_SECTION .section .rdata,"dr"
#define STACK_NOTE

.macro STDCALL_BEGIN name, bytes
    .globl _\name\()@\bytes
    .def _\name\()@\bytes; .scl 2; .type 32; .endef
_\name\()@\bytes:
.endm
.macro STDCALL_END name, bytes
.endm
.macro CDECL_BEGIN name
    .globl _\name
    .def _\name; .scl 2; .type 32; .endef
_\name:
.endm
.macro CDECL_END name
.endm

#else
#define CSYM(name) name
#define RODATA_SECTION .section .rodata
#define STACK_NOTE .section .note.GNU-stack,"",@progbits

.macro STDCALL_BEGIN name, bytes
    .globl \name
    .type \name, @function
\name:
.endm
.macro STDCALL_END name, bytes
    .size \name, . - \name
.endm
.macro CDECL_BEGIN name
    .globl \name
    .type \name, @function
\name:
.endm
.macro CDECL_END name
    .size \name, . - \name
.endm
#endif

#endif
