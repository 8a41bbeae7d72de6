#pragma once

#include "platform/Subscription.h"

#include <QList>
#include <QPointer>
#include <QWidget>

#include <optional>

class KZPreferencesLabelsCellView;
class QCheckBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

// The Labels pane of the preferences window: one row per file-type label
// (colour, name, extensions), adding up to 12 labels, removing, renaming,
// recolouring and restoring the factory table, and the switch that shows
// every tab in neutral colours. Rows are kept per label tag and refreshed in
// place, so a row's popover stays open across a refresh. Main thread only.
class KZPreferencesLabelsCntrl : public QWidget {
    Q_OBJECT
public:
    explicit KZPreferencesLabelsCntrl(QObject* appDelegate = nullptr, QWidget* parent = nullptr);
    ~KZPreferencesLabelsCntrl() override;

    QWidget* labelsView() { return this; }
    // The size the preferences window gives the pane.
    static QSize paneSize();
    QPushButton* addBtn() const { return addBtn_; }
    QPushButton* restoreBtn() const { return restoreBtn_; }
    QCheckBox* disableBox() const { return disableBox_; }
    QLabel* descriptionTxt() const { return descriptionTxt_; }

    // The rows in table order, and the row of one label.
    QList<KZPreferencesLabelsCellView*> cells() const;
    KZPreferencesLabelsCellView* cellWithTag(quint64 tag) const;

    // Reads the stored table again and shows it.
    void updateTableView();
    void disableEnableAddBtn();
    void disableAction(bool disabled);
    void addAction();
    void restoreAction();

private:
    void buildLayout();
    void scheduleReload();

    QPointer<QObject> appDelegate_;
    QLabel* descriptionTxt_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QWidget* rowsView_ = nullptr;
    QVBoxLayout* rowsLayout_ = nullptr;
    QCheckBox* disableBox_ = nullptr;
    QPushButton* addBtn_ = nullptr;
    QPushButton* restoreBtn_ = nullptr;
    QList<KZPreferencesLabelsCellView*> cells_;
    std::optional<quint64> justAdded_;
    bool reloadScheduled_ = false;
    platform::Subscription labelsObservation_;
    platform::Subscription disableObservation_;
    platform::Subscription updateTableViewRegistration_;
};
