#pragma once

#include <QLocale>
#include <QString>

#include <memory>
#include <mutex>

// Turns numbers into the texts the windows show: counts, byte sizes in
// decimal units (1 KB = 1000 bytes), clock durations and GPS angles.
//
// An instance keeps the locale that was current when it was made. Every
// method is safe from any thread; a window that formats often from its own
// timer can keep a private instance so it never waits for the shared one.
class KZNumberUtilities {
public:
    static KZNumberUtilities& sharedControl();
    // Replaces the shared instance (tests); nullptr makes the next call build
    // a fresh one. The shared instance is never destroyed at exit
    // (platform::SharedInstance).
    static void setSharedControl(std::unique_ptr<KZNumberUtilities> instance);

    KZNumberUtilities();
    KZNumberUtilities(const KZNumberUtilities&) = delete;
    KZNumberUtilities& operator=(const KZNumberUtilities&) = delete;

    // Grouped, up to two fraction digits, none for a whole value.
    QString numberToFormatString(double value) const;

    // The size in steps of 1000 followed directly by the unit text. `scale`
    // caps the unit: 1 bytes, 2 Kb, 4 up to Tb, anything else Mb. Sizes in
    // bytes have no fraction digits; larger ones have two with
    // `doublePrecision`, else one.
    QString sizeToFormatString(quint64 bytes, qint16 scale, bool doublePrecision) const;

    // "mm:ss", or "h:mm:ss" from one hour on; "00:00" below one second.
    static QString secondsToFormatString(qint64 seconds);

    // Degrees, minutes and seconds followed by `reference` (a hemisphere
    // letter); empty for 0, negative or non-finite values.
    static QString mpsFromDegrees(double degrees, const QString& reference);

    const QLocale& locale() const { return locale_; }

private:
    QString format(double value, int minFraction, int maxFraction) const;

    QLocale locale_;
    QString bytes_;
    QString kBytes_;
    QString mBytes_;
    QString gBytes_;
    QString tBytes_;
    mutable std::mutex formatterLock_;
};
