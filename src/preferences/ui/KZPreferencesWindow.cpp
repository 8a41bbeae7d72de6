#include "preferences/ui/KZPreferencesWindow.h"

#include "preferences/KZPreferencesDefaults.h"
#include "preferences/KZPreferencesGeometry.h"
#include "preferences/KZPreferencesWindowOpen.h"
#include "preferences/ui/KZPreferencesLabelsCntrl.h"
#include "preferences/ui/KZPreferencesLimitationsCntrl.h"

#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "services/ui/KZAnimationTiming.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QToolBar>
#include <QVariantAnimation>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

namespace K = KZDefaultsKey;

constexpr QSize kGeneralPaneSize(580, 390);
constexpr int kControlsWidth = 290;

QPointer<KZPreferencesWindow>& sharedSlot()
{
    static QPointer<KZPreferencesWindow> window;
    return window;
}

QString text(const QString& key)
{
    return platform::localizedString(key);
}

// Toolbar pictures, drawn here so that they look the same on every desktop
// theme (and under a bare X server, which has none).
QIcon paintedIcon(int tag)
{
    constexpr int side = 64;
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(side / 2.0, side / 2.0);
    if (tag == KZPreferencesWindow::GeneralTag) {
        // A gear.
        QPainterPath gear;
        const int teeth = 8;
        for (int i = 0; i < teeth * 2; ++i) {
            const double a0 = (i - 0.5) * std::numbers::pi / teeth;
            const double a1 = (i + 0.5) * std::numbers::pi / teeth;
            const double r = (i % 2 == 0) ? 29.0 : 22.0;
            const QPointF p0 = centre + QPointF(std::cos(a0 + 0.08) * r, std::sin(a0 + 0.08) * r);
            const QPointF p1 = centre + QPointF(std::cos(a1 - 0.08) * r, std::sin(a1 - 0.08) * r);
            if (i == 0)
                gear.moveTo(p0);
            else
                gear.lineTo(p0);
            gear.lineTo(p1);
        }
        gear.closeSubpath();
        QPainterPath hole;
        hole.addEllipse(centre, 9, 9);
        QLinearGradient fill(0, 0, 0, side);
        fill.setColorAt(0, QColor(0x9a, 0xa3, 0xae));
        fill.setColorAt(1, QColor(0x5b, 0x64, 0x70));
        p.setPen(QPen(QColor(0x45, 0x4c, 0x56), 1.5));
        p.setBrush(fill);
        p.drawPath(gear.subtracted(hole));
    } else if (tag == KZPreferencesWindow::LimitationsTag) {
        // A folder with a no-entry sign.
        QPainterPath folder;
        folder.moveTo(6, 16);
        folder.lineTo(24, 16);
        folder.lineTo(29, 21);
        folder.lineTo(56, 21);
        folder.lineTo(56, 52);
        folder.lineTo(6, 52);
        folder.closeSubpath();
        QLinearGradient fill(0, 16, 0, 52);
        fill.setColorAt(0, QColor(0x8c, 0xc4, 0xf2));
        fill.setColorAt(1, QColor(0x4a, 0x92, 0xd6));
        p.setPen(QPen(QColor(0x2f, 0x6f, 0xb0), 1.5));
        p.setBrush(fill);
        p.drawPath(folder);
        const QPointF badge(44, 44);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(badge, 15, 15);
        p.setPen(QPen(QColor(0xd6, 0x3b, 0x32), 4.5));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(badge, 11, 11);
        p.drawLine(badge + QPointF(-7.5, -7.5), badge + QPointF(7.5, 7.5));
    } else {
        // A price tag with three coloured dots.
        QPainterPath tagShape;
        tagShape.moveTo(8, 22);
        tagShape.lineTo(22, 8);
        tagShape.lineTo(54, 8);
        tagShape.quadTo(58, 8, 58, 12);
        tagShape.lineTo(58, 32);
        tagShape.quadTo(58, 36, 54, 36);
        tagShape.lineTo(22, 36);
        tagShape.closeSubpath();
        QPainterPath hole;
        hole.addEllipse(QPointF(19, 22), 3.5, 3.5);
        p.save();
        p.translate(-4.4, 5.2);
        p.scale(1.2, 1.2);
        QLinearGradient fill(0, 8, 0, 36);
        fill.setColorAt(0, QColor(0xfc, 0xd9, 0x8a));
        fill.setColorAt(1, QColor(0xf0, 0xa8, 0x3c));
        p.setPen(QPen(QColor(0xb9, 0x7a, 0x1e), 1.5));
        p.setBrush(fill);
        p.drawPath(tagShape.subtracted(hole));
        const QColor dots[] = {QColor(0x9c, 0xb6, 0xff), QColor(0xb4, 0xd9, 0xc2), QColor(0xf7, 0xba, 0x85)};
        for (int i = 0; i < 3; ++i) {
            p.setPen(QPen(QColor(0, 0, 0, 70), 1));
            p.setBrush(dots[i]);
            p.drawEllipse(QPointF(32 + i * 8.5, 22), 3.6, 3.6);
        }
        p.restore();
    }
    p.end();
    return QIcon(pixmap);
}

