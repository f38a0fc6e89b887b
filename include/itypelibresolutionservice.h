#pragma once
// The type library resolution service: finds, loads (never registers) and answers the
// unregistered type libraries and the type descriptions that automation objects need.

#include <windows.h>
#include <oaidl.h>

#include "tarnwickapi.h"

class TARNWICK_API ITypeLibResolutionService {
  public:
    ITypeLibResolutionService() = default;
    ITypeLibResolutionService(const ITypeLibResolutionService&) = default;
    ITypeLibResolutionService(ITypeLibResolutionService&&) = default;
    ITypeLibResolutionService& operator=(const ITypeLibResolutionService&) = default;
    ITypeLibResolutionService& operator=(ITypeLibResolutionService&&) = default;

    // Loads every *.tlb of a directory (a file path names its folder); always E_FAIL.
    virtual HRESULT AddSearchDirectory(const wchar_t* path) = 0;
    // Loads the libraries of the subdirectories of "<directory>\cache" that the directory
    // itself does not hold; S_OK, or E_FAIL for a missing directory or cache.
    virtual HRESULT LoadCachedTypeLibraries(const wchar_t* directory) = 0;
    // 1 and a new reference in *out (when out is not null) if a library of that file name
    // is loaded, letter case aside; else 0.
    virtual BOOL GetTypeLib(const wchar_t* fileName, ITypeLib** out) = 0;
    // 1 and a new reference in *out (when out is not null) if a type of that GUID is known.
    virtual BOOL GetTypeInfoByGuid(const GUID* guid, ITypeInfo** out) = 0;

  protected:
    // Owned by the module; hosts never destroy the service.
    ~ITypeLibResolutionService() = default;
};

// The process's service, created on first call with the current directory scanned. The
// pointer is not reference counted and stays valid until the module unloads.
extern "C++" TARNWICK_API ITypeLibResolutionService* GetTypeLibResolutionService();
