#pragma once

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <functional>

namespace kztest {

// Counts the requests to end the program (Qt's own and the quit policy's)
// and refuses each, so that a test goes on and can say when one came.
class QuitRequests : public QObject {
public:
    QuitRequests() { qApp->installEventFilter(this); }
    ~QuitRequests() override { qApp->removeEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != qApp || event->type() != QEvent::Quit)
            return false;
        ++count;
        return true;
    }
};

// Answers every message box the moment it is up, as a user does: Return on
// its default button. Keeps what each said.
class AlertAnswerer {
public:
    AlertAnswerer()
    {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible() || (answered_ && box == answered_))
                return;
            answered_ = box;
            said.append(box->text() + QLatin1Char('\n') + box->informativeText());
            QTest::keyClick(box, Qt::Key_Return);
        });
        timer_.start();
    }
    QStringList said;

private:
    QTimer timer_;
    QPointer<QMessageBox> answered_;
};

// Runs `scenario` inside the application's event loop, where the rule that
// ends the program with its last window applies.
inline void runInsideTheEventLoop(const std::function<void()>& scenario)
{
    QTimer::singleShot(0, qApp, [&scenario] {
        scenario();
        QCoreApplication::exit(0);
    });
    QApplication::exec();
}

} // namespace kztest
