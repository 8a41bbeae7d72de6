#pragma once

#include "result/model/KZListOutline.h"

#include <QMenu>

// The menu of marking rules of a group row: one checkable action per rule,
// the rule last applied checked.
class KZMarkMenuWidget : public QMenu, public KZMarkMenu {
    Q_OBJECT
public:
    explicit KZMarkMenuWidget(QWidget* parent = nullptr);

    void setOnMenuItemWithTag(qint64 tag) override;
    // The checked rule; 0 when none is.
    qint64 tagOfOnMenuItem() const;
    QAction* actionWithTag(qint64 tag) const;
    // A location list offers marking within the location instead of the
    // default rule and the swap; while the About window is open nothing is
    // enabled.
    void prepareToShow(bool isLocationItem, bool aboutIsOpen);

    static QString tooltipKey(qint64 tag);

Q_SIGNALS:
    void ruleChosen(qint64 tag, const QString& title);
};
