#pragma once

#include "services/ui/KZAttributedString.h"

#include <QFont>
#include <QSizeF>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <memory>

class KZOpenPanel;
class QColor;
class QImage;

// What many windows do alike: ask for folders, measure text and build the
// attributed text that the custom cells and views draw. Main thread only.
class KZInterfaceUtilities {
public:
    KZInterfaceUtilities() = default;
    // The panel's answer: the response (1 chosen, 0 cancelled, as QDialog's
    // Accepted and Rejected) and the context. The context is a copy of the
    // settings' "userInfo" map with "urls" added (a QVariantList of file
    // QUrls), or, without "userInfo", that list itself.
    using PanelCallback = std::function<void(const QVariant& response, const QVariant& context)>;

    // Stands in for the user in tests: it gets the configured panel instead
    // of the user seeing it, and answers the response and the paths chosen.
    struct PanelAnswer {
        int response = 0;
        QStringList paths;
    };
    using PanelAnswerProvider = std::function<PanelAnswer(const KZOpenPanel& panel)>;

    static KZInterfaceUtilities& sharedControl();
    // Replaces the shared instance (tests); nullptr makes the next call build
    // a fresh one. The shared instance is never destroyed at exit
    // (platform::SharedInstance).
    static void setSharedControl(std::unique_ptr<KZInterfaceUtilities> instance);

    // Settings (all optional): "includeSmartFolder" (bool), "window"
    // (QWidget* as QVariant::fromValue<QObject*>), "delegate" (QObject*:
    // the answer is dropped when it is gone by then), "allowsMultipleSelection",
    // "canCreateDirectories" (bool), "userInfo" (map), "prompt" (a key of the
    // default string table), "directory" (a path the panel opens in; it
    // opens beside a file or folder document). Without "window" the panel runs modally and
    // the answer comes before this returns; with one the panel is a
    // window-modal sheet on it and the answer comes when it closes. A
    // registered KZFileDialogPresenter shows (or answers) the panel.
    void askForDirectories(PanelCallback callback, const QVariantMap& settings);

    // The size of the text drawn in only this font.
    QSizeF sizeOfString(const QString& string, const QFont& font) const;

    // Text with a colour, a paragraph style and a font: the named family at
    // `size` points when a name is given, else the system font (bold when
    // asked).
    KZAttributedString attributedStringWithString(const QString& string, const QString& fontName, qreal size,
                                                  const QColor& textColor, bool bold, Qt::Alignment alignment,
                                                  KZLineBreakMode truncMode) const;
    // `text` with its first "[image]" replaced by the image at its own size.
    // Without a text (null), the text is " [image] " followed by `string`.
    // A text without the placeholder comes back unchanged.
    KZAttributedString attributedString(const QString& string, const QImage& image,
                                        const KZAttributedString* text, double baselineOffset) const;
    // One inline image at `imageSize` points, raised by `baselineOffset`.
    KZAttributedString attributedImageFromIcon(const QImage& icon, const QSizeF& imageSize,
                                               double baselineOffset) const;

    static void setPanelAnswerProvider(PanelAnswerProvider provider); // tests; empty restores the panel
};