QComboBox* popup(const QString& name, const std::vector<std::pair<int, QString>>& choices)
{
    auto* box = new QComboBox;
    box->setObjectName(name);
    for (const auto& [value, key] : choices)
        box->addItem(text(key), value);
    box->setFixedWidth(kControlsWidth);
    return box;
}

QLabel* caption(const QString& key)
{
    auto* label = new QLabel(text(key));
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() - 1);
    label->setFont(font);
    label->setStyleSheet(QStringLiteral("color: #6d737b;"));
    return label;
}

void selectValue(QComboBox* box, const QVariant& stored, const QVariant& fallback)
{
    const std::optional<quint64> value = KZPreferencesDefaults::unsignedValue(stored);
    int index = value ? box->findData(static_cast<int>(std::min<quint64>(*value, 1000))) : -1;
    if (index < 0)
        index = box->findData(fallback.toInt());
    const QSignalBlocker blocker(box);
    box->setCurrentIndex(index);
}

} // namespace

KZPreferencesWindow* KZPreferencesWindow::sharedWindow()
{
    QPointer<KZPreferencesWindow>& slot = sharedSlot();
    if (!slot) {
        slot = new KZPreferencesWindow;
        // Kept for the whole run; it goes with the application.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, slot, [] { destroyShared(); });
    }
    return slot;
}

void KZPreferencesWindow::showShared()
{
    sharedWindow()->openWindowInModal(false);
}

void KZPreferencesWindow::destroyShared()
{
    delete sharedSlot().data();
    sharedSlot() = nullptr;
}

