#pragma once

#include <QImage>
#include <QString>

#include <functional>

// Images by name, as the windows ask for them ("spinner", "switch-blue",
// ...). A name is looked up first among the registered images, then as
// "images/<name>.png" in the resources, then among the images this program
// draws itself. Main thread only (drawing needs the GUI application).
class KZImages {
public:
    // A null image when the name is unknown.
    static QImage imageNamed(const QString& name);
    static bool imageExists(const QString& name) { return !imageNamed(name).isNull(); }

    // Adds or replaces an image under `name` (windows that draw their own
    // images, tests). A null image removes the registration.
    static void registerImage(const QString& name, const QImage& image);
    static void registerImage(const QString& name, std::function<QImage()> painter);
    static void unregisterAll(); // tests

    // The program's icon, drawn at `pixels` square. QApplication's window
    // icon is used instead when the start-up code has set one.
    static QImage applicationIcon(int pixels = 256);
    // The spinner of the big progress disc: 316 points square.
    static QImage spinnerImage(qreal devicePixelRatio = 1.0);
};
