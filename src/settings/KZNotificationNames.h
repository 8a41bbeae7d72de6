#pragma once

#include <QString>

// Names of the notifications that travel between subsystems. Kept in one
// place so that a poster and its observers can never spell a name apart.
namespace KZNotification {

} // namespace KZNotification