KZPreferencesWindow::KZPreferencesWindow(QObject* appDelegate, QWidget* parent)
    : QMainWindow(parent), appDelegate_(appDelegate)
{
    setObjectName(QStringLiteral("preferencesWindow"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    setUnifiedTitleAndToolBarOnMac(true);

    mainTab_ = new QStackedWidget;
    mainTab_->setObjectName(QStringLiteral("mainTab"));
    generalSuperView_ = buildGeneralPane();
    limitsSuperView_ = new QWidget;
    limitsSuperView_->setObjectName(QStringLiteral("limitsSuperView"));
    new QVBoxLayout(limitsSuperView_);
    limitsSuperView_->layout()->setContentsMargins(0, 0, 0, 0);
    labelsSuperView_ = new QWidget;
    labelsSuperView_->setObjectName(QStringLiteral("labelsSuperView"));
    new QVBoxLayout(labelsSuperView_);
    labelsSuperView_->layout()->setContentsMargins(0, 0, 0, 0);
    mainTab_->addWidget(generalSuperView_);
    mainTab_->addWidget(limitsSuperView_);
    mainTab_->addWidget(labelsSuperView_);
    // The pane buttons first, so that Tab meets them before the pane under
    // them, as it would read from the top.
    buildToolbar();
    setCentralWidget(mainTab_);
    addPaneKeys();

    auto& defaults = platform::UserDefaults::standard();
    for (const QString& key : {K::reduce_transparence, K::report_empty_folders, K::check_image_metadata_option,
                               K::security_moving_to_trash}) {
        observations_.push_back(defaults.observe(key, [guard = QPointer<KZPreferencesWindow>(this)](const QVariant&) {
            QMetaObject::invokeMethod(qApp, [guard] {
                if (guard)
                    guard->readGeneralValues();
            }, Qt::QueuedConnection);
        }));
    }
    readGeneralValues();

    // Waking: the General pane in front, the title of its item.
    items_.at(GeneralTag)->setChecked(true);
    setWindowTitle(items_.at(GeneralTag)->text());
    setFixedSize(paneWindowSize(GeneralTag));
}

KZPreferencesWindow::~KZPreferencesWindow()
{
    observations_.clear();
    if (sharedSlot() == this)
        KZSetPreferencesWindowOpen(false);
}

void KZPreferencesWindow::buildToolbar()
{
    toolbar_ = new QToolBar;
    toolbar_->setObjectName(QStringLiteral("toolbar"));
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolbar_->setIconSize(QSize(32, 32));
    toolbar_->toggleViewAction()->setVisible(false);
    toolbar_->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, toolbar_);

    auto* group = new QActionGroup(this);
    group->setExclusive(true);
    const std::pair<const char16_t*, const char16_t*> items[] = {
        {u"general", u"pref_general"}, {u"limitations", u"pref_limitations"}, {u"labels", u"pref_labels"}};
    for (int tag = 0; tag < 3; ++tag) {
        auto* action = new QAction(paintedIcon(tag), text(QString::fromUtf16(items[tag].second)), this);
        action->setObjectName(QString::fromUtf16(items[tag].first));
        action->setData(tag);
        action->setCheckable(true);
        group->addAction(action);
        toolbar_->addAction(action);
        if (QWidget* button = toolbar_->widgetForAction(action)) {
            button->setObjectName(action->objectName() + QStringLiteral("Item"));
            // A toolbar keeps its buttons out of the Tab chain; these are
            // the only way to the other panes, so Tab reaches them, Space
            // presses them and the arrows go from one to the next.
            button->setFocusPolicy(Qt::TabFocus);
            button->installEventFilter(this);
        }
        connect(action, &QAction::triggered, this, [this, tag] { toolbarAction(tag); });
        items_.push_back(action);
    }
}

void KZPreferencesWindow::addPaneKeys()
{
    // The keys that turn the pages of a tabbed window on this desktop
    // (Ctrl+Tab and Ctrl+Shift+Tab among them), and Ctrl+PageDown and
    // Ctrl+PageUp as tab widgets take them; from any control of the window.
    const auto add = [this](const QList<QKeySequence>& keys, int step) {
        auto* action = new QAction(this);
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, [this, step] { cyclePanes(step); });
        addAction(action);
    };
    QList<QKeySequence> next = QKeySequence::keyBindings(QKeySequence::NextChild);
    next << QKeySequence(Qt::CTRL | Qt::Key_PageDown);
    QList<QKeySequence> previous = QKeySequence::keyBindings(QKeySequence::PreviousChild);
    // An X server gives Ctrl+Shift+Tab as Backtab with the Shift that made
    // it taken away: the bindings' Ctrl+Shift+Backtab never matches it.
    previous << QKeySequence(Qt::CTRL | Qt::Key_Backtab) << QKeySequence(Qt::CTRL | Qt::Key_PageUp);
    add(next, 1);
    add(previous, -1);
}

void KZPreferencesWindow::cyclePanes(int step)
{
    constexpr int panes = LabelsTag + 1;
    toolbarAction(((selectedTag_ + step) % panes + panes) % panes);
}

