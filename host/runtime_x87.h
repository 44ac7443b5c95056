/* The x87 control word the C runtime's x87 code runs with, in varnel and in the
   engine alike: every exception masked, round to nearest, 64-bit precision. Its
   pow and exp round correctly far more often there than at 53 bits. Plain C:
   the engine's wrappers (lua_x87/) include it too. */
#ifndef VARNEL_RUNTIME_X87_H
#define VARNEL_RUNTIME_X87_H

#define VARNEL_RUNTIME_X87 0x037F

#endif
