#pragma once

#include "platform/Subscription.h"
#include "settings/KZFileTypeLabel.h"

#include <QObject>
#include <QPointer>

class QGraphicsOpacityEffect;
class QLabel;
class QTimer;
class QVariantAnimation;
class QWidget;

// The panel in the progress disc that shows the file type under the pointer
// on the ring: its colour disc and name, its count and its size. It fades in
// on the first tab, follows the pointed type, and closes half a second after
// the pointer left the ring unless another tab is pointed at meanwhile.
class KZSearchProgressExtraInfoCntrl : public QObject {
    Q_OBJECT
public:
    explicit KZSearchProgressExtraInfoCntrl(QWidget* parent);
    ~KZSearchProgressExtraInfoCntrl() override;

    QWidget* infoView() const { return infoView_; }
    // {"fileTypeItem": KZFileTypeLabelRef}
    void showInfoWithItem(const QVariantMap& userInfo);
    void hideView();
    void invalidateTimer();
    bool closePending() const;
    double alpha() const;
    KZFileTypeLabelRef item() const { return item_.lock(); }
    QString nameText() const;
    QString countText() const;
    QString sizeText() const;

    // The 12-point colour disc shown before the type's name.
    static QImage image(const KZFileTypeLabel& label, qreal devicePixelRatio = 1.0);

private:
    void writeInfo();
    void installRemotion();
    void fadeTo(double alpha);

    QPointer<QWidget> infoView_;
    QLabel* nameFld_ = nullptr;
    QLabel* itemsFoundFld_ = nullptr;
    QLabel* sizeFld_ = nullptr;
    QGraphicsOpacityEffect* effect_ = nullptr;
    QPointer<QVariantAnimation> fade_;
    double targetAlpha_ = 0;
    QTimer* timer_ = nullptr;
    std::weak_ptr<KZFileTypeLabel> item_;
    platform::Subscription countObservation_;
    platform::Subscription remotionObservation_;
};
