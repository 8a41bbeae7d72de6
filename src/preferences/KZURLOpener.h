#pragma once

#include <QUrl>

#include <functional>

// Hands an address (web page, mail message, file) to the desktop. One place,
// so that tests can see what would have been opened without starting a
// browser or a mail program.
bool KZOpenURL(const QUrl& url);
// The same for a command the user chose: when nothing could open the
// address, an error alert gives it.
bool KZOpenURLOrTell(const QUrl& url);

// Replaces the desktop for tests; an empty function restores it.
void KZSetURLOpener(std::function<bool(const QUrl&)> opener);
