#pragma once

#include "result/model/ui/KZResultTabParts.h"

#include <QPointer>
#include <QVariantMap>
#include <QWidget>

#include <vector>

// A sources list that records what its tab asks of it.
class RecordingSourcesList : public KZResultSourcesList {
public:
    // Owned by whatever view it was put in, else by the fake.
    QPointer<QWidget> widget = new QWidget;
    KZListOutline* outline = nullptr;
    std::vector<KZMarkedInfoUpdate> marked;
    std::vector<KZViewToUpdateRef> removed;
    std::vector<std::pair<quint64, quint64>> selected;
    QVariantMap saved;

    ~RecordingSourcesList() override
    {
        if (widget && !widget->parent())
            delete widget.data();
    }
    QWidget* view() override { return widget; }
    void setResultOutlineCntrl(KZListOutline* list) override { outline = list; }
    void updateMarkedInfo(const KZMarkedInfoUpdate& info) override { marked.push_back(info); }
    void updateRemovedInfo(const KZViewToUpdateRef& info) override { removed.push_back(info); }
    void selectRowWithTag(quint64 tag, quint64 deselectTag) override { selected.emplace_back(tag, deselectTag); }
    std::vector<KZResultSourcesTypeItemRef> sourceItems() const override { return {}; }
    qint64 currSelectedRow() const override { return 0; }
    QVariantMap savedSettings() const override { return saved; }
    void setSavedSettings(const QVariantMap& settings) override { saved = settings; }
};
