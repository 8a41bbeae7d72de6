#pragma once

// Whether the preferences window is open. The preferences window clears it
// when it closes; closing the other windows reads it to decide whether the
// preferences window should follow the last of them.
void KZSetPreferencesWindowOpen(bool open);
bool KZPreferencesWindowIsOpen();
