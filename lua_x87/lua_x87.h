/* Included first in every upstream Lua 5.1.5 file built into lua5.1.dll: sends
   each call Lua makes into the C runtime's x87 code (its math functions, number
   formatting and parsing) through a wrapper in lua_x87.c, which loads the
   runtime's x87 control word first when varnel left the host's in place
   (host/fp_words.h). The runtime's headers come first, untouched; the names are
   redirected only at Lua's call sites. */
#ifndef VARNEL_LUA_X87_H
#define VARNEL_LUA_X87_H

#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

double lx_pow(double x, double y);
double lx_floor(double x);
double lx_ceil(double x);
double lx_fmod(double x, double y);
double lx_modf(double x, double *ip);
double lx_frexp(double x, int *e);
double lx_ldexp(double x, int e);
double lx_exp(double x);
double lx_log(double x);
double lx_log10(double x);
double lx_sqrt(double x);
double lx_sin(double x);
double lx_cos(double x);
double lx_tan(double x);
double lx_asin(double x);
double lx_acos(double x);
double lx_atan(double x);
double lx_atan2(double y, double x);
double lx_sinh(double x);
double lx_cosh(double x);
double lx_tanh(double x);
double lx_strtod(const char *s, char **end);
double lx_difftime(time_t a, time_t b);
int lx_sprintf(char *out, const char *format, ...);
int lx_fprintf(FILE *f, const char *format, ...);
int lx_fscanf(FILE *f, const char *format, void *out);

#define pow(x, y) lx_pow(x, y)
#define floor(x) lx_floor(x)
#define ceil(x) lx_ceil(x)
#define fmod(x, y) lx_fmod(x, y)
#define modf(x, ip) lx_modf(x, ip)
#define frexp(x, e) lx_frexp(x, e)
#define ldexp(x, e) lx_ldexp(x, e)
#define exp(x) lx_exp(x)
#define log(x) lx_log(x)
#define log10(x) lx_log10(x)
#define sqrt(x) lx_sqrt(x)
#define sin(x) lx_sin(x)
#define cos(x) lx_cos(x)
#define tan(x) lx_tan(x)
#define asin(x) lx_asin(x)
#define acos(x) lx_acos(x)
#define atan(x) lx_atan(x)
#define atan2(y, x) lx_atan2(y, x)
#define sinh(x) lx_sinh(x)
#define cosh(x) lx_cosh(x)
#define tanh(x) lx_tanh(x)
#define strtod(s, end) lx_strtod(s, end)
#define difftime(a, b) lx_difftime(a, b)
#define sprintf lx_sprintf
#define fprintf lx_fprintf
#define fscanf(f, format, out) lx_fscanf(f, format, out)

#endif
