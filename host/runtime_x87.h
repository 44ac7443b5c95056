/* The x87 control word the C runtime's x87 code runs with, in varnel and in the
   engine alike: every exception masked, round to nearest, 64-bit precision. Its
   pow and exp round correctly far more often there than at 53 bits. Plain C:
   the engine's wrappers (lua_x87/) include it too. */
#ifndef VARNEL_RUNTIME_X87_H
#define VARNEL_RUNTIME_X87_H

#define VARNEL_RUNTIME_X87 0x037F

#ifndef __ASSEMBLER__  /* LuaJIT's assembly includes this too */
/* Loads the runtime's x87 word unless it is in place: reading the word costs about
   a nanosecond, loading another about 70. No flag can fire: the word masks every
   exception. */
static inline void varnel_ensure_runtime_x87(void) {
    unsigned short cw;
    __asm__ volatile("fnstcw %0" : "=m"(cw) : : "memory");
    if (__builtin_expect(cw != VARNEL_RUNTIME_X87, 0)) {
        const unsigned short runtime = VARNEL_RUNTIME_X87;
        __asm__ volatile("fldcw %0" : : "m"(runtime) : "memory");
    }
}
#endif  /* __ASSEMBLER__ */

#endif
