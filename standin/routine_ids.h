/* Numbers of the stand-in's routines, shared by its assembly stubs and its C++. */
#ifndef STANDIN_ROUTINE_IDS_H
#define STANDIN_ROUTINE_IDS_H

#define R_NEW_CELL 0
#define R_ASSIGN_STRING 1
#define R_CLEAR_STRING 2
#define R_DISPOSE_CELL 3
#define R_FINALIZE_RECORD 4
#define R_EXECUTE_SCRIPT 5
#define R_LIST_SIZE 6
#define R_LIST_GET 7
#define R_LIST_DONE 8
#define R_REPORT_ERROR 9
#define R_DRAW_TEXT 10
#define R_COUNT 11

/* What a routine leaves in the registers it does not preserve. */
#define POISON_ECX 0xC1C1C1C1
#define POISON_EDX 0xD1D1D1D1

#endif
