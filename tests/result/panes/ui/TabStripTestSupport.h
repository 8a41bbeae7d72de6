#pragma once

#include "result/panes/KZResultTabsDelegate.h"
#include "result/panes/ui/KZResultTabsView.h"
#include "settings/KZFileTypeLabel.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QWidget>

#include <memory>

namespace tabstest {

class FakeDelegate : public KZResultTabsDelegate {
public:
    const void* notificationObject() const override { return &token; }
    bool isRemoving() const override { return removing; }
    bool isWindowVisible() const override { return visible; }
    bool aboutIsOpened() const override { return aboutOpen; }

    int token = 0;
    bool removing = false;
    bool visible = true;
    bool aboutOpen = false;
};

// The top of a result window: the strip as a band over the content, the
// horizontal bars under it and the vertical bars on the content's left.
struct Frame {
    explicit Frame(KZResultTabsDelegate* delegate)
    {
        window = std::make_unique<QWidget>();
        window->setObjectName(QStringLiteral("resultWindow"));
        auto* column = new QVBoxLayout(window.get());
        column->setContentsMargins(0, 6, 0, 0);
        column->setSpacing(0);
        strip = new KZResultTabsView(delegate, window.get());
        column->addWidget(strip);
        column->addWidget(strip->horizontalBarArea());
        auto* row = new QHBoxLayout;
        row->setSpacing(0);
        row->addWidget(strip->verticalBarArea());
        content = new QWidget(window.get());
        content->setObjectName(QStringLiteral("resultContent"));
        row->addWidget(content, 1);
        column->addLayout(row, 1);
        window->resize(760, 200);
    }

    std::unique_ptr<QWidget> window;
    KZResultTabsView* strip = nullptr;
    QWidget* content = nullptr;
};

// The tab information of a result with labels of the given tags.
inline QVariantMap tabInfo(std::initializer_list<quint64> types, bool deads = false)
{
    QVariantMap found;
    for (const quint64 tag : types) {
        auto label = KZFileTypeLabel::create(tag);
        label->setFilesCount(tag * 10);
        label->setSize(tag * 1000);
        found.insert(QString::number(tag), QVariant::fromValue(label));
    }
    return {{QStringLiteral("KZResultFoundFileTypes"), found},
            {QStringLiteral("KZResultFoundItemsCount"), QVariant::fromValue<quint64>(120)},
            {QStringLiteral("KZResultFoundItemsSize"), QVariant::fromValue<quint64>(4096)},
            {QStringLiteral("KZResultSearchedForDeads"), deads},
            {QStringLiteral("KZResultFoundDeadsCount"), QVariant::fromValue<quint64>(deads ? 3 : 0)}};
}

} // namespace tabstest
