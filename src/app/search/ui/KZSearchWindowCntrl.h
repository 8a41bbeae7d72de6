#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

class QWidget;

// Owns the round search window: shows it and starts a search from its sources.
class KZSearchWindowCntrl : public QObject {
    Q_OBJECT
public:
    explicit KZSearchWindowCntrl(QObject* parent = nullptr);
    ~KZSearchWindowCntrl() override;

    // Takes the window to control and brings it to the front.
    void setTheWindow(QWidget* window);
    QWidget* window() const { return m_window; }

private:
    QPointer<QWidget> m_window;
};
