#include "services/KZErrorDelegate.h"

#include "platform/Log.h"
#include "platform/MainThread.h"
#include "platform/SharedInstance.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"

#include <QObject>
#include <QPointer>

namespace {

platform::SharedInstance<KZErrorDelegate>& sharedInstance()
{
    static platform::SharedInstance<KZErrorDelegate> instance([] { return std::make_unique<KZErrorDelegate>(); });
    return instance;
}

const QString kErrorsTable = QStringLiteral("Errors");
const QString kDefaultTable = QStringLiteral("Default");
const QString kSuppressionTitle = QStringLiteral("suppression_message_text");

using Alert = KZAlertPresenter::Alert;
using Answer = KZAlertPresenter::Answer;
using Style = KZAlertPresenter::Style;

// The text of `key` from `table`, else from the other table: an error
// question's buttons ("Stop", "Move to Trash") are kept with every other
// button in "Default". No key means no text; a key missing from both tables
// shows as itself.
QString lookUp(const QString& key, const QString& table)
{
    if (key.isEmpty())
        return {};
    const QString text = platform::localizedString(key, table);
    if (text != key)
        return text;
    return platform::localizedString(key, table == kErrorsTable ? kDefaultTable : kErrorsTable);
}

QStringList stringList(const QVariant& value)
{
    if (value.typeId() == QMetaType::QString)
        return {value.toString()};
    return value.toStringList();
}

QPointer<QObject> windowOf(const QVariantMap& request)
{
    const QVariant value = request.value(KZAlertKey::window);
    if (value.metaType() == QMetaType::fromType<QPointer<QObject>>())
        return value.value<QPointer<QObject>>();
    return QPointer<QObject>(value.value<QObject*>());
}

QVariantMap baseRequest(const QString& textKeyName, const QString& textKey, const QString& messKey,
                        const QStringList& names)
{
    return {{textKeyName, textKey},
            {KZAlertKey::messKey, messKey},
            {KZAlertKey::names, names}};
}

// A question's request: its texts, its three buttons and whether it is an error.
QVariantMap questionRequest(const QString& message, const QString& infoMessage, const QStringList& names,
                            const QString& defaultButton, const QString& alternateButton,
                            const QString& otherButton, bool treatsAsError)
{
    QVariantMap request = baseRequest(KZAlertKey::info, message, infoMessage, names);
    request.insert(KZAlertKey::dbuttonName, defaultButton);
    request.insert(KZAlertKey::abuttonName, alternateButton);
    request.insert(KZAlertKey::obuttonName, otherButton);
    request.insert(KZAlertKey::treatsAsError, treatsAsError);
    return request;
}

// The button keys that decline: "don't ...", "no", "stop" (stored as
// "srop_btn"), "cancel".
bool declines(const QString& key)
{
    return key.startsWith(QLatin1String("dont_")) || key == QLatin1String("no_button")
        || key.startsWith(QLatin1String("srop")) || key.startsWith(QLatin1String("stop"))
        || key.contains(QLatin1String("cancel"), Qt::CaseInsensitive);
}

// The declining button of a question, found by its key rather than its
// place: most questions put it second, but the shared-volume question puts
// "stop" first and "delete_all_button" second. Without a declining key the
// last button is taken, the "no" of the usual "yes, no" order.
qint64 cancelAnswer(const QStringList& keys)
{
    qint64 last = KZAlertPresenter::FirstButton;
    for (qsizetype i = 0; i < keys.size(); ++i) {
        if (keys.at(i).isEmpty())
            continue;
        if (declines(keys.at(i)))
            return KZAlertPresenter::FirstButton + i;
        last = KZAlertPresenter::FirstButton + i;
    }
    return last;
}

// The alert of a question, with the apply-to-all box when asked for.
Alert questionAlert(const QVariantMap& request)
{
    const bool treatsAsError = request.value(KZAlertKey::treatsAsError).toBool();
    const QString& table = treatsAsError ? kErrorsTable : kDefaultTable;
    Alert alert;
    alert.style = treatsAsError ? Style::Warning : Style::Informational;
    alert.messageText = KZErrorDelegate::replaceContentOfString(
        lookUp(request.value(KZAlertKey::info).toString(), table),
        stringList(request.value(KZAlertKey::names)));
    alert.informativeText = lookUp(request.value(KZAlertKey::messKey).toString(), table);
    QStringList keys;
    for (const QString& key : {KZAlertKey::dbuttonName, KZAlertKey::abuttonName, KZAlertKey::obuttonName})
        keys << request.value(key).toString();
    for (const QString& key : keys)
        alert.buttonTitles << lookUp(key, table);
    alert.cancelButton = cancelAnswer(keys);
    // Escape belongs to the button the user reads as Cancel, or as the No of
    // a yes-or-no question, and only when that button declines.
    const QString cancelTitle = lookUp(QStringLiteral("cancel_button"), kDefaultTable);
    const QString noTitle = lookUp(QStringLiteral("no_button"), kDefaultTable);
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const QString title = alert.buttonTitles.value(i);
        if (!keys.at(i).isEmpty() && declines(keys.at(i)) && (title == cancelTitle || title == noTitle)) {
            alert.escapeButton = KZAlertPresenter::FirstButton + i;
            break;
        }
    }
    if (request.value(KZAlertKey::showCheck).toBool()) {
        alert.showsApplyToAll = true;
        alert.applyToAllTitle = lookUp(QStringLiteral("apply_to_all"), kDefaultTable);
    }
    return alert;
}

} // namespace

