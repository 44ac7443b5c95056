/* The host addresses that nexlink calls through. Included by nexlink.S and by the
 * stand-in host, so both sides agree on every word. Plain #defines: this header is
 * read by the assembler too. */
#ifndef NEXLINK_TABLE_H
#define NEXLINK_TABLE_H

/* The constant table, in the order nexlink lays it out (word index in comments). */
#define STRING_TYPE_DESCRIPTOR 0x004010D0 /* 0: descriptor of the string variable type */
#define VALUE_TYPE_DESCRIPTOR  0x005457F8 /* 1: descriptor of the value record type */
#define HOST_NEW_CELL          0x00405ECC /* 2: allocate and initialize a typed cell */
#define HOST_ASSIGN_STRING     0x00404FFC /* 3: assign a string to a string variable */
#define HOST_CLEAR_STRING      0x00404FA8 /* 4: release a variable's string, set it empty */
#define HOST_DISPOSE_CELL      0x00405EE0 /* 5: finalize and free a typed cell */
#define HOST_FINALIZE_RECORD   0x00405A58 /* 6: release the managed fields of a record */

#define NEX_TABLE_WORDS 7

/* A string cell is one pointer-sized variable. */
#define HOST_STRING_CELL_SIZE 4

/* Passed on the stack to every built-in routine; its meaning lies in the host. */
#define HOST_CALL_TAG 15

#endif
