#pragma once

#include <QFont>
#include <QWidget>

// The product name drawn as a logo: thin italic letters in light blue with a
// soft shadow below and to the right.
class KZAppNameLogoView : public QWidget {
    Q_OBJECT
public:
    explicit KZAppNameLogoView(QWidget* parent = nullptr);

    // Switches from the ultra-light face to the thin one at the same size.
    void setSemiboldFont();
    QFont logoFont() const { return font_; }
    QString string() const { return QStringLiteral("Maravex"); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont font_;
};
