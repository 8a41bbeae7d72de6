#pragma once

// Whether a search that shows its progress window is running. Written by the
// progress and result controllers, read by the menus, the file-type tabs and
// the application guard, possibly on different threads.
bool KZIsSearchInProgress();
void KZSetSearchInProgress(bool inProgress);