bool KZPreferencesWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const auto found = std::find_if(items_.begin(), items_.end(), [this, watched](QAction* action) {
            return toolbar_->widgetForAction(action) == watched;
        });
        int step = 0;
        if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier) {
            if (key->key() == Qt::Key_Left || key->key() == Qt::Key_Up)
                step = -1;
            else if (key->key() == Qt::Key_Right || key->key() == Qt::Key_Down)
                step = 1;
        }
        if (found != items_.end() && step != 0) {
            // As on a tab bar: the arrows bring the neighbouring pane up and
            // stop at either end.
            const int tag = int(found - items_.begin()) + step;
            if (QAction* item = toolbarItem(tag)) {
                if (QWidget* button = toolbar_->widgetForAction(item))
                    button->setFocus(Qt::TabFocusReason);
                toolbarAction(tag);
            }
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

QWidget* KZPreferencesWindow::buildGeneralPane()
{
    auto* pane = new QWidget;
    pane->setObjectName(QStringLiteral("generalSuperView"));
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(28, 22, 28, 22);
    layout->setSpacing(14);

    // Captions of a fixed width under their controls, labels right-aligned
    // before them, the whole block centred.
    auto* form = new QGridLayout;
    form->setHorizontalSpacing(12);
    form->setVerticalSpacing(4);
    form->setColumnMinimumWidth(1, kControlsWidth);

    reduceBox_ = new QCheckBox(text(QStringLiteral("pref_reduce_transparence")));
    reduceBox_->setObjectName(QStringLiteral("reduceTransparenceBox"));
    emptyFoldersPopup_ = popup(QStringLiteral("reportEmptyFoldersPopup"), {{0, QStringLiteral("pref_empty_folders_always")},
                                                                          {1, QStringLiteral("pref_empty_folders_never")},
                                                                          {2, QStringLiteral("pref_ask_each_time")}});
    imageContentPopup_ = popup(QStringLiteral("imageContentPopup"), {{0, QStringLiteral("pref_ask_each_time")},
                                                                     {1, QStringLiteral("pref_image_content_always")},
                                                                     {2, QStringLiteral("pref_image_content_never")}});
    lastCopyPopup_ = popup(QStringLiteral("lastCopyPopup"), {{1, QStringLiteral("pref_ask_each_time")},
                                                             {2, QStringLiteral("pref_last_copy_keep")},
                                                             {3, QStringLiteral("pref_last_copy_remove")}});

    int gridRow = 0;
    auto row = [form, &gridRow](const QString& labelKey, QWidget* control, const QString& captionKey) {
        auto* label = new QLabel(text(labelKey));
        form->addWidget(label, gridRow, 0, Qt::AlignRight | Qt::AlignVCenter);
        form->addWidget(control, gridRow, 1, Qt::AlignLeft | Qt::AlignVCenter);
        ++gridRow;
        QLabel* note = caption(captionKey);
        note->setFixedWidth(kControlsWidth);
        note->setMinimumHeight(note->heightForWidth(kControlsWidth));
        form->addWidget(note, gridRow, 1, Qt::AlignLeft | Qt::AlignTop);
        ++gridRow;
        form->setRowMinimumHeight(gridRow, 10);
        ++gridRow;
    };
    row(QStringLiteral("pref_appearance"), reduceBox_, QStringLiteral("pref_reduce_transparence_note"));
    row(QStringLiteral("pref_empty_folders"), emptyFoldersPopup_, QStringLiteral("pref_empty_folders_note"));
    row(QStringLiteral("pref_image_content"), imageContentPopup_, QStringLiteral("pref_image_content_note"));
    row(QStringLiteral("pref_last_copy"), lastCopyPopup_, QStringLiteral("pref_last_copy_note"));
    auto* centred = new QHBoxLayout;
    centred->addStretch(1);
    centred->addLayout(form);
    centred->addStretch(1);
    layout->addLayout(centred);
    layout->addStretch(1);

    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);

    auto* restore = new QHBoxLayout;
    restore->setSpacing(10);
    restoreValuesBtn_ = new QPushButton(text(QStringLiteral("pref_restore_values")));
    restoreValuesBtn_->setObjectName(QStringLiteral("restoreValuesBtn"));
    restoreValuesBtn_->setToolTip(text(QStringLiteral("pref_restore_values_tip")));
    restoreWarningsBtn_ = new QPushButton(text(QStringLiteral("pref_restore_warnings")));
    restoreWarningsBtn_->setObjectName(QStringLiteral("restoreWarningsBtn"));
    restoreWarningsBtn_->setToolTip(text(QStringLiteral("pref_restore_warnings_tip")));
    for (QPushButton* button : {restoreValuesBtn_, restoreWarningsBtn_})
        button->setAutoDefault(false);
    restore->addStretch(1);
    restore->addWidget(restoreValuesBtn_);
    restore->addWidget(restoreWarningsBtn_);
    layout->addLayout(restore);

    connect(reduceBox_, &QCheckBox::clicked, this, [this](bool checked) {
        platform::UserDefaults::standard().setValue(K::reduce_transparence, checked);
        reduceTransparenceAction();
    });
    auto bind = [](QComboBox* box, const QString& key) {
        connect(box, &QComboBox::activated, box, [box, key](int index) {
            platform::UserDefaults::standard().setValue(key, box->itemData(index).toInt());
        });
    };
    bind(emptyFoldersPopup_, K::report_empty_folders);
    bind(imageContentPopup_, K::check_image_metadata_option);
    bind(lastCopyPopup_, K::security_moving_to_trash);
    connect(restoreValuesBtn_, &QPushButton::clicked, this, &KZPreferencesWindow::restoreValues);
    connect(restoreWarningsBtn_, &QPushButton::clicked, this, &KZPreferencesWindow::restoreWarnings);
    return pane;
}

