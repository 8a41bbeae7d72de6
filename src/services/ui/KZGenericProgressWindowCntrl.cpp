#include "services/ui/KZGenericProgressWindowCntrl.h"

#include "services/ui/KZLinearProgressIndicatorView.h"
#include "services/ui/KZProgressWindow.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

KZGenericProgressWindowCntrl::KZGenericProgressWindowCntrl(QWidget* parent)
    : QObject(nullptr)
{
    auto* window = new KZProgressWindow(this, parent);
    window_ = window;
    window->setObjectName(QStringLiteral("Progress"));
    window->setWindowTitle(tr("Progress"));
    window->setFixedSize(460, 128);

    infoFld_ = new QLabel(window);
    infoFld_->setObjectName(QStringLiteral("infoFld"));
    infoFld_->setTextFormat(Qt::PlainText); // file names, never markup
    QFont infoFont = infoFld_->font();
    infoFont.setBold(true);
    infoFld_->setFont(infoFont);
    infoFld_->setMinimumWidth(1); // long paths must not widen the window

    spinning_ = new KZLinearProgressIndicatorView(window);
    spinning_->setObjectName(QStringLiteral("spinning"));
    spinning_->setFixedHeight(20);

    countTxt_ = new QLabel(tr("Items:"), window);
    countTxt_->setObjectName(QStringLiteral("countTxt"));
    countFld_ = new QLabel(tr("%1 of %2"), window);
    countFld_->setObjectName(QStringLiteral("countFld"));
    countFld_->setTextFormat(Qt::PlainText);
    countFld_->setMinimumWidth(1);

    stopBtn_ = new QPushButton(tr("Stop"), window);
    stopBtn_->setObjectName(QStringLiteral("stopBtn"));
    // Return must not stop the work by accident.
    stopBtn_->setAutoDefault(false);
    stopBtn_->setDefault(false);
    connect(stopBtn_, &QPushButton::clicked, this, &KZGenericProgressWindowCntrl::stopAction);

    auto* layout = new QGridLayout(window);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setHorizontalSpacing(8);
    layout->setVerticalSpacing(10);
    layout->addWidget(infoFld_, 0, 0, 1, 3);
    layout->addWidget(spinning_, 1, 0, 1, 3);
    auto* count = new QHBoxLayout;
    count->setSpacing(6);
    count->addWidget(countTxt_);
    count->addWidget(countFld_, 1);
    layout->addLayout(count, 2, 0, 1, 2);
    layout->addWidget(stopBtn_, 2, 2, Qt::AlignRight);
    layout->setColumnStretch(0, 1);

    countStr_ = countFld_->text();
    // Nothing in the window takes the keyboard focus but the button.
    window->setFocus();
}

KZGenericProgressWindowCntrl::~KZGenericProgressWindowCntrl()
{
    delete window_.data();
}

void KZGenericProgressWindowCntrl::stopAction()
{
    if (!wasStopped_.exchange(true, std::memory_order_acq_rel))
        Q_EMIT stopAsked();
}
