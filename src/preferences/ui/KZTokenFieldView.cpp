#include "preferences/ui/KZTokenFieldView.h"

#include "preferences/KZLimitationsList.h"
#include "preferences/ui/KZTokenDelegate.h"

#include <QPainter>

KZTokenFieldView::KZTokenFieldView(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void KZTokenFieldView::setText(const QString& text)
{
    if (text_ == text)
        return;
    text_ = text;
    setToolTip(KZLimitationsList::tokensOf(text).join(QStringLiteral(", ")));
    update();
}

void KZTokenFieldView::setPlaceholderText(const QString& placeholder)
{
    if (placeholder_ == placeholder)
        return;
    placeholder_ = placeholder;
    update();
}

void KZTokenFieldView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    KZTokenDelegate::paintTokens(&painter, rect(), KZLimitationsList::tokensOf(text_), font(), placeholder_);
}
