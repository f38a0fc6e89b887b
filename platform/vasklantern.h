#pragma once
// Vask.Lantern.x64.dll: the maker's support library, as this library calls it.
//
// The stand-in reads its trace settings from the environment at each call:
// VASK_TRACE_LEVEL (a number; tracing is off while it is missing or 0) and
// VASK_TRACE_SOURCES (a bit mask, decimal or 0x-prefixed hexadecimal).

#include <wchar.h>

#if defined(VASK_LANTERN_EXPORTS)
#define VASK_LANTERN_API __declspec(dllexport)
#else
#define VASK_LANTERN_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Non-zero when the maker's tracing is on at `level` or a more detailed one (a higher number).
VASK_LANTERN_API int IsTraceLevel(int level);

// Non-zero when the maker's tracing includes any of the source bits in `source`.
VASK_LANTERN_API int IsTraceSource(int source);

// Converts `sourceCount` characters of `source` (its terminator counted by the caller; -1:
// up to and including the terminator) to UTF-8 in `destination`, writing at most
// `destinationSize` bytes. The result is always terminated within them; a text that does
// not fit is cut before the first character that does not fit whole. Answers the bytes
// written, terminator included; 0 (nothing written) when `destination` is null or
// `destinationSize` is not above 0, and an empty text when `source` is null or the count
// is below -1.
VASK_LANTERN_API int WideCharToChar(const wchar_t* source, int sourceCount, char* destination,
                                    int destinationSize);

// Writes the folder of the native components (the folder of this DLL, without a trailing
// backslash) into `buffer` of `bufferSize` characters. Answers 1, or 0 with an empty
// buffer when it does not fit or cannot be read.
VASK_LANTERN_API int GetNativePath(wchar_t* buffer, int bufferSize);

#ifdef __cplusplus
}
#endif
