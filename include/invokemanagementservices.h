#pragma once
// The factories through which a host obtains remoting services. The pointers are not
// reference counted; the services stay valid until the module unloads, which destroys them.

#include <windows.h>
#include <ole2.h>

#include "iinvokemanagementservice.h"
#include "tarnwickapi.h"

// The process's IPC-queue service. The first call creates it with queueName, a BSTR that
// the caller hands over and must not free, and the notification; later calls return it
// unchanged whatever their arguments.
extern "C++" TARNWICK_API tarnwick::IInvokeManagementService* GetLpcInvokeManagementService(
    BSTR queueName, tarnwick::IInvokeNotification* notification);

// The window-message service of this notification, made for peerWindow on the first call
// with the notification; a later call with the same notification returns that service even
// for another window.
extern "C++" TARNWICK_API tarnwick::IInvokeManagementService*
GetWindowsMessageInvokeManagementService(HWND peerWindow,
                                         tarnwick::IInvokeNotification* notification);
