#include "app/search/ui/KZSearchWindowTextView.h"

#include "platform/StringTable.h"

#include <QFont>
#include <QPainter>

KZSearchWindowTextView::KZSearchWindowTextView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    const QString language = platform::localizedString(QStringLiteral("language"));
    if (language == QStringLiteral("de") || language == QStringLiteral("fr"))
        fontSize_ = 30.0;
}

void KZSearchWindowTextView::lowTextColorwithAlpha(double alpha)
{
    alpha_ = alpha;
    setVisible(alpha > 0.001);
    update();
}

void KZSearchWindowTextView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont font = this->font();
    font.setWeight(QFont::ExtraLight);
    font.setPixelSize(qRound(fontSize_));
    painter.setFont(font);
    const QRect box = rect().adjusted(0, -1, 0, -1);
    painter.setPen(QColor(0, 0, 0, qRound(127 * alpha_)));
    painter.drawText(box.translated(1, 1), Qt::AlignCenter, text_);
    painter.setPen(QColor(255, 255, 255, qRound(255 * alpha_)));
    painter.drawText(box, Qt::AlignCenter, text_);
}
