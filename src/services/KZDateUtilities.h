#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <map>
#include <memory>
#include <mutex>

// The program's date service: the one text form dates are read in, the
// display of times in the user's locale and time zone, day starts, years and
// the placeholder date of items that have none.
//
// Times travel as seconds since the reference date, 1 January 2001 00:00:00
// GMT, the unit that saved results and the criteria store.
class KZDateUtilities {
public:
    // Display styles: 0 none, 1 short, 2 medium, 3 long, 4 full.
    enum Style : unsigned { None = 0, Short = 1, Medium = 2, Long = 3, Full = 4 };

    // One display formatter: a locale and a pattern. Immutable once built.
    struct Formatter {
        QLocale locale;
        QString pattern;
        QString format(const QDateTime& date) const;
    };

    static KZDateUtilities& sharedControl();
    // Replaces the shared instance (tests); nullptr makes the next call build
    // a fresh one. The shared instance is never destroyed at exit
    // (platform::SharedInstance).
    static void setSharedControl(std::unique_ptr<KZDateUtilities> instance);

    KZDateUtilities();
    KZDateUtilities(const KZDateUtilities&) = delete;
    KZDateUtilities& operator=(const KZDateUtilities&) = delete;

    // 1 January 2001 00:00:00 GMT as seconds since 1970.
    static constexpr qint64 referenceDateEpochSeconds = 978307200;
    static QDateTime referenceDate();
    static double timeIntervalSinceReferenceDate(const QDateTime& date);
    // An invalid QDateTime when the seconds are not a finite number in the
    // range QDateTime can hold.
    static QDateTime dateWithTimeIntervalSinceReferenceDate(double seconds);

    // Reads exactly "yyyy/MM/dd HH:mm:ss" as a GMT time; anything else (other
    // separators, missing or extra characters, a field out of range) answers
    // an invalid QDateTime.
    static QDateTime dateWithString(const QString& text);

    // The time in the user's locale and local time zone. The date part uses
    // `style` when `isDate` is set; the time part is medium when `withTime`
    // is set. Safe from any thread.
    QString stringWithSeconds(double seconds, unsigned style, bool isDate, bool withTime);

    // When `text` reads with dateWithString(), replaces it by its display
    // form (that style, date only) and answers true; otherwise leaves it.
    bool isValidStringDate(QString& text, unsigned style);

    // Seconds of the first moment of the same local calendar day.
    double convertDateOfCurrFile(double seconds) const;

    // The year part of a date text: the text before the first "-", else the
    // four-digit GMT year of a text in the reading form; a null QString when
    // neither applies.
    static QString yearFromDateString(const QString& text);

    // The placeholder date of items without one: the reference date.
    const QDateTime& wrongDate() const { return wrongDate_; }

    // A new formatter for a cache key "<style>-<date flag>-<time flag>".
    static Formatter updateFormatterWithKey(const QString& key);
    static QString formatterKey(unsigned style, bool isDate, bool withTime);

    // Rebuilds every cached formatter in the current locale. Also happens by
    // itself on the next display after the default QLocale changed.
    void localeChanged();

    std::size_t formatterCount() const;

private:
    void rebuildLocked();

    mutable std::recursive_mutex updateLock_;
    std::map<QString, Formatter> formatters_;
    QLocale formattersLocale_;
    QDateTime wrongDate_;
};
