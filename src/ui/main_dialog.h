// The program's only window and its pieces that can be checked alone.
#pragma once

#include <windows.h>

#include "engine/patch_stub.h"

namespace zelp {

// The pages the two banners open.
constexpr const wchar_t* kSitePage = L"https://www.example.org/zelp/";
constexpr const wchar_t* kForumPage = L"https://forum.example.org/zelp/";

// The one patch state of the program, built from the stamped patch offset
// before the entry point runs.
extern CPatchStub g_stub;

// Whether the point (x, y), in the dialog's client coordinates, lies inside
// the control: a point on its border does not count.
bool IsOverControl(HWND dialog, int controlId, int x, int y);

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace zelp
