#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QList>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <optional>

class QPainter;

// How text that does not fit is broken or cut.
enum class KZLineBreakMode {
    ByWordWrapping,
    ByCharWrapping,
    ByClipping,
    ByTruncatingHead,
    ByTruncatingTail,
    ByTruncatingMiddle,
};

struct KZParagraphStyle {
    Qt::Alignment alignment = Qt::AlignLeft;
    KZLineBreakMode lineBreakMode = KZLineBreakMode::ByWordWrapping;
    bool operator==(const KZParagraphStyle&) const = default;
};

// Text in runs of equal attributes, with images inline (one character each,
// U+FFFC in string()), as the custom cells, the tab strip and the progress
// panes draw it. Attributes that a run does not carry fall back to the
// painter's font, black text and the first run's paragraph style.
class KZAttributedString {
public:
    struct Run {
        QString text;                     // empty for an image run
        QImage image;                     // null for a text run
        QString imageFileName;            // the name an image run was given
        std::optional<QFont> font;
        std::optional<QColor> color;
        std::optional<KZParagraphStyle> paragraphStyle;
        double baselineOffset = 0;        // points, upwards
        bool isImage() const { return !image.isNull(); }
        qsizetype length() const { return isImage() ? 1 : text.size(); }
    };

    KZAttributedString() = default;
    explicit KZAttributedString(const QString& text); // one run, no attributes
    static KZAttributedString fromRuns(const QList<Run>& runs);
    static KZAttributedString imageRun(const QImage& image, const QString& fileName, double baselineOffset);

    const QList<Run>& runs() const { return runs_; }
    QString string() const;
    qsizetype length() const;
    bool isEmpty() const { return length() == 0; }

    void append(const KZAttributedString& other);
    // Replaces the characters [start, start + count) by `with`, which keeps
    // its own attributes. Out-of-range parts are clipped.
    void replaceCharacters(qsizetype start, qsizetype count, const KZAttributedString& with);
    // The characters [from, to) with their attributes.
    KZAttributedString attributedSubstring(qsizetype from, qsizetype to) const;
    // Replaces the first occurrence of `placeholder`; false when there is none.
    bool replaceFirst(const QString& placeholder, const KZAttributedString& with);

    // The paragraph style in force (the first run's), or the default one.
    KZParagraphStyle paragraphStyle() const;

    // Size on one line, in points, as drawn without a width limit.
    QSizeF size(const QFont& fallbackFont = QFont()) const;
    // Draws into `rect` by the paragraph style: truncating and clipping
    // modes keep one line (centred vertically); wrapping modes wrap.
    void draw(QPainter& painter, const QRectF& rect) const;

    bool operator==(const KZAttributedString& other) const;

private:
    QList<Run> runs_;
};
