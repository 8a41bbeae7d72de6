#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

class KZMaravexApp;

// Walks the running program through a short script of steps so that
// scripts/screenshots.sh can photograph the real windows in each state. The
// script is the file named by MARAVEX_DRIVE; without that variable nothing
// happens. One step per line ("#" starts a comment):
//
//   wait MS                 let animations and timers run
//   waitfor NAME...         until a visible widget of that object name (or of
//                           one of the names) exists
//   click NAME              click the visible widget of that object name
//   key NAME KEYS           press KEYS ("Ctrl+A", "Shift+Down", "Space") in the
//                           visible widget of that name
//   hover NAME              move the pointer onto the visible widget of that
//                           object name
//   type NAME TEXT...       put TEXT into the line edit of that name
//   action NAME             trigger the application menu item of that name
//   select NAME ROW...      select row ROW (from 0, or the row showing that
//                           text) of the list of that name, and the further
//                           rows with it
//   shot FILE [NAME]        save the screen around the active window (or the
//                           window of that name, or the whole "screen") as a PNG
//   move NAME X Y           move the window holding the visible widget of that
//                           name to X, Y on the screen
//   pause FRACTION          hold every later transition at that fraction of
//                           its time (negative: run them through)
//   flip FROM TO DIRECTION  flip from the visible window named FROM to the
//                           window named TO
//   press TITLE             press the button TITLE of the question that is open
//   submenu TITLE           open the submenu TITLE of the menu that is open
//   menubar NAME TITLE      open the menu TITLE of the named window's menu bar
//   quit                    end the program as its Quit item does
//   answer PATH             answer the next file or folder dialog with PATH
//                           ("-" cancels it) instead of showing it
//   menu NAME               trigger the enabled menu item of that object name
//                           of the key window (else of the application menu)
//
// A step that cannot be carried out ends the program with exit status 3, so
// the script notices instead of photographing the wrong state. Windows are
// found by their object names; give new widgets a name to make them
// reachable.
class KZStateDriver : public QObject {
    Q_OBJECT
public:
    // Starts the script of MARAVEX_DRIVE, if set; answers whether it did.
    static bool startFromEnvironment(KZMaravexApp* app);

    KZStateDriver(QStringList steps, KZMaravexApp* app, QObject* parent = nullptr);
    void start();

private:
    void runNext();
    void fail(const QString& why);
    bool runStep(const QStringList& words, int* delayMs);
    bool runWaitStep(const QStringList& words, int* delayMs);
    bool runInputStep(const QStringList& words);
    bool runWindowStep(const QStringList& words);

    // The "answer" and "menu" steps.
    bool runDialogOrMenuStep(const QString& verb, const QStringList& words);

    QStringList steps_;
    QPointer<KZMaravexApp> app_;
    int next_ = 0;
    QString waitingFor_;
    int waitedMs_ = 0;
};
