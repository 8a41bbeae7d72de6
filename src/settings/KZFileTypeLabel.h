#pragma once

#include "platform/Subscription.h"

#include <QColor>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <mutex>

// The live model of one file-type tab: its tag, name, colours and the count
// and size of the duplicates shown on it. The name and colours come from the
// user's defaults and follow them while the model observes "file_type_labels",
// "reduce_transparence" and "disable_lables"; a change of look is announced
// with "updateTabsUserDefault" (object: the model) and, for a change of the
// label table, "updateOtherSourceListInfo" (object: the tag as a number).
//
// Tabs of the special range (tags from 100000000000 on) have a fixed look and
// are never looked up in the label table.
//
// Thread safety: the tab views hold fileTypeLabelLock() around a group of
// reads or writes that must be consistent (the four parts of a colour, the
// count with the size). The model itself takes the lock while it rewrites its
// name and colours, since the defaults may change on another thread than the
// one drawing the tab; it never holds it while it calls into the defaults or
// posts a notification. Single accessors take the lock too.
class KZFileTypeLabel {
public:
    explicit KZFileTypeLabel(quint64 tag);
    static std::shared_ptr<KZFileTypeLabel> create(quint64 tag);
    ~KZFileTypeLabel();

    KZFileTypeLabel(const KZFileTypeLabel&) = delete;
    KZFileTypeLabel& operator=(const KZFileTypeLabel&) = delete;

    static bool isSpecialTag(quint64 tag);
    // The name of a special tab: the missing-tracks and empty-folders tabs
    // have their own, any other special tab none.
    static QString noDupesTabNameWithTag(quint64 tag);

    quint64 tag() const { return tag_; }

    // The tab's name, or its single-tab form while showSingleName() is set.
    QString name() const;
    void setName(const QString& name);
    // The first character of the stored name; empty for an empty name.
    QString firstChar() const;
    QString removeBtnTitle() const;

    quint64 size() const;
    void setSize(quint64 size);
    quint64 filesCount() const;
    void setFilesCount(quint64 count);

    double redOnColor() const;
    void setRedOnColor(double value);
    double greenOnColor() const;
    void setGreenOnColor(double value);
    double blueOnColor() const;
    void setBlueOnColor(double value);
    double onAlphaValue() const;
    void setOnAlphaValue(double value);
    double redOffColor() const;
    void setRedOffColor(double value);
    double greenOffColor() const;
    void setGreenOffColor(double value);
    double blueOffColor() const;
    void setBlueOffColor(double value);
    double offAlphaValue() const;
    void setOffAlphaValue(double value);
    // The selected and unselected colours in one value each.
    QColor onColor() const;
    QColor offColor() const;

    // The "reduce_transparence" value the colours were last loaded with; -1
    // before the first load.
    qint64 reduceTransparence() const;
    void setReduceTransparence(qint64 value);

    std::recursive_mutex& fileTypeLabelLock() const { return lock_; }

    bool observersAreRegistered() const;
    bool canBeRemoved() const;
    void setCanBeRemoved(bool value);
    bool showSingleName() const;
    void setShowSingleName(bool value);

    // Start or stop following the defaults; each is harmless when the model
    // is already in the wanted state.
    void addObservers();
    void removeObservers();

    // Reload the name and colours of an ordinary tag from the defaults;
    // answers whether anything the tab shows changed.
    bool updateLabels();
    // The same for a special tag, with the fixed look.
    bool setupForTabWithTag(quint64 tag);

    void updateTabs();
    void updateOtherSourceListInfo();

private:
    struct Look {
        double redOn = 0, greenOn = 0, blueOn = 0, alphaOn = 0;
        double redOff = 0, greenOff = 0, blueOff = 0, alphaOff = 0;
    };

    enum class Observed { FileTypeLabels, ReduceTransparence, DisableLabels };
    void observedValueChanged(Observed which);
    // Stores `colours` (a label or colour dictionary) as the look, under the lock.
    void loadColours(const QVariantMap& colours, bool reduce);

    const quint64 tag_;
    mutable std::recursive_mutex lock_;
    QString name_;
    quint64 size_ = 0;
    quint64 filesCount_ = 0;
    Look look_;
    qint64 reduceTransparence_ = -1;
    bool canBeRemoved_ = true;
    bool showSingleName_ = false;

    // Guards the registration state only; never held while the look changes.
    mutable std::mutex observersMutex_;
    bool observersAreRegistered_ = false;
    platform::Subscription labelsObservation_;
    platform::Subscription reduceObservation_;
    platform::Subscription disableObservation_;

    platform::Subscription removeObserversRegistration_;
    platform::Subscription addObserversRegistration_;
};

// Result-info maps and tab items carry label models as this type.
using KZFileTypeLabelRef = std::shared_ptr<KZFileTypeLabel>;
Q_DECLARE_METATYPE(KZFileTypeLabelRef)
