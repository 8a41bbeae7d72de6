#include "app/ui/KZStateDriver.h"

#include "app/KZWindowTransitionMath.h"
#include "app/ui/KZMaravexApp.h"
#include "app/ui/KZWindowFlipAnimator.h"

#include "platform/Log.h"
#include "platform/Paths.h"
#include "services/KZFileDialogPresenter.h"
#include "services/ui/KZMenuSet.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QEnterEvent>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <initializer_list>
#include <memory>

namespace {

constexpr int kPollMs = 50;
constexpr int kWaitForLimitMs = 15000;
constexpr int kShotMargin = 28;

QWidget* visibleWidgetNamed(const QString& name)
{
    const QWidgetList widgets = QApplication::allWidgets();
    for (QWidget* widget : widgets) {
        if (widget->objectName() == name && widget->isVisible())
            return widget;
    }
    return nullptr;
}

QAction* actionNamed(KZMaravexApp* app, const QString& name)
{
    if (!app || !app->appMenu())
        return nullptr;
    const QList<QAction*> actions = app->appMenu()->findChildren<QAction*>(name);
    return actions.isEmpty() ? nullptr : actions.first();
}

void clickWidget(QWidget* widget)
{
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->click();
        return;
    }
    const QPointF centre = QRectF(widget->rect()).center();
    const QPointF global = widget->mapToGlobal(centre);
    QMouseEvent press(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QApplication::sendEvent(widget, &release);
}

bool saveShot(const QString& file, QWidget* window)
{
    QScreen* screen = window ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return false;
    QRect area = screen->geometry();
    if (window) {
        QRect shown = window->frameGeometry();
        // A popover open on the window belongs in its picture.
        if (QWidget* popup = QApplication::activePopupWidget(); popup && popup->isVisible())
            shown |= popup->frameGeometry();
        area = shown.adjusted(-kShotMargin, -kShotMargin, kShotMargin, kShotMargin) & screen->geometry();
    }
    const QPixmap shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    return !shot.isNull() && shot.save(file, "PNG");
}

} // namespace

bool KZStateDriver::startFromEnvironment(KZMaravexApp* app)
{
    const char* scriptFile = std::getenv("MARAVEX_DRIVE");
    if (!scriptFile || !*scriptFile)
        return false;
    QFile file(platform::pathText(scriptFile));
    if (!file.open(QIODevice::ReadOnly)) {
        platform::logLine(QStringLiteral("Cannot read the drive script ") + file.fileName());
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(3); });
        return false;
    }
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    auto* driver = new KZStateDriver(lines, app, qApp);
    driver->start();
    return true;
}

KZStateDriver::KZStateDriver(QStringList steps, KZMaravexApp* app, QObject* parent)
    : QObject(parent), steps_(std::move(steps)), app_(app)
{ }

void KZStateDriver::start()
{
    QTimer::singleShot(0, this, &KZStateDriver::runNext);
}

void KZStateDriver::fail(const QString& why)
{
    platform::logLine(QStringLiteral("Drive script, line %1: %2").arg(next_).arg(why));
    QCoreApplication::exit(3);
}

void KZStateDriver::runNext()
{
    while (next_ < steps_.size()) {
        const QString line = steps_.at(next_).section(QLatin1Char('#'), 0, 0).trimmed();
        if (line.isEmpty()) {
            ++next_;
            continue;
        }
        const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        int delayMs = 0;
        if (!runStep(words, &delayMs))
            return;
        if (delayMs >= 0)
            ++next_;
        QTimer::singleShot(qMax(delayMs, 0) + (delayMs < 0 ? kPollMs : 0), this, &KZStateDriver::runNext);
        return;
    }
}

