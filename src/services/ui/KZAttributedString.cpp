#include "services/ui/KZAttributedString.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QUrl>

#include <algorithm>

namespace {

// The object replacement character stands for an inline image in string(),
// as it does in every attributed-text system.
constexpr char16_t kAttachmentCharacter = u'\uFFFC';

QFont fontOf(const KZAttributedString::Run& run, const QFont& fallback)
{
    return run.font ? *run.font : fallback;
}

QSizeF imageSize(const QImage& image)
{
    return image.deviceIndependentSize();
}

bool sameAttributes(const KZAttributedString::Run& a, const KZAttributedString::Run& b)
{
    return !a.isImage() && !b.isImage() && a.font == b.font && a.color == b.color
        && a.paragraphStyle == b.paragraphStyle && a.baselineOffset == b.baselineOffset;
}

// One line: each run's advance, ascent above the baseline and descent below.
struct LineMetrics {
    QList<qreal> widths;
    qreal width = 0;
    qreal ascent = 0;
    qreal descent = 0;
};

LineMetrics measure(const QList<KZAttributedString::Run>& runs, const QFont& fallback)
{
    LineMetrics m;
    const QFontMetricsF base(fallback);
    m.ascent = base.ascent();
    m.descent = base.descent();
    for (const auto& run : runs) {
        qreal w = 0;
        if (run.isImage()) {
            const QSizeF s = imageSize(run.image);
            w = s.width();
            m.ascent = std::max(m.ascent, s.height() + run.baselineOffset);
            m.descent = std::max(m.descent, -run.baselineOffset);
        } else {
            const QFontMetricsF fm(fontOf(run, fallback));
            w = fm.horizontalAdvance(run.text);
            m.ascent = std::max(m.ascent, fm.ascent() + run.baselineOffset);
            m.descent = std::max(m.descent, fm.descent() - run.baselineOffset);
        }
        m.widths.append(w);
        m.width += w;
    }
    return m;
}

// Cuts the runs so that they fit `available` with an ellipsis at the end. A
// run that crosses the limit is elided in its own font; the runs after it
// are dropped.
QList<KZAttributedString::Run> truncatedTail(const QList<KZAttributedString::Run>& runs,
                                             const LineMetrics& m, qreal available, const QFont& fallback)
{
    QList<KZAttributedString::Run> out;
    qreal used = 0;
    for (qsizetype i = 0; i < runs.size(); ++i) {
        const auto& run = runs.at(i);
        if (used + m.widths.at(i) <= available) {
            out.append(run);
            used += m.widths.at(i);
            continue;
        }
        KZAttributedString::Run cut = run;
        const QFont font = fontOf(run, out.isEmpty() ? fallback : fontOf(out.last(), fallback));
        if (run.isImage()) {
            cut = KZAttributedString::Run{};
            cut.font = font;
            cut.color = run.color;
            cut.text = QStringLiteral("\u2026");
        } else {
            cut.text = QFontMetricsF(font).elidedText(run.text, Qt::ElideRight, available - used);
            if (cut.text.isEmpty())
                cut.text = QStringLiteral("\u2026");
        }
        out.append(cut);
        break;
    }
    return out;
}

} // namespace

KZAttributedString::KZAttributedString(const QString& text)
{
    if (!text.isEmpty())
        runs_.append(Run{text, {}, {}, {}, {}, {}, 0});
}

KZAttributedString KZAttributedString::fromRuns(const QList<Run>& runs)
{
    KZAttributedString s;
    for (const Run& run : runs) {
        KZAttributedString one;
        one.runs_.append(run);
        s.append(one);
    }
    return s;
}

KZAttributedString KZAttributedString::imageRun(const QImage& image, const QString& fileName, double baselineOffset)
{
    KZAttributedString s;
    Run run;
    run.image = image.isNull() ? QImage(1, 1, QImage::Format_ARGB32_Premultiplied) : image;
    if (image.isNull())
        run.image.fill(Qt::transparent);
    run.imageFileName = fileName;
    run.baselineOffset = baselineOffset;
    s.runs_.append(run);
    return s;
}

QString KZAttributedString::string() const
{
    QString s;
    for (const auto& run : runs_)
        s += run.isImage() ? QString(QChar(kAttachmentCharacter)) : run.text;
    return s;
}

qsizetype KZAttributedString::length() const
{
    qsizetype n = 0;
    for (const auto& run : runs_)
        n += run.length();
    return n;
}

void KZAttributedString::append(const KZAttributedString& other)
{
    for (const auto& run : other.runs_) {
        if (!runs_.isEmpty() && sameAttributes(runs_.last(), run))
            runs_.last().text += run.text;
        else if (run.length() > 0)
            runs_.append(run);
    }
}

KZAttributedString KZAttributedString::attributedSubstring(qsizetype from, qsizetype to) const
{
    KZAttributedString out;
    qsizetype pos = 0;
    for (const auto& run : runs_) {
        const qsizetype runStart = pos;
        const qsizetype runEnd = pos + run.length();
        pos = runEnd;
        const qsizetype a = std::max(from, runStart);
        const qsizetype b = std::min(to, runEnd);
        if (a >= b)
            continue;
        Run piece = run;
        if (!run.isImage())
            piece.text = run.text.mid(a - runStart, b - a);
        KZAttributedString one;
        one.runs_.append(piece);
        out.append(one);
    }
    return out;
}

