#include "result/window/ui/KZPopoverResultSourceInfo.h"

#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "services/ui/KZFileIcons.h"
#include "services/ui/KZWorkspace.h"
#include "services/ui/Popover.h"
#include "settings/KZDefaultsKeys.h"

#include <QCheckBox>
#include <QCursor>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QVBoxLayout>

namespace {

constexpr int kRevealTag = 100;
constexpr int kIconSize = 48;
constexpr int kPanelWidth = 300;

QString localized(const char* key)
{
    return platform::localizedString(QString::fromLatin1(key));
}

QLabel* makeText(QWidget* parent, double points, bool bold, const char* colour)
{
    auto* label = new QLabel(parent);
    QFont font = label->font();
    font.setPointSizeF(points);
    if (bold)
        font.setWeight(QFont::DemiBold);
    label->setFont(font);
    label->setStyleSheet(QStringLiteral("color: %1;").arg(QLatin1String(colour)));
    label->setWordWrap(true);
    return label;
}

} // namespace

KZPopoverResultSourceInfo::KZPopoverResultSourceInfo(QWidget* parent, KZWorkspace* workspace)
    : QObject(parent), workspace_(workspace)
{
    popover_ = new platform::Popover(parent);
    popover_->setObjectName(QStringLiteral("sourceInfoPopover"));
    mainView_ = new QWidget;
    mainView_->setFixedWidth(kPanelWidth);
    auto* main = new QVBoxLayout(mainView_);
    main->setContentsMargins(6, 2, 6, 4);
    main->setSpacing(8);

    allItemsView_ = new QWidget(mainView_);
    auto* all = new QVBoxLayout(allItemsView_);
    all->setContentsMargins(0, 0, 0, 0);
    all->setSpacing(4);
    allItemsTitle_ = makeText(allItemsView_, 11, true, "#1f2530");
    removedAllFld_ = makeText(allItemsView_, 9.5, false, "#4a5464");
    removedAllFld_->setObjectName(QStringLiteral("removedAllFld"));
    all->addWidget(allItemsTitle_);
    all->addWidget(removedAllFld_);

    locationView_ = new QWidget(mainView_);
    auto* location = new QHBoxLayout(locationView_);
    location->setContentsMargins(0, 0, 0, 0);
    location->setSpacing(10);
    iconImg_ = new QLabel(locationView_);
    iconImg_->setFixedSize(kIconSize, kIconSize);
    location->addWidget(iconImg_, 0, Qt::AlignTop);
    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    name_ = makeText(locationView_, 11, true, "#1f2530");
    name_->setObjectName(QStringLiteral("sourceInfoName"));
    pathBtn_ = makeText(locationView_, 9, false, "#4a5464");
    pathBtn_->setObjectName(QStringLiteral("sourceInfoPath"));
    pathBtn_->setTextFormat(Qt::RichText);
    pathBtn_->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    connect(pathBtn_, &QLabel::linkActivated, this, [this](const QString& link) { pathElementClicked(link); });
    markedLocationFld_ = makeText(locationView_, 9.5, false, "#4a5464");
    markedLocationFld_->setObjectName(QStringLiteral("markedLocationFld"));
    removedLocationFld_ = makeText(locationView_, 9.5, false, "#4a5464");
    removedLocationFld_->setObjectName(QStringLiteral("removedLocationFld"));
    column->addWidget(name_);
    column->addWidget(pathBtn_);
    column->addSpacing(4);
    column->addWidget(markedLocationFld_);
    column->addWidget(removedLocationFld_);
    location->addLayout(column, 1);

    auto* line = new QFrame(mainView_);
    line->setFrameShape(QFrame::HLine);
    line->setStyleSheet(QStringLiteral("color: #d5d9df;"));
    switch_ = new QCheckBox(localized("source_info_show_marked"), mainView_);
    switch_->setObjectName(QStringLiteral("showMarkedInfoSwitch"));
    QFont small = switch_->font();
    small.setPointSizeF(9);
    switch_->setFont(small);

    main->addWidget(allItemsView_);
    main->addWidget(locationView_);
    main->addWidget(line);
    main->addWidget(switch_);
    allItemsView_->hide();
    locationView_->hide();
    popover_->setContentWidget(mainView_);

    pathMenu_ = new QMenu(pathBtn_);
    QAction* reveal = pathMenu_->addAction(localized("source_info_reveal"));
    reveal->setData(kRevealTag);
    connect(pathMenu_, &QMenu::triggered, this,
            [this](QAction* action) { contextualMenuAction(action->data().toInt(), clickedElement_); });
    connect(switch_, &QCheckBox::clicked, this, [this](bool on) { changeInfoAction(on); });
    connect(popover_, &platform::Popover::closed, this, [this] { popoverWillClose(); });
}

