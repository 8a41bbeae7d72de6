#pragma once

#include "platform/Subscription.h"
#include "preferences/KZLimitationsList.h"

#include <QPointer>
#include <QWidget>

class QPushButton;
class QButtonGroup;
class QStackedWidget;
class QTableWidget;
class QToolButton;
class KZTokenDelegate;

// The Limitations pane of the preferences window: the folders that no search
// enters and the extensions that the duplicate-files search leaves out, one
// table each on two tabs, with add, remove and restore acting on the tab in
// front. The tables show the stored lists and follow every change of them.
// Main thread only.
class KZPreferencesLimitationsCntrl : public QWidget {
    Q_OBJECT
public:
    explicit KZPreferencesLimitationsCntrl(QObject* appDelegate = nullptr, QWidget* parent = nullptr);
    ~KZPreferencesLimitationsCntrl() override;

    QWidget* limitsView() { return this; }
    // The size the preferences window gives the pane.
    static QSize paneSize();
    // The tab in front: "locations" or "extensions".
    QString tabInFront() const;
    void selectTab(const QString& identifier);
    QTableWidget* locationsTable() const { return locationsTable_; }
    QTableWidget* extensionsTable() const { return extensionsTable_; }
    QToolButton* addLimitsBtn() const { return addLimitsBtn_; }
    QToolButton* removeLimitsBtn() const { return removeLimitsBtn_; }
    QPushButton* restoreBtn() const { return restoreBtn_; }
    KZTokenDelegate* tokenDelegate() const { return tokenDelegate_; }

    // The buttons' actions, on the tab in front ("locations", "extensions").
    void addAction();
    void removeAction();
    void restoreAction();

    // The folder panel's answer: 1 with the chosen paths, else nothing.
    void chooseLocationPanelDidEndWithCode(int code, const QStringList& paths);
    // The tokens typed into a row of the extensions table.
    void extensionTokensEdited(int row, const QString& text);

    // Reads both lists again.
    void reloadTables();

private:
    void buildLayout();
    QTableWidget* makeTable(const QString& name, bool tokens);
    KZLimitationsList listInFront() const;
    QTableWidget* tableInFront() const;
    void fillTable(QTableWidget* table, KZLimitationsList::List list);
    void enableRemoveBtnWithTable(QTableWidget* table);
    void scheduleReload();

    QPointer<QObject> appDelegate_;
    QStackedWidget* limitsTab_ = nullptr;
    QButtonGroup* tabButtons_ = nullptr;
    QTableWidget* locationsTable_ = nullptr;
    QTableWidget* extensionsTable_ = nullptr;
    QToolButton* addLimitsBtn_ = nullptr;
    QToolButton* removeLimitsBtn_ = nullptr;
    QPushButton* restoreBtn_ = nullptr;
    KZTokenDelegate* tokenDelegate_ = nullptr;
    bool reloadScheduled_ = false;
    bool filling_ = false;
    bool reloadAfterEdit_ = false;
    platform::Subscription locationsObservation_;
    platform::Subscription extensionsObservation_;
};