void KZAttributedString::replaceCharacters(qsizetype start, qsizetype count, const KZAttributedString& with)
{
    const qsizetype total = length();
    start = std::clamp<qsizetype>(start, 0, total);
    const qsizetype end = std::clamp<qsizetype>(start + std::max<qsizetype>(count, 0), start, total);
    KZAttributedString result = attributedSubstring(0, start);
    result.append(with);
    result.append(attributedSubstring(end, total));
    runs_ = result.runs_;
}

bool KZAttributedString::replaceFirst(const QString& placeholder, const KZAttributedString& with)
{
    if (placeholder.isEmpty())
        return false;
    const qsizetype at = string().indexOf(placeholder);
    if (at < 0)
        return false;
    replaceCharacters(at, placeholder.size(), with);
    return true;
}

KZParagraphStyle KZAttributedString::paragraphStyle() const
{
    for (const auto& run : runs_) {
        if (run.paragraphStyle)
            return *run.paragraphStyle;
        break;
    }
    return {};
}

QSizeF KZAttributedString::size(const QFont& fallbackFont) const
{
    const LineMetrics m = measure(runs_, fallbackFont);
    if (runs_.isEmpty())
        return {0, 0};
    return {m.width, m.ascent + m.descent};
}

void KZAttributedString::draw(QPainter& painter, const QRectF& rect) const
{
    if (runs_.isEmpty() || rect.isEmpty())
        return;
    const KZParagraphStyle style = paragraphStyle();
    const QFont fallback = painter.font();
    painter.save();
    painter.setClipRect(rect, Qt::IntersectClip);

    if (style.lineBreakMode == KZLineBreakMode::ByWordWrapping
        || style.lineBreakMode == KZLineBreakMode::ByCharWrapping) {
        QTextDocument doc;
        doc.setDocumentMargin(0);
        doc.setDefaultFont(fallback);
        QTextOption option(style.alignment);
        option.setWrapMode(style.lineBreakMode == KZLineBreakMode::ByCharWrapping
                               ? QTextOption::WrapAnywhere : QTextOption::WordWrap);
        doc.setDefaultTextOption(option);
        doc.setTextWidth(rect.width());
        QTextCursor cursor(&doc);
        int imageNumber = 0;
        for (const auto& run : runs_) {
            if (run.isImage()) {
                const QUrl name(QStringLiteral("kzimage:%1").arg(imageNumber++));
                doc.addResource(QTextDocument::ImageResource, name, run.image);
                QTextImageFormat format;
                format.setName(name.toString());
                const QSizeF s = imageSize(run.image);
                format.setWidth(s.width());
                format.setHeight(s.height());
                cursor.insertImage(format);
            } else {
                QTextCharFormat format;
                format.setFont(fontOf(run, fallback));
                format.setForeground(run.color ? *run.color : QColor(Qt::black));
                cursor.insertText(run.text, format);
            }
        }
        painter.translate(rect.topLeft());
        doc.drawContents(&painter, QRectF(QPointF(0, 0), rect.size()));
        painter.restore();
        return;
    }

    LineMetrics m = measure(runs_, fallback);
    QList<Run> line = runs_;
    if (m.width > rect.width()) {
        const bool oneTextRun = runs_.size() == 1 && !runs_.first().isImage();
        if (oneTextRun && (style.lineBreakMode == KZLineBreakMode::ByTruncatingHead
                           || style.lineBreakMode == KZLineBreakMode::ByTruncatingMiddle)) {
            const Qt::TextElideMode mode = style.lineBreakMode == KZLineBreakMode::ByTruncatingHead
                ? Qt::ElideLeft : Qt::ElideMiddle;
            line.first().text = QFontMetricsF(fontOf(line.first(), fallback))
                                    .elidedText(line.first().text, mode, rect.width());
        } else if (style.lineBreakMode != KZLineBreakMode::ByClipping) {
            // Mixed runs are cut at the end whatever the mode: an image
            // must not be split, and a head or middle cut across runs of
            // different fonts would read worse than a tail cut.
            line = truncatedTail(runs_, m, rect.width(), fallback);
        }
        m = measure(line, fallback);
    }

    qreal x = rect.left();
    if (style.alignment & Qt::AlignRight)
        x = rect.right() - m.width;
    else if (style.alignment & Qt::AlignHCenter)
        x = rect.left() + (rect.width() - m.width) / 2;
    if (style.lineBreakMode == KZLineBreakMode::ByClipping)
        x = std::max(x, rect.left());
    const qreal baseline = rect.top() + (rect.height() - (m.ascent + m.descent)) / 2 + m.ascent;

    for (qsizetype i = 0; i < line.size(); ++i) {
        const Run& run = line.at(i);
        if (run.isImage()) {
            const QSizeF s = imageSize(run.image);
            painter.drawImage(QRectF(QPointF(x, baseline - run.baselineOffset - s.height()), s), run.image);
        } else {
            painter.setFont(fontOf(run, fallback));
            painter.setPen(run.color ? *run.color : QColor(Qt::black));
            painter.drawText(QPointF(x, baseline - run.baselineOffset), run.text);
        }
        x += m.widths.at(i);
    }
    painter.restore();
}

bool KZAttributedString::operator==(const KZAttributedString& other) const
{
    if (runs_.size() != other.runs_.size())
        return false;
    for (qsizetype i = 0; i < runs_.size(); ++i) {
        const Run& a = runs_.at(i);
        const Run& b = other.runs_.at(i);
        if (a.text != b.text || a.image != b.image || a.imageFileName != b.imageFileName || a.font != b.font
            || a.color != b.color || a.paragraphStyle != b.paragraphStyle || a.baselineOffset != b.baselineOffset)
            return false;
    }
    return true;
}
