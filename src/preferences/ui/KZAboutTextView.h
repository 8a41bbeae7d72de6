#pragma once

#include <QPointer>
#include <QTextEdit>

#include <QAbstractButton>

// The About window's credits: white, neither editable nor selectable; a
// click on them acts on the splash button.
class KZAboutTextView : public QTextEdit {
    Q_OBJECT
public:
    explicit KZAboutTextView(QWidget* parent = nullptr);
    void setSplashButton(QAbstractButton* splash) { splash_ = splash; }
    // Sets the credits and makes all of them white, whatever colours the
    // text carried.
    void setCredits(const QString& html);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QPointer<QAbstractButton> splash_;
};