KZErrorDelegate& KZErrorDelegate::sharedControl()
{
    return sharedInstance().get();
}

void KZErrorDelegate::setSharedControl(std::unique_ptr<KZErrorDelegate> instance)
{
    sharedInstance().replace(std::move(instance));
}

void KZErrorDelegate::setPresenter(std::shared_ptr<KZAlertPresenter> presenter)
{
    std::lock_guard lock(presenterMutex_);
    presenter_ = std::move(presenter);
}

std::shared_ptr<KZAlertPresenter> KZErrorDelegate::presenter() const
{
    std::lock_guard lock(presenterMutex_);
    return presenter_;
}

QString KZErrorDelegate::replaceContentOfString(const QString& text, const QStringList& strings)
{
    static const QString placeholder = QStringLiteral("%@");
    QString result = text;
    qsizetype from = 0;
    for (const QString& name : strings) {
        const qsizetype at = result.indexOf(placeholder, from);
        if (at < 0)
            break;
        result.replace(at, placeholder.size(), name);
        // Go on after the name: a file name that contains "%@" is shown as it
        // is, not filled with the next name.
        from = at + name.size();
    }
    return result;
}

QString KZErrorDelegate::listOfNames(const QStringList& names)
{
    // One more line says no more than the name it stands for.
    if (names.size() <= kListedNames + 1)
        return names.join(QLatin1Char('\n'));
    QStringList lines = names.mid(0, kListedNames);
    lines.append(replaceContentOfString(platform::localizedString(QStringLiteral("more_names")),
                                        {QString::number(names.size() - kListedNames)}));
    return lines.join(QLatin1Char('\n'));
}

bool KZErrorDelegate::isSuppressed(const QString& preferenceKey)
{
    return !preferenceKey.isEmpty() && platform::UserDefaults::standard().boolForKey(preferenceKey);
}

void KZErrorDelegate::suppress(const QString& preferenceKey)
{
    if (!preferenceKey.isEmpty())
        platform::UserDefaults::standard().setValue(preferenceKey, true);
}

Answer KZErrorDelegate::present(const Alert& alert)
{
    const std::shared_ptr<KZAlertPresenter> shown = presenter();
    if (!shown) {
        // Nobody can answer: a question declines rather than take its first
        // button, which may be the one that deletes.
        Answer answer;
        answer.button = alert.cancelButton;
        answer.applyToAllTicked = alert.applyToAllState;
        const qsizetype index = alert.cancelButton - FirstButton;
        const bool question = alert.buttonTitles.size() - alert.buttonTitles.count(QString()) > 1;
        platform::logLine(QStringLiteral("Alert: ") + alert.messageText
                          + (alert.informativeText.isEmpty() ? QString() : QStringLiteral(" \u2014 ") + alert.informativeText)
                          + (question ? QStringLiteral(" [no one to ask; answered \"") + alert.buttonTitles.value(index)
                                            + QStringLiteral("\"]")
                                      : QString()));
        return answer;
    }
    if (alert.sheetWindow) {
        shown->beginSheet(alert);
        return {};
    }
    return shown->runModal(alert);
}

void KZErrorDelegate::dispatch(const std::function<void()>& work)
{
    if (platform::isMainThread()) {
        work();
        return;
    }
    std::lock_guard queue(workerQueue_);
    platform::runOnMainAndWait(work);
}

// --- front methods ---------------------------------------------------------

void KZErrorDelegate::showError(const QString& error, const QString& message, const QStringList& additionalNames)
{
    const QVariantMap request = baseRequest(KZAlertKey::error, error, message, additionalNames);
    dispatch([&] { showErrorWithDict(request); });
}

void KZErrorDelegate::showError(const QVariantMap& info)
{
    showError(info.value(KZAlertKey::error).toString(), info.value(KZAlertKey::message).toString(),
              stringList(info.value(KZAlertKey::additionalName)));
}

void KZErrorDelegate::showMessagePanel(QObject* window, const QString& infoMessage, const QString& message,
                                       const QStringList& additionalNames)
{
    QVariantMap request = baseRequest(KZAlertKey::info, infoMessage, message, additionalNames);
    if (window)
        request.insert(KZAlertKey::window, QVariant::fromValue(QPointer<QObject>(window)));
    dispatch([&] { showMessagePanelWithDict(request); });
}

