#include "result/window/ui/KZMarkPopovers.h"

#include "platform/StringTable.h"
#include "result/window/KZGroupRowLayout.h"
#include "services/ui/KZFocusRing.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QString localized(const char* key)
{
    return platform::localizedString(QString::fromLatin1(key));
}

platform::Popover* makePopover(QWidget* content)
{
    auto* popover = new platform::Popover();
    // The press that closes the popover must not reach the list: on a
    // second last member it would otherwise ask again at once.
    popover->setAttribute(Qt::WA_NoMouseReplay);
    popover->setContentWidget(content);
    return popover;
}

} // namespace

KZMarkInfoPopover::KZMarkInfoPopover(QObject* parent) : QObject(parent)
{
    auto* content = new QWidget;
    auto* box = new QVBoxLayout(content);
    question_ = new QLabel;
    question_->setWordWrap(true);
    question_->setMaximumWidth(260);
    box->addWidget(question_);
    auto* buttons = new QHBoxLayout;
    leaveBtn_ = new QPushButton(localized("leave_unmarked_button"));
    markBtn_ = new QPushButton(localized("mark_anyway_button"));
    markBtn_->setDefault(true);
    // The style outlines a default button as it outlines the focus: the
    // focus on it shows by a ring of its own.
    KZFocusRing::showWhileFocused(markBtn_, 4);
    buttons->addStretch();
    buttons->addWidget(leaveBtn_);
    buttons->addWidget(markBtn_);
    box->addLayout(buttons);
    dontShow_ = new QCheckBox(localized("dont_ask_again_check"));
    box->addWidget(dontShow_);
    popover_ = makePopover(content);
    connect(markBtn_, &QPushButton::clicked, this, [this] { answer(true); });
    connect(leaveBtn_, &QPushButton::clicked, this, [this] { answer(false); });
    // Closed without an answer (a click elsewhere, Esc): the request that
    // asked gets "no" and the remembered answer stays.
    connect(popover_, &platform::Popover::closed, this, [this] { gate_.dismiss(); });
}

KZMarkInfoPopover::~KZMarkInfoPopover()
{
    delete popover_;
}

void KZMarkInfoPopover::askForMark(const KZFoundItemRef& item, QWidget* anchor, const QRect& rect,
                                   KZLastMemberGate::Verdict verdict)
{
    if (!gate_.ask(item, std::move(verdict))) {
        popover_->close();
        return;
    }
    question_->setText(localized("last_member_question").arg(item ? item->name() : QString()));
    popover_->showRelativeTo(anchor, rect, platform::Popover::Edge::Below);
}

void KZMarkInfoPopover::answer(bool mark)
{
    gate_.answer(mark, dontShow_->isChecked());
    popover_->close();
}

KZGroupOptionsPopover::KZGroupOptionsPopover(QObject* parent) : QObject(parent)
{
    auto* content = new QWidget;
    auto* box = new QVBoxLayout(content);
    showBtn_ = new QPushButton;
    revealBtn_ = new QPushButton(localized("reveal_group_button"));
    allGroups_ = new QCheckBox(localized("show_in_all_groups_check"));
    box->addWidget(showBtn_);
    box->addWidget(allGroups_);
    box->addWidget(revealBtn_);
    popover_ = makePopover(content);
    connect(showBtn_, &QPushButton::clicked, this, [this] { choose(ShowMissing); });
    connect(revealBtn_, &QPushButton::clicked, this, [this] { choose(Reveal); });
}

KZGroupOptionsPopover::~KZGroupOptionsPopover()
{
    delete popover_;
}

void KZGroupOptionsPopover::showInfo(const KZFoundItemGroupRef& group, bool disableControls, QWidget* anchor,
                                     const QRect& rect)
{
    currItem_.reset();
    if (popover_->isVisible()) {
        popover_->close();
        return;
    }
    currItem_ = group;
    showBtn_->setText(group ? KZGroupOptions::showMissingTitle(*group) : QString());
    showBtn_->setEnabled(!disableControls);
    allGroups_->setEnabled(!disableControls);
    revealBtn_->setEnabled(true);
    popover_->showRelativeTo(anchor, rect, platform::Popover::Edge::Below);
}

void KZGroupOptionsPopover::choose(int tag)
{
    const KZFoundItemGroupRef group = currItem_.lock();
    const bool forAll = allGroups_->isChecked();
    currItem_.reset();
    popover_->close();
    if (!group)
        return;
    // After the press is done with, so the list is not rebuilt under it.
    QTimer::singleShot(0, this, [this, group, tag, forAll] { Q_EMIT chosen(group, tag, forAll); });
}