// "wait" and "waitfor": a negative delay repeats the step after a poll
// interval.
bool KZStateDriver::runWaitStep(const QStringList& words, int* delayMs)
{
    const QString verb = words.first();
    const QString name = words.value(1);
    if (verb == QLatin1String("wait")) {
        *delayMs = name.toInt();
        return true;
    }
    if (verb == QLatin1String("waitfor")) {
        // Any of several names: a window that may come and go before the
        // script looks (a brief one) is named together with what follows it.
        const QStringList names = words.mid(1);
        for (const QString& each : names)
            if (visibleWidgetNamed(each)) {
                waitedMs_ = 0;
                return true;
            }
        waitedMs_ += kPollMs;
        if (waitedMs_ > kWaitForLimitMs) {
            fail(QStringLiteral("no visible widget named ") + names.join(QStringLiteral(" or ")));
            return false;
        }
        *delayMs = -1;
        return true;
    }
    return false;
}

// Pointer and keyboard steps aimed at a named widget.
bool KZStateDriver::runInputStep(const QStringList& words)
{
    const QString verb = words.first();
    const QString name = words.value(1);
    if (verb == QLatin1String("hover")) {
        QWidget* widget = visibleWidgetNamed(name);
        if (!widget) {
            fail(QStringLiteral("no visible widget named ") + name);
            return false;
        }
        // The pointer goes there too, so that what asks where it is agrees.
        const QPointF centre = QRectF(widget->rect()).center();
        const QPointF global = widget->mapToGlobal(centre);
        QCursor::setPos(global.toPoint());
        QEnterEvent enter(centre, centre, global);
        QApplication::sendEvent(widget, &enter);
        return true;
    }
    if (verb == QLatin1String("click")) {
        QWidget* widget = visibleWidgetNamed(name);
        if (!widget) {
            fail(QStringLiteral("no visible widget named ") + name);
            return false;
        }
        clickWidget(widget);
        return true;
    }
    if (verb == QLatin1String("key")) {
        QWidget* widget = visibleWidgetNamed(name);
        const QKeySequence keys = QKeySequence::fromString(words.value(2));
        if (!widget || keys.isEmpty()) {
            fail(QStringLiteral("no visible widget named ") + name + QStringLiteral(" or no key"));
            return false;
        }
        widget->setFocus();
        const QKeyCombination combination = keys[0];
        QKeyEvent press(QEvent::KeyPress, combination.key(), combination.keyboardModifiers());
        QKeyEvent release(QEvent::KeyRelease, combination.key(), combination.keyboardModifiers());
        QApplication::sendEvent(widget, &press);
        QApplication::sendEvent(widget, &release);
        return true;
    }
    if (verb == QLatin1String("type")) {
        auto* field = qobject_cast<QLineEdit*>(visibleWidgetNamed(name));
        if (!field) {
            fail(QStringLiteral("no visible text field named ") + name);
            return false;
        }
        field->setFocus();
        field->setText(words.mid(2).join(QLatin1Char(' ')));
        return true;
    }
    if (verb == QLatin1String("select")) {
        auto* list = qobject_cast<QAbstractItemView*>(visibleWidgetNamed(name));
        if (!list || !list->model() || words.size() < 3) {
            fail(QStringLiteral("no list named ") + name + QStringLiteral(" or no row"));
            return false;
        }
        // Rows of the folder the list shows (a file dialog's), by number or
        // by the text they show.
        const QModelIndex folder = list->rootIndex();
        QItemSelectionModel::SelectionFlags flags = QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
        list->setFocus();
        for (const QString& wanted : words.mid(2)) {
            bool isNumber = false;
            const int number = wanted.toInt(&isNumber);
            QModelIndex row = isNumber ? list->model()->index(number, 0, folder) : QModelIndex();
            for (int i = 0; !isNumber && !row.isValid() && i < list->model()->rowCount(folder); ++i) {
                if (list->model()->index(i, 0, folder).data().toString() == wanted)
                    row = list->model()->index(i, 0, folder);
            }
            if (!row.isValid()) {
                fail(QStringLiteral("no row ") + wanted + QStringLiteral(" in a list named ") + name);
                return false;
            }
            list->selectionModel()->setCurrentIndex(row, flags);
            flags = QItemSelectionModel::Select | QItemSelectionModel::Rows;
        }
        return true;
    }
    return false;
}

