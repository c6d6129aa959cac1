// Compiler-specific annotations, in one place so that the rest of the code stays portable.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
// Checks printf-style arguments: `formatIndex` is the format's position (1-based, counting `this`
// for members), `firstArgument` the first variadic argument's.
#if defined(__MINGW32__)
#define VELMORA_PRINTF_FORMAT(formatIndex, firstArgument)                                                    \
    __attribute__((format(__MINGW_PRINTF_FORMAT, formatIndex, firstArgument)))
#else
#define VELMORA_PRINTF_FORMAT(formatIndex, firstArgument)                                                    \
    __attribute__((format(printf, formatIndex, firstArgument)))
#endif
#else
#define VELMORA_PRINTF_FORMAT(formatIndex, firstArgument)
#endif
