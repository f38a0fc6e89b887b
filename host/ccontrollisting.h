#pragma once
// What "list" prints: the controls under the title of their top-level window, hidden ones
// marked; with --all also the windows that have no translator (labels, list boxes, status
// bars...), which the host finds itself, by class, id and text.

#include <windows.h>

#include "ccontroltable.h"
#include "coutput.h"

namespace tarnwick::host {

struct ListingOptions {
    bool handles = false;  // print each window's handle
    bool all = false;      // add the windows without a translator
};

class CControlListing {
  public:
    // Lists the table's controls; with `all`, under every visible top-level window of the
    // process (or under `scope` alone when it is not null).
    static void Print(COutput& out, const CControlTable& table, ListingOptions options,
                      DWORD processId, HWND scope);
};

}  // namespace tarnwick::host
