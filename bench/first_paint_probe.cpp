// Linked into a program beside its own main(): on the first exposure of a window (the window
// paints itself while the exposure is handled) it writes "shown" to stdout and ends the
// program through its event loop, so a parent can time a launch up to the window on screen.
// The line also carries the monotonic clock (ns) when the libraries had been loaded, when the
// application object had been built and when the window was shown.
#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <ctime>

namespace {

long long now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

// Static initialisers of the executable run once every library is loaded and relocated.
const long long g_loaded = now();
long long g_application = 0;

class FirstExposure : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!seen_ && event->type() == QEvent::Expose) {
            auto* window = qobject_cast<QWindow*>(watched);
            if (window && window->isExposed()) {
                seen_ = true;
                QTimer::singleShot(0, qApp, [] {
                    std::printf("shown %lld %lld %lld\n", g_loaded, g_application, now());
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
    g_application = now();
    qApp->installEventFilter(new FirstExposure);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(watchForTheFirstWindow)
