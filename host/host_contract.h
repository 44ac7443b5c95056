/* What varnel relies on from the host: the built-in routines' entry addresses and
 * the layout of a host string. Plain #defines, so the stand-in's assembly can use
 * them too. */
#ifndef HOST_CONTRACT_H
#define HOST_CONTRACT_H

/* Built-in routines, called through NexCallFunction. Each takes ECX = record count
 * and, on the stack, the records, HOST_CALL_TAG and the result record; it pops 12. */
#define HOST_EXECUTE_SCRIPT 0x0056FDE4 /* script index, then the script's arguments */
#define HOST_LIST_SIZE      0x0057A710 /* list handle -> number of entries */
#define HOST_LIST_GET       0x0057AAE4 /* list handle, position -> the entry */
#define HOST_LIST_DONE      0x0057A554 /* list handle; result ignored */
#define HOST_REPORT_ERROR   0x00564428 /* one text; result ignored */
#define HOST_DRAW_TEXT      0x005559C8 /* x, y, text; result ignored */

/* A text handed to the host for assignment sits in a block laid out like a host
 * string: reference count, length, then the bytes and a NUL. The cell and records
 * point at the first byte, HOST_STRING_HEADER bytes into the block. */
#define HOST_STRING_HEADER 8
#define HOST_STRING_LITERAL_REFCOUNT (-1)

#endif
