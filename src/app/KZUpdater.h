#pragma once

#include <QUrl>

// Looking for a newer version: the program cannot replace itself (it is
// installed by the package manager or from a build), so the check opens the
// download page, where the user sees the latest version and how to get it.
class KZUpdater {
public:
    static KZUpdater& sharedUpdater();

    static QUrl downloadPage();
    void checkForUpdates();
};
