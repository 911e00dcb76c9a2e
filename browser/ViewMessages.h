// Messages the folder view posts to itself (shared by its source files).
#pragma once

#include <windows.h>

// The name edit of a new folder row has ended.
const UINT WM_HB_NEW_FOLDER_DONE = WM_APP + 1;
// The selection changed: refresh the toolbar once.
const UINT WM_HB_SELECTION_CHANGED = WM_APP + 2;
// The last long operation has ended: run what waited for it.
const UINT WM_HB_RUN_DEFERRED = WM_APP + 3;
// The label edit of an existing row has ended: rename its entry.
const UINT WM_HB_RENAME_DONE = WM_APP + 4;
// A watcher of an opened copy: wParam the copy's id, lParam 0 when the copy
// changed, 1 when its program ended.
const UINT WM_HB_COPY_EVENT = WM_APP + 5;