void KZPreferencesWindow::readGeneralValues()
{
    const auto& defaults = platform::UserDefaults::standard();
    {
        const QSignalBlocker blocker(reduceBox_);
        reduceBox_->setChecked(defaults.boolForKey(K::reduce_transparence));
    }
    selectValue(emptyFoldersPopup_, defaults.value(K::report_empty_folders),
                KZPreferencesDefaults::registeredValue(defaults, K::report_empty_folders));
    selectValue(imageContentPopup_, defaults.value(K::check_image_metadata_option),
                KZPreferencesDefaults::registeredValue(defaults, K::check_image_metadata_option));
    // The choice that removal will act on: every level but asking and
    // keeping removes a group's last member.
    const qint16 level = KZDefaultsRegistry::lastCopyLevel(defaults.value(K::security_moving_to_trash));
    selectValue(lastCopyPopup_, level == 1 || level == 2 ? level : 3, 2);
}

QAction* KZPreferencesWindow::toolbarItem(int tag) const
{
    return tag >= 0 && tag < static_cast<int>(items_.size()) ? items_.at(static_cast<size_t>(tag)) : nullptr;
}

void KZPreferencesWindow::openWindowInModal(bool modal)
{
    KZSetPreferencesWindowOpen(true);
    if (!placed_) {
        placed_ = true;
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect available = screen->availableGeometry();
            const QSize size = this->size();
            move(available.x() + (available.width() - size.width()) / 2,
                 available.y() + std::max(0, (available.height() - size.height()) / 3));
        }
    }
    setWindowModality(modal ? Qt::ApplicationModal : Qt::NonModal);
    show();
    raise();
    activateWindow();
}

void KZPreferencesWindow::closeEvent(QCloseEvent* event)
{
    // Every way of closing passes here, the title bar's button included.
    KZSetPreferencesWindowOpen(false);
    QMainWindow::closeEvent(event);
}

