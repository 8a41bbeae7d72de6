#pragma once

#include <QString>
#include <QWidget>

// A hint of the empty search window: large thin text with a soft shadow.
class KZSearchWindowTextView : public QWidget {
    Q_OBJECT
public:
    explicit KZSearchWindowTextView(QWidget* parent = nullptr);
    void setTextToDraw(const QString& text) { text_ = text; update(); }
    QString textToDraw() const { return text_; }
    double textFontSize() const { return fontSize_; }
    // White at `alpha`; hidden once the text has faded out.
    void lowTextColorwithAlpha(double alpha);
    double alpha() const { return alpha_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    double fontSize_ = 36.0;
    double alpha_ = 1.0;
};
