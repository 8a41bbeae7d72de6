#include "services/ui/KZInterfaceUtilities.h"

#include "platform/Packages.h"
#include "platform/Paths.h"
#include "platform/SharedInstance.h"
#include "platform/StringTable.h"
#include "services/KZFileDialogPresenter.h"
#include "services/ui/KZOpenPanel.h"

#include <QApplication>
#include <QColor>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QImage>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <memory>

namespace {

KZInterfaceUtilities::PanelAnswerProvider& answerProvider()
{
    static KZInterfaceUtilities::PanelAnswerProvider provider;
    return provider;
}

QObject* objectOf(const QVariant& value)
{
    return value.isValid() ? value.value<QObject*>() : nullptr;
}

// The folder a panel asked to start at `path` opens in. A folder document
// is a thing to choose, never a place to stand in (entering one chooses
// it), and a file is shown in its folder; empty when nothing is there.
QString startFolder(const QString& path)
{
    if (path.isEmpty())
        return {};
    const std::filesystem::path fsPath = platform::pathFromText(path);
    const QFileInfo info(path);
    if (info.isDir() && !platform::isPackage(fsPath))
        return info.absoluteFilePath();
    const QFileInfo parent(info.absolutePath());
    return info.exists() && parent.isDir() ? parent.absoluteFilePath() : QString();
}

} // namespace

namespace {

platform::SharedInstance<KZInterfaceUtilities>& sharedInstance()
{
    static platform::SharedInstance<KZInterfaceUtilities> instance(
        [] { return std::make_unique<KZInterfaceUtilities>(); });
    return instance;
}

} // namespace

KZInterfaceUtilities& KZInterfaceUtilities::sharedControl()
{
    return sharedInstance().get();
}

void KZInterfaceUtilities::setSharedControl(std::unique_ptr<KZInterfaceUtilities> instance)
{
    sharedInstance().replace(std::move(instance));
}

void KZInterfaceUtilities::setPanelAnswerProvider(PanelAnswerProvider provider)
{
    answerProvider() = std::move(provider);
}

void KZInterfaceUtilities::askForDirectories(PanelCallback callback, const QVariantMap& settings)
{
    QStringList types{QStringLiteral("photoslibrary")};
    if (settings.value(QStringLiteral("includeSmartFolder")).toBool())
        types << QStringLiteral("savedSearch");

    QWidget* window = qobject_cast<QWidget*>(objectOf(settings.value(QStringLiteral("window"))));
    QObject* delegateObject = objectOf(settings.value(QStringLiteral("delegate")));
    const bool hasDelegate = delegateObject != nullptr;
    QPointer<QObject> delegate(delegateObject);
    const bool hasUserInfo = settings.contains(QStringLiteral("userInfo"));
    const QVariantMap userInfo = settings.value(QStringLiteral("userInfo")).toMap();

    auto panel = std::make_unique<KZOpenPanel>(window);
    panel->setAllowedFileTypes(types);
    panel->setAllowsMultipleSelection(settings.value(QStringLiteral("allowsMultipleSelection")).toBool());
    panel->setCanCreateDirectories(settings.value(QStringLiteral("canCreateDirectories")).toBool());
    QString message;
    QString title;
    if (settings.contains(QStringLiteral("prompt"))) {
        // The table answers a missing key with the key itself; a prompt
        // without a text shows no message rather than a key.
        const QString key = settings.value(QStringLiteral("prompt")).toString();
        message = platform::localizedString(key);
        if (message == key)
            message.clear();
        // The message is a sentence; the title names the task in a few words.
        const QString titleKey = key + QStringLiteral("_title");
        title = platform::localizedString(titleKey);
        if (title == titleKey)
            title.clear();
    }
    if (!title.isEmpty())
        panel->setWindowTitle(title);
    panel->setMessage(message);
    const QString start = startFolder(settings.value(QStringLiteral("directory")).toString());
    if (!start.isEmpty())
        panel->setDirectory(start);

    auto deliver = [callback = std::move(callback), delegate, hasDelegate, hasUserInfo, userInfo](
                       int response, const QStringList& paths) {
        // An asker that went away while the panel was open gets no answer.
        if (!callback || (hasDelegate && !delegate))
            return;
        QVariantList urls;
        for (const QString& path : paths)
            urls << QUrl::fromLocalFile(path);
        QVariant context;
        if (hasUserInfo) {
            QVariantMap info = userInfo;
            info.insert(QStringLiteral("urls"), urls);
            context = info;
        } else {
            context = urls;
        }
        callback(QVariant(response), context);
    };

    if (const auto& provider = answerProvider()) {
        const PanelAnswer answer = provider(*panel);
        const int response = answer.response == QDialog::Accepted ? QDialog::Accepted : QDialog::Rejected;
        const QStringList paths = response == QDialog::Accepted ? answer.paths : QStringList();
        if (window)
            QTimer::singleShot(0, window, [deliver, response, paths] { deliver(response, paths); });
        else
            deliver(response, paths);
        return;
    }

    if (const std::shared_ptr<KZFileDialogPresenter> presenter = KZFileDialogPresenter::shared()) {
        KZFileDialogPresenter::Request request;
        request.mode = KZFileDialogPresenter::Mode::ChooseFolders;
        request.title = title;
        request.message = message;
        request.allowedTypes = types;
        request.allowsMultipleSelection = panel->allowsMultipleSelection();
        request.canCreateDirectories = panel->canCreateDirectories();
        request.directory = start;
        request.window = window;
        presenter->present(request, [deliver](const KZFileDialogPresenter::Answer& answer) {
            deliver(answer.accepted ? QDialog::Accepted : QDialog::Rejected,
                    answer.accepted ? answer.paths : QStringList());
        });
        return;
    }

    if (window) {
        KZOpenPanel* sheet = panel.release();
        sheet->setWindowModality(Qt::WindowModal);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(sheet, &QDialog::finished, sheet, [sheet, deliver](int result) {
            deliver(result == QDialog::Accepted ? QDialog::Accepted : QDialog::Rejected,
                    result == QDialog::Accepted ? sheet->chosenPaths() : QStringList());
        });
        sheet->open();
        return;
    }
    const int result = panel->exec();
    deliver(result == QDialog::Accepted ? QDialog::Accepted : QDialog::Rejected,
            result == QDialog::Accepted ? panel->chosenPaths() : QStringList());
}

