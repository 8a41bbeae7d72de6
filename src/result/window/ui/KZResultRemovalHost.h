#pragma once

#include "removal/ui/KZRemovePanelWidget.h"

#include <QPointer>
#include <QWidget>

#include <functional>

// What the removal panel asks of the result window it covers: the folder
// to move duplicates to, the question about folders a removal leaves
// empty, and dropping the tab's marking undo once items have left.
class KZResultRemovalHost : public KZRemovePanelHost {
public:
    KZResultRemovalHost(QWidget* window, std::function<void()> purgeMarkingUndo);

    void purgeMarkingUndo() override;
    void chooseDestination(const std::function<void(const std::filesystem::path&)>& done) override;
    qint64 askReportEmptyFolders() override;

private:
    QPointer<QWidget> window_;
    std::function<void()> purge_;
};