bool KZErrorDelegate::showMessagePanelWithView(const QString& message, const QString& infoMessage,
                                               const QStringList& additionalNames, const QString& preferenceKey,
                                               bool treatsAsError)
{
    if (isSuppressed(preferenceKey))
        return false;
    const QString& table = treatsAsError ? kErrorsTable : kDefaultTable;
    Alert alert;
    alert.style = treatsAsError ? Style::Warning : Style::Informational;
    alert.messageText = replaceContentOfString(lookUp(message, table), additionalNames);
    alert.informativeText = lookUp(infoMessage, table);
    // A box that could not store anything would only mislead.
    alert.showsSuppressionButton = !preferenceKey.isEmpty();
    alert.suppressionTitle = lookUp(kSuppressionTitle, kDefaultTable);
    dispatch([&] {
        if (present(alert).suppressionTicked)
            suppress(preferenceKey);
    });
    return true;
}

qint64 KZErrorDelegate::askToTheUser(const QString& message, const QString& infoMessage,
                                     const QStringList& additionalNames, const QString& defaultButton,
                                     const QString& alternateButton, const QString& otherButton, bool showView,
                                     bool* viewStatus, bool treatsAsError)
{
    // The request belongs to this call alone: the answer and the box state
    // come back in it, whatever other threads ask meanwhile.
    QVariantMap request = questionRequest(message, infoMessage, additionalNames, defaultButton, alternateButton,
                                          otherButton, treatsAsError);
    request.insert(KZAlertKey::showCheck, showView);
    qint64 answer = FirstButton;
    dispatch([&] { answer = askToTheUserWithDict(request); });
    if (showView && viewStatus)
        *viewStatus = request.value(KZAlertKey::applyToAll).toBool();
    return answer;
}

qint64 KZErrorDelegate::askToTheUserWithView(const QString& message, const QString& infoMessage,
                                             const QStringList& additionalNames, const QString& defaultButton,
                                             const QString& alternateButton, const QString& otherButton,
                                             const QString& preferenceKey, bool treatsAsError)
{
    if (isSuppressed(preferenceKey))
        return FirstButton;
    QVariantMap request = questionRequest(message, infoMessage, additionalNames, defaultButton, alternateButton,
                                          otherButton, treatsAsError);
    request.insert(KZAlertKey::prefKey, preferenceKey);
    qint64 answer = FirstButton;
    dispatch([&] { answer = askToTheUserWithViewAndDict(request); });
    return answer;
}

// --- main-thread workers ---------------------------------------------------

void KZErrorDelegate::showErrorWithDict(const QVariantMap& request)
{
    Alert alert;
    alert.style = Style::Warning;
    alert.messageText = replaceContentOfString(lookUp(request.value(KZAlertKey::error).toString(), kErrorsTable),
                                               stringList(request.value(KZAlertKey::names)));
    alert.informativeText = lookUp(request.value(KZAlertKey::messKey).toString(), kErrorsTable);
    present(alert);
}

void KZErrorDelegate::showMessagePanelWithDict(const QVariantMap& request)
{
    Alert alert;
    // Panels share the errors' style: the platform's alert of this kind draws
    // them alike, whatever they tell.
    alert.style = Style::Warning;
    alert.messageText = replaceContentOfString(lookUp(request.value(KZAlertKey::info).toString(), kDefaultTable),
                                               stringList(request.value(KZAlertKey::names)));
    alert.informativeText = lookUp(request.value(KZAlertKey::messKey).toString(), kDefaultTable);
    // A window that has gone away meanwhile gets the panel as a modal alert:
    // the message is still seen.
    alert.sheetWindow = windowOf(request);
    present(alert);
}

qint64 KZErrorDelegate::askToTheUserWithDict(QVariantMap& request)
{
    const Alert alert = questionAlert(request);
    const Answer answer = present(alert);
    if (alert.showsApplyToAll)
        request.insert(KZAlertKey::applyToAll, answer.applyToAllTicked);
    userChoice_.store(answer.button);
    return answer.button;
}

qint64 KZErrorDelegate::askToTheUserWithViewAndDict(QVariantMap& request)
{
    const QString preferenceKey = request.value(KZAlertKey::prefKey).toString();
    if (isSuppressed(preferenceKey))
        return FirstButton;
    QVariantMap question = request;
    question.remove(KZAlertKey::showCheck);
    Alert alert = questionAlert(question);
    alert.showsSuppressionButton = !preferenceKey.isEmpty();
    alert.suppressionTitle = lookUp(kSuppressionTitle, kDefaultTable);
    const Answer answer = present(alert);
    if (answer.suppressionTicked)
        suppress(preferenceKey);
    userChoice_.store(answer.button);
    return answer.button;
}