QSizeF KZInterfaceUtilities::sizeOfString(const QString& string, const QFont& font) const
{
    if (string.isEmpty())
        return {0, 0};
    return QFontMetricsF(font).size(0, string);
}

KZAttributedString KZInterfaceUtilities::attributedStringWithString(const QString& string, const QString& fontName,
                                                                    qreal size, const QColor& textColor, bool bold,
                                                                    Qt::Alignment alignment,
                                                                    KZLineBreakMode truncMode) const
{
    QFont font;
    if (!fontName.isEmpty()) {
        font = QFont(fontName);
    } else {
        font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        font.setBold(bold);
    }
    if (size > 0)
        font.setPointSizeF(size);

    KZAttributedString::Run run;
    run.text = string;
    run.color = textColor.isValid() ? textColor : QColor(Qt::black);
    run.paragraphStyle = KZParagraphStyle{alignment, truncMode};
    run.font = font;
    KZAttributedString result;
    if (!string.isEmpty()) {
        KZAttributedString one = KZAttributedString::fromRuns({run});
        result = one;
    }
    return result;
}

KZAttributedString KZInterfaceUtilities::attributedString(const QString& string, const QImage& image,
                                                          const KZAttributedString* text,
                                                          double baselineOffset) const
{
    KZAttributedString result = text ? *text : KZAttributedString(QStringLiteral(" [image] ") + string);
    result.replaceFirst(QStringLiteral("[image]"),
                        attributedImageFromIcon(image, image.deviceIndependentSize(), baselineOffset));
    return result;
}

KZAttributedString KZInterfaceUtilities::attributedImageFromIcon(const QImage& icon, const QSizeF& imageSize,
                                                                 double baselineOffset) const
{
    const qreal ratio = qApp && QGuiApplication::primaryScreen()
        ? QGuiApplication::primaryScreen()->devicePixelRatio() : 1.0;
    QImage shown;
    const QSize pixels = (imageSize * ratio).toSize();
    if (!icon.isNull() && !pixels.isEmpty()) {
        shown = icon.size() == pixels ? icon : icon.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        shown.setDevicePixelRatio(ratio);
    } else if (!pixels.isEmpty()) {
        shown = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        shown.fill(Qt::transparent);
        shown.setDevicePixelRatio(ratio);
    }
    // The names tell small list icons from other pictures when the text is
    // copied out as a document.
    const QString fileName = imageSize.width() == 16 ? QStringLiteral("cico") : QStringLiteral("pippo");
    return KZAttributedString::imageRun(shown, fileName, baselineOffset);
}
