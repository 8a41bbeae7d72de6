#pragma once

#include <QUrl>

#include <functional>

// Hands an address (web page, mail message, file) to the desktop. One place,
// so that tests can see what would have been opened without starting a
// browser or a mail program.
//
// Whether it was opened is known only once the desktop's opener has ended:
// `answer` (optional) learns it then, from the event loop.
void KZOpenURL(const QUrl& url, std::function<void(bool opened)> answer = {});
// The same for a command the user chose: when nothing could open the
// address, an error alert gives it; `answer` (optional) learns the outcome
// once the alert has been answered.
void KZOpenURLOrTell(const QUrl& url, std::function<void(bool opened)> answer = {});

// Replaces the desktop for tests (answering at once whether it took the
// address); an empty function restores it.
void KZSetURLOpener(std::function<bool(const QUrl&)> opener);
