#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QGraphicsOpacityEffect;
class QLabel;
class QVariantAnimation;
class QWidget;

// The panel in the progress disc that follows one long folder comparison:
// the folder's size and how many of its items were compared so far.
class KZSearchProgressFoldersInfoCntrl : public QObject {
    Q_OBJECT
public:
    explicit KZSearchProgressFoldersInfoCntrl(QWidget* parent);
    ~KZSearchProgressFoldersInfoCntrl() override;

    QWidget* infoView() const { return infoView_; }
    void initializeForNewFolder();
    void setCurrent(const QString& text);
    void setTotals(const QString& total, const QString& size);
    // Fades in or out over a quarter second.
    void show(bool visible);
    bool isShown() const { return shown_; }
    QString currentText() const;
    QString totalText() const;
    QString sizeText() const;

private:
    QPointer<QWidget> infoView_;
    QLabel* titleFld_ = nullptr;
    QLabel* sizeFld_ = nullptr;
    QLabel* currItemsCount_ = nullptr;
    QLabel* totItemsCount_ = nullptr;
    QString infoNotAvailableStr_;
    QGraphicsOpacityEffect* effect_ = nullptr;
    QPointer<QVariantAnimation> fade_;
    bool shown_ = false;
};
