// The argument lists of export_list.h, spelled out. Each argument there is a kind
// applied to a name, real(x) or text(x); a kind is never a macro itself, so it
// reaches these macros untouched and is pasted onto a prefix:
//   EXPORT_ARGS(EXPORT_PARAM, real(id), text(path))  ->  double id, const char* path
//   EXPORT_ARGS(EXPORT_NAME, real(id), text(path))   ->  id, path
// Up to four arguments; a fifth needs EXPORT_ARGS_5 and a count below.
#pragma once

#define EXPORT_PARAM(arg) EXPORT_PARAM_##arg
#define EXPORT_PARAM_real(name) double name
#define EXPORT_PARAM_text(name) const char* name

// A result's kind as a C type: EXPORT_RESULT(real) is double.
#define EXPORT_RESULT(kind) EXPORT_RESULT_##kind
#define EXPORT_RESULT_real double
#define EXPORT_RESULT_text const char*

#define EXPORT_NAME(arg) EXPORT_NAME_##arg
#define EXPORT_NAME_real(name) name
#define EXPORT_NAME_text(name) name

// m applied to each argument, the results separated by commas.
#define EXPORT_ARGS(m, ...) EXPORT_ARGS_CAT(EXPORT_ARGS_, EXPORT_ARGS_COUNT(__VA_ARGS__))(m, __VA_ARGS__)
#define EXPORT_ARGS_COUNT(...) EXPORT_ARGS_NTH(__VA_ARGS__, 4, 3, 2, 1, 0)
#define EXPORT_ARGS_NTH(a1, a2, a3, a4, n, ...) n
#define EXPORT_ARGS_CAT(a, b) EXPORT_ARGS_CAT_(a, b)
#define EXPORT_ARGS_CAT_(a, b) a##b
#define EXPORT_ARGS_1(m, a) m(a)
#define EXPORT_ARGS_2(m, a, b) m(a), m(b)
#define EXPORT_ARGS_3(m, a, b, c) m(a), m(b), m(c)
#define EXPORT_ARGS_4(m, a, b, c, d) m(a), m(b), m(c), m(d)
