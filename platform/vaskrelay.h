#pragma once
// Vask.Relay.x64.dll: the maker's transport library, of which this library calls one
// file lookup.

#include <wchar.h>

#if defined(VASK_RELAY_EXPORTS)
#define VASK_RELAY_API __declspec(dllexport)
#else
#define VASK_RELAY_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Looks the bare file name `fileName` up in the folder of the calling module and then in
// the native folder (GetNativePath of Vask.Lantern.x64.dll). When a file of that name is
// there, writes its full path into `buffer` of `bufferSize` characters and answers
// non-zero. Answers 0 (and leaves an empty buffer when there is one) for a null, empty or
// not bare name (one with '\', '/' or ':'), a name found nowhere, or a path that does not
// fit.
VASK_RELAY_API int GetFileLocationW(const wchar_t* fileName, wchar_t* buffer, int bufferSize);

#ifdef __cplusplus
}
#endif
