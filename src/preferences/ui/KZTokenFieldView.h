#pragma once

#include <QString>
#include <QWidget>

// Shows a ","-separated list of extensions as a row of tokens, eliding what
// does not fit, or a grey placeholder when the list is empty. Read only.
class KZTokenFieldView : public QWidget {
    Q_OBJECT
public:
    explicit KZTokenFieldView(QWidget* parent = nullptr);

    QString text() const { return text_; }
    void setText(const QString& text);
    QString placeholderText() const { return placeholder_; }
    void setPlaceholderText(const QString& placeholder);

    QSize sizeHint() const override { return {200, 24}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QString placeholder_;
};
