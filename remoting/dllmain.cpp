// Entry point of Tarnwick.Virtual.Native.x64.dll: registers the trace provider at process
// attach and, at detach, destroys the module-wide services before unregistering it.
#include <windows.h>

#include "remoting/cremotingservices.h"
#include "trace/ctraceprovider.h"

namespace {

// {6C1F0B52-3E8A-4D27-9B61-0F4E2A7D5C11}
constexpr GUID kTraceGuid = {
    0x6c1f0b52, 0x3e8a, 0x4d27, {0x9b, 0x61, 0x0f, 0x4e, 0x2a, 0x7d, 0x5c, 0x11}};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE /*module*/, DWORD reason, LPVOID /*reserved*/) {
    using tarnwick::CTraceProvider;
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            CTraceProvider::Module().Register();
            tarnwick::Trace(kTraceGuid, tarnwick::TraceLevel::Information,
                            tarnwick::kTraceFlagEntryPoint, 1);
            break;
        case DLL_PROCESS_DETACH:
            tarnwick::DestroyModuleServices();
            CTraceProvider::Module().Unregister();
            break;
        default:
            break;
    }
    return TRUE;
}
