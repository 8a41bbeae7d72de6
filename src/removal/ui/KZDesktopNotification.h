#pragma once

#include <QString>

// Posts a notice to the desktop's notification service. Answers false, and
// does nothing, without a session bus; a bus without the service just drops
// the call, since nobody waits for the answer.
bool KZPostDesktopNotification(const QString& title, const QString& body);
