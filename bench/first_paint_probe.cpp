// Linked into a program beside its own main(): on the first exposure of a window (the window
// paints itself while the exposure is handled) it writes "shown" to stdout and ends the
// program through its event loop, so a parent can time a launch up to the window on screen.
#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWindow>

#include <cstdio>

namespace {

class FirstExposure : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!seen_ && event->type() == QEvent::Expose) {
            auto* window = qobject_cast<QWindow*>(watched);
            if (window && window->isExposed()) {
                seen_ = true;
                QTimer::singleShot(0, qApp, [] {
                    std::fputs("shown\n", stdout);
                    std::fflush(stdout);
                    QCoreApplication::quit();
                });
            }
        }
        return false;
    }

private:
    bool seen_ = false;
};

void watchForTheFirstWindow()
{
    qApp->installEventFilter(new FirstExposure);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(watchForTheFirstWindow)
