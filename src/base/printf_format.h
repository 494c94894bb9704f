// The one way to tell the compiler a function takes a printf format, so that
// it checks the arguments against it. Header only. gcc (MinGW's too) checks
// the C99 formats as gnu_printf; clang knows them as printf.
#pragma once

#if defined(__clang__)
#define BRISK_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#elif defined(__GNUC__)
#define BRISK_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define BRISK_PRINTF_FORMAT(fmt, args)
#endif
