/* The record standin_call_export works from: the export, its arguments and the
 * host's words going in, what the export left coming out. Shared by the assembly
 * (offsets) and fp_env.cpp (the struct, with a static_assert on each offset). */
#ifndef STANDIN_EXPORT_CALL_H
#define STANDIN_EXPORT_CALL_H

#define EC_FN 0           /* the export */
#define EC_ARGS 4         /* its argument words */
#define EC_WORDS 8        /* how many */
#define EC_SKEW 12        /* ESP at the call, modulo 16: 4, 8 or 12 */
#define EC_HOST_X87 16    /* the host's words, loaded before the call */
#define EC_HOST_MXCSR 20
#define EC_OWN_X87 24     /* the caller's words, put back afterwards */
#define EC_OWN_MXCSR 28
#define EC_MXCSR_AFTER 32 /* MXCSR as the export left it */
#define EC_ESP_DELTA 36   /* ESP after the return minus ESP at the call */
#define EC_RESULT 40      /* the double from ST0 */
#define EC_ESP_AT_CALL 48 /* ESP at the call */
#define EC_ENV 52         /* fnstenv: control word +0, status +4, tags +8 (28 bytes) */
#define EC_EAX 80        /* EAX as the export left it: a text export's result */
#define EC_SIZE 88        /* with 4 bytes of padding: a multiple of 8 everywhere */

#endif