void KZPreferencesWindow::keyPressEvent(QKeyEvent* event)
{
    // Every change is kept as it is made, so Escape loses nothing; an open
    // pop-up or editor takes its own Escape before it reaches the window.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void KZPreferencesWindow::loadNibs()
{
    limitsCntrl_ = new KZPreferencesLimitationsCntrl(this);
    limitsSuperView_->layout()->addWidget(limitsCntrl_);
    labelsCntrl_ = new KZPreferencesLabelsCntrl(this);
    labelsSuperView_->layout()->addWidget(labelsCntrl_);
}

QWidget* KZPreferencesWindow::viewWithTag(int tag) const
{
    switch (tag) {
    case LimitationsTag:
        return limitsCntrl_ ? static_cast<QWidget*>(limitsCntrl_) : generalSuperView_;
    case LabelsTag:
        return labelsCntrl_ ? static_cast<QWidget*>(labelsCntrl_) : generalSuperView_;
    default:
        return generalSuperView_;
    }
}

QSize KZPreferencesWindow::paneWindowSize(int tag) const
{
    QSize pane = kGeneralPaneSize;
    if (tag == LimitationsTag && limitsCntrl_)
        pane = KZPreferencesLimitationsCntrl::paneSize();
    else if (tag == LabelsTag && labelsCntrl_)
        pane = KZPreferencesLabelsCntrl::paneSize();
    const int toolbarHeight = toolbar_->sizeHint().height();
    return {std::max(pane.width(), toolbar_->sizeHint().width()), toolbarHeight + pane.height()};
}

QRect KZPreferencesWindow::viewRectWithTag(int tag) const
{
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    const QMargins decorations(client.left() - frame.left(), client.top() - frame.top(),
                               frame.right() - client.right(), frame.bottom() - client.bottom());
    const QSize size = paneWindowSize(tag).grownBy(decorations);
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    return KZPreferencesGeometry::paneFrame(frame, size, available);
}

void KZPreferencesWindow::toolbarAction(int tag)
{
    if (tag < GeneralTag || tag > LabelsTag)
        return;
    if (!limitsCntrl_ && !labelsCntrl_)
        loadNibs();
    selectedTag_ = tag;
    if (QAction* item = toolbarItem(tag)) {
        item->setChecked(true);
        setWindowTitle(item->text());
    }
    QWidget* pane = viewWithTag(tag);
    auto* effect = new QGraphicsOpacityEffect(pane);
    effect->setOpacity(0.0);
    pane->setGraphicsEffect(effect);
    mainTab_->setCurrentIndex(tag);

    auto* fade = new QPropertyAnimation(effect, "opacity", effect);
    fade->setDuration(KZAnimationTiming::milliseconds(0.5));
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    // The effect goes when the fade ends: text fields draw better without it.
    connect(fade, &QPropertyAnimation::finished, pane, [pane, effect] {
        if (pane->graphicsEffect() == effect)
            pane->setGraphicsEffect(nullptr);
    });
    fade->start(QAbstractAnimation::DeleteWhenStopped);

    const QRect frame = viewRectWithTag(tag);
    applyFrame(frame, isVisible());
}

void KZPreferencesWindow::applyFrame(const QRect& frame, bool animated)
{
    const QRect outer = frameGeometry();
    const QRect client = geometry();
    const QMargins decorations(client.left() - outer.left(), client.top() - outer.top(),
                               outer.right() - client.right(), outer.bottom() - client.bottom());
    const QRect target = frame.marginsRemoved(decorations);
    if (frameAnimation_)
        frameAnimation_->stop();
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    auto finish = [this, target] {
        setGeometry(target);
        setFixedSize(target.size());
    };
    if (!animated) {
        finish();
        return;
    }
    auto* animation = new QVariantAnimation(this);
    animation->setDuration(KZAnimationTiming::milliseconds(0.15));
    animation->setStartValue(client);
    animation->setEndValue(target);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(animation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { setGeometry(value.toRect()); });
    connect(animation, &QVariantAnimation::finished, this, finish);
    frameAnimation_ = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void KZPreferencesWindow::restoreValues()
{
    KZPreferencesDefaults::restoreValues(platform::UserDefaults::standard());
    readGeneralValues();
}

void KZPreferencesWindow::restoreWarnings()
{
    KZPreferencesDefaults::restoreWarnings(platform::UserDefaults::standard());
}

void KZPreferencesWindow::reduceTransparenceAction()
{
    platform::NotificationCenter::defaultCenter().post(QStringLiteral("updateReduceTransparence"),
                                                       platform::bundleIdentifier());
}