// Steps on actions, windows, menus and questions.
bool KZStateDriver::runWindowStep(const QStringList& words)
{
    const QString verb = words.first();
    const QString name = words.value(1);
    if (verb == QLatin1String("action")) {
        QAction* action = actionNamed(app_, name);
        if (!action) {
            fail(QStringLiteral("no menu item named ") + name);
            return false;
        }
        // As when a user opens the menu: the items' enabling is of now.
        KZMenuSet::shared().refresh();
        action->trigger();
        return true;
    }
    if (verb == QLatin1String("shot")) {
        // "screen" photographs the whole screen (where a window stands on it,
        // and menus that open beside it).
        const bool wholeScreen = words.value(2) == QLatin1String("screen");
        QWidget* window = wholeScreen ? nullptr
            : words.size() > 2        ? visibleWidgetNamed(words.at(2))
                                      : QApplication::activeWindow();
        if (window)
            window = window->window();
        if (!saveShot(name, window)) {
            fail(QStringLiteral("could not write ") + name);
            return false;
        }
        return true;
    }
    if (verb == QLatin1String("move")) {
        // A dialog set aside shows the window it covers.
        QWidget* widget = visibleWidgetNamed(name);
        bool xOk = false;
        bool yOk = false;
        const QPoint to(words.value(2).toInt(&xOk), words.value(3).toInt(&yOk));
        if (!widget || !xOk || !yOk) {
            fail(QStringLiteral("cannot move ") + name);
            return false;
        }
        widget->window()->move(to);
        return true;
    }
    if (verb == QLatin1String("pause")) {
        KZTransitionMath::setPauseAt(name.toDouble());
        return true;
    }
    if (verb == QLatin1String("flip")) {
        QWidget* from = visibleWidgetNamed(name);
        QWidget* to = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == words.value(2))
                to = widget;
        }
        if (!from || !to) {
            fail(QStringLiteral("no windows to flip between"));
            return false;
        }
        KZWindowFlipAnimator& animator = KZWindowFlipAnimator::sharedWindowFlipAnimator();
        animator.flipToWindow(from->window(), 0);
        animator.flipToWindow(to, words.value(3).toUInt());
        return true;
    }
    if (verb == QLatin1String("menubar")) {
        // Opens the menu of that title in the menu bar of the named window.
        QWidget* window = visibleWidgetNamed(name);
        QMenuBar* bar = window ? window->window()->findChild<QMenuBar*>() : nullptr;
        QAction* open = nullptr;
        if (bar) {
            for (QAction* action : bar->actions())
                if (action->menu() && action->text().remove(QLatin1Char('&')) == words.mid(2).join(QLatin1Char(' ')))
                    open = action;
        }
        if (!open) {
            fail(QStringLiteral("no menu to open"));
            return false;
        }
        bar->setActiveAction(open);
        return true;
    }
    if (verb == QLatin1String("press")) {
        // Presses the button of that title in the question that is open.
        QWidget* modal = QApplication::activeModalWidget();
        const QString title = words.mid(1).join(QLatin1Char(' '));
        QAbstractButton* press = nullptr;
        if (modal) {
            for (QAbstractButton* button : modal->findChildren<QAbstractButton*>())
                if (button->isVisible() && button->text().remove(QLatin1Char('&')) == title)
                    press = button;
        }
        if (!press) {
            fail(QStringLiteral("no question with a button ") + title);
            return false;
        }
        press->click();
        return true;
    }
    if (verb == QLatin1String("submenu")) {
        // Opens the submenu of that title in the menu that is open.
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QAction* open = nullptr;
        if (menu) {
            const QString title = words.mid(1).join(QLatin1Char(' '));
            for (QAction* action : menu->actions())
                if (action->menu() && action->text().remove(QLatin1Char('&')) == title)
                    open = action;
        }
        if (!open) {
            fail(QStringLiteral("no submenu to open"));
            return false;
        }
        menu->setActiveAction(open);
        return true;
    }
    return false;
}