KZPopoverResultSourceInfo::~KZPopoverResultSourceInfo()
{
    delete popover_.data();
}

QString KZPopoverResultSourceInfo::appropriateInfoString() const
{
    const auto item = currItem_.lock();
    return item ? item->appropriateInfoString(ownerTag_, KZResultSourcesTypeItem::showMarkedInfo()) : QString();
}

QString KZPopoverResultSourceInfo::appriopiateRemoveString() const
{
    const auto item = currItem_.lock();
    return item ? item->appriopiateRemoveString(ownerTag_, KZResultSourcesTypeItem::showMarkedInfo()) : QString();
}

void KZPopoverResultSourceInfo::showInfoWithItem(const KZResultSourcesTypeItemRef& item, QWidget* senderView,
                                                 quint64 ownerTag)
{
    if (!item)
        return;
    currItem_ = item;
    ownerTag_ = ownerTag;
    switch_->setChecked(KZResultSourcesTypeItem::showMarkedInfo());
    const QString removed = appriopiateRemoveString();
    const bool typeRow = item->isTypeRow();
    if (typeRow) {
        allItemsTitle_->setText(item->name);
        removedAllFld_->setText(removed);
    } else {
        const bool marked = item->isMarkedRow();
        // The marked row stands for no place on disk.
        iconImg_->setVisible(!marked);
        if (!marked)
            iconImg_->setPixmap(QPixmap::fromImage(KZFileIcons::iconOfItemWithURL(item->url, QSize(kIconSize, kIconSize))));
        name_->setText(item->name);
        pathBtn_->setVisible(!marked && !item->url.empty());
        setPath(marked ? std::filesystem::path() : item->url);
        markedLocationFld_->setText(appropriateInfoString());
        removedLocationFld_->setText(removed);
    }
    allItemsView_->setVisible(typeRow);
    locationView_->setVisible(!typeRow);
    mainView_->adjustSize();
    oldSenderBtn_ = senderView;
    if (senderView)
        popover_->showRelativeTo(senderView, senderView->rect(), platform::Popover::Edge::Right);
}

void KZPopoverResultSourceInfo::setPath(const std::filesystem::path& path)
{
    pathShown_ = path;
    pathElements_.clear();
    std::filesystem::path walked;
    for (const auto& part : path) {
        walked /= part;
        pathElements_.push_back(walked);
    }
    // Each element is a link to its own menu; a long path wraps between
    // elements instead of being cut.
    QStringList links;
    for (size_t i = 0; i < pathElements_.size(); ++i)
        links << QStringLiteral("<a href=\"%1\" style=\"color:#2d5fa8; text-decoration:none;\">%2</a>")
                     .arg(i)
                     .arg(platform::elementText(pathElements_[i]).toHtmlEscaped());
    pathBtn_->setText(links.join(QStringLiteral(" <span style=\"color:#8a94a3;\">\u203A</span> ")));
}

void KZPopoverResultSourceInfo::pathElementClicked(const QString& link)
{
    bool ok = false;
    const qsizetype index = link.toLongLong(&ok);
    if (!ok || index < 0 || index >= static_cast<qsizetype>(pathElements_.size()))
        return;
    clickedElement_ = pathElements_[static_cast<size_t>(index)];
    pathMenu_->popup(QCursor::pos());
}

void KZPopoverResultSourceInfo::contextualMenuAction(int tag, const std::filesystem::path& element)
{
    if (tag != kRevealTag || element.empty())
        return;
    KZWorkspace& workspace = workspace_ ? *workspace_ : KZWorkspace::system();
    workspace.revealItems({element});
}

void KZPopoverResultSourceInfo::changeInfoAction(bool showMarked)
{
    platform::UserDefaults::standard().setValue(KZDefaultsKey::show_marked_info, showMarked);
    markedLocationFld_->setText(appropriateInfoString());
    platform::NotificationCenter::defaultCenter().post(QStringLiteral("updateInfoString"),
                                                      platform::bundleIdentifier());
}

void KZPopoverResultSourceInfo::popoverWillClose()
{
    const void* sender = oldSenderBtn_.data();
    // Without its button nobody waits for the news; posted with no object
    // it would reach every observer of the name.
    if (!sender)
        return;
    platform::NotificationCenter::defaultCenter().post(QStringLiteral("popoverWillClose"), sender);
}