// Answers false when the script must stop. A negative delay repeats the step
// after a poll interval.
bool KZStateDriver::runStep(const QStringList& words, int* delayMs)
{
    const QString verb = words.first();
    const auto isOneOf = [&verb](std::initializer_list<const char*> verbs) {
        return std::any_of(verbs.begin(), verbs.end(), [&verb](const char* v) { return verb == QLatin1String(v); });
    };
    if (isOneOf({"wait", "waitfor"}))
        return runWaitStep(words, delayMs);
    if (isOneOf({"hover", "click", "key", "type", "select"}))
        return runInputStep(words);
    if (isOneOf({"action", "shot", "move", "pause", "flip", "menubar", "press", "submenu"}))
        return runWindowStep(words);
    if (verb == QLatin1String("answer") || verb == QLatin1String("menu"))
        return runDialogOrMenuStep(verb, words);
    if (verb == QLatin1String("quit")) {
        // As the program's own Quit: nothing is asked, so nothing waits.
        if (app_)
            app_->quitAction();
        else
            QCoreApplication::exit(0);
        return false;
    }
    fail(QStringLiteral("unknown step ") + verb);
    return false;
}

namespace {

// Answers file dialogs from the script's "answer" steps, in order; a dialog
// with no answer waiting is shown by the presenter that was registered
// before.
class ScriptedFileDialogs : public KZFileDialogPresenter {
public:
    explicit ScriptedFileDialogs(std::shared_ptr<KZFileDialogPresenter> shown) : shown_(std::move(shown)) { }

    void queue(const QString& path)
    {
        Answer answer;
        if (path != QLatin1String("-")) {
            answer.accepted = true;
            answer.paths = {path};
        }
        answers_.push_back(answer);
    }

    void present(const Request& request, Completion done) override
    {
        if (answers_.empty()) {
            if (shown_)
                shown_->present(request, std::move(done));
            else if (done)
                done(Answer{});
            return;
        }
        Answer answer = answers_.front();
        answers_.pop_front();
        answer.checkBoxChecked = request.checkBoxChecked;
        if (!request.window) {
            if (done)
                done(answer);
            return;
        }
        QTimer::singleShot(0, qApp, [done = std::move(done), answer] {
            if (done)
                done(answer);
        });
    }

private:
    std::shared_ptr<KZFileDialogPresenter> shown_;
    std::deque<Answer> answers_;
};

QAction* keyWindowActionNamed(const QString& name)
{
    QWidget* key = QApplication::activeWindow();
    if (!key)
        return nullptr;
    const QList<QAction*> actions = key->findChildren<QAction*>(name);
    for (QAction* action : actions) {
        if (!action->isSeparator())
            return action;
    }
    for (QAction* action : key->actions()) {
        if (action->objectName() == name)
            return action;
    }
    return nullptr;
}

} // namespace

bool KZStateDriver::runDialogOrMenuStep(const QString& verb, const QStringList& words)
{
    const QString name = words.mid(1).join(QLatin1Char(' '));
    if (verb == QLatin1String("answer")) {
        if (name.isEmpty()) {
            fail(QStringLiteral("answer needs a path or -"));
            return false;
        }
        auto* scripted = dynamic_cast<ScriptedFileDialogs*>(KZFileDialogPresenter::shared().get());
        if (!scripted) {
            auto installed = std::make_shared<ScriptedFileDialogs>(KZFileDialogPresenter::shared());
            scripted = installed.get();
            KZFileDialogPresenter::setShared(std::move(installed));
        }
        scripted->queue(name);
        return true;
    }
    QAction* action = keyWindowActionNamed(name);
    if (!action)
        action = actionNamed(app_, name);
    if (!action) {
        // The program's shared menus, wherever the key window shows them.
        const QList<QAction*> shared = KZMenuSet::shared().popupMenu()->findChildren<QAction*>(name);
        if (!shared.isEmpty())
            action = shared.first();
    }
    if (!action) {
        fail(QStringLiteral("no menu item named ") + name);
        return false;
    }
    // The menus work out their enabling just before they open.
    for (QObject* holder : action->associatedObjects()) {
        if (auto* menu = qobject_cast<QMenu*>(holder))
            Q_EMIT menu->aboutToShow();
    }
    if (!action->isEnabled()) {
        fail(QStringLiteral("the menu item is disabled: ") + name);
        return false;
    }
    action->trigger();
    return true;
}
