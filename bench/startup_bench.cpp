// Launch to the main window on screen, beside the smallest Qt Widgets program that shows one
// window. Both are the real programs with a probe linked in that reports the first exposure
// of a window; the launches alternate and the medians are compared. Prints figures.
//
//   startup_bench <rounds>     (HM_PROGRAM_DIR: the built program folder)
#include "bench/bench_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using hm::bench::median;

namespace {

struct Launch {
    double shownMs = -1;  // spawn to "shown" on the pipe
    double loadedMs = 0;  // spawn to every library loaded (static initialisers run)
    double appMs = 0;     // spawn to the application object built
    double cpuMs = 0;     // the whole life of the process
};

long long monotonicNs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

Launch launch(const QString& program)
{
    Launch result;
    int out[2];
    if (pipe(out) != 0)
        return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const QByteArray path = program.toLocal8Bit();
    char* argv[] = {const_cast<char*>(path.constData()), nullptr};
    QElapsedTimer t;
    t.start();
    const long long spawned = monotonicNs();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, path.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        return result;
    }
    QByteArray seen;
    char buf[64];
    ssize_t n;
    while (!seen.contains('\n') && (n = read(out[0], buf, sizeof buf)) > 0)
        seen.append(buf, n);
    if (seen.contains("shown")) {
        result.shownMs = t.nsecsElapsed() / 1e6;
        const QList<QByteArray> f = seen.trimmed().split(' ');
        if (f.size() == 4) {
            result.loadedMs = (f[1].toLongLong() - spawned) / 1e6;
            result.appMs = (f[2].toLongLong() - spawned) / 1e6;
        }
    }
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    result.cpuMs = usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 + usage.ru_stime.tv_sec * 1e3
                   + usage.ru_stime.tv_usec / 1e3;
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 11;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // The program finds its data beside its executable: the probed build goes into a copy of
    // the program folder, with a server file so that start-up opens no settings window.
    QTemporaryDir dir;
    const QString folder = dir.path() + QStringLiteral("/HayateMail");
    hm::bench::copyTree(qEnvironmentVariable("HM_PROGRAM_DIR"), folder);
    QFile::remove(folder + QStringLiteral("/hayatemail"));
    const QString here = QCoreApplication::applicationDirPath();
    const QString ours = folder + QStringLiteral("/hayatemail");
    QFile::copy(here + QStringLiteral("/startup_probe"), ours);
    QFile ini(folder + QStringLiteral("/hymail.ini"));
    ini.open(QIODevice::WriteOnly);
    ini.write("POP3=127.0.0.1\r\n");
    ini.close();
    const QString minimal = here + QStringLiteral("/minimal_window");

    launch(ours); // the first launch of each fills the page cache
    launch(minimal);
    QList<double> oursMs, minimalMs, oursCpu, minimalCpu, oursLoaded, minimalLoaded, oursApp, minimalApp;
    for (int r = 0; r < rounds; ++r) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool isOurs = (r + turn) % 2 == 0;
            const Launch l = launch(isOurs ? ours : minimal);
            if (l.shownMs < 0) {
                std::fprintf(stderr, "startup_bench: %s showed no window\n", isOurs ? "HayateMail" : "minimal");
                return 1;
            }
            (isOurs ? oursMs : minimalMs) << l.shownMs;
            (isOurs ? oursCpu : minimalCpu) << l.cpuMs;
            (isOurs ? oursLoaded : minimalLoaded) << l.loadedMs;
            (isOurs ? oursApp : minimalApp) << l.appMs;
        }
    }
    const double o = median(oursMs), m = median(minimalMs);
    std::printf("start-up to the main window shown, median of %d alternating launches (%s):\n", rounds,
                qgetenv("QT_QPA_PLATFORM").constData());
    std::printf("  %-18s %8s %8s %8s %10s\n", "", "loaded", "app", "shown", "CPU");
    std::printf("  %-18s %8.1f %8.1f %8.1f %10.1f ms\n", "HayateMail", median(oursLoaded), median(oursApp), o,
                median(oursCpu));
    std::printf("  %-18s %8.1f %8.1f %8.1f %10.1f ms\n", "minimal Qt window", median(minimalLoaded),
                median(minimalApp), m, median(minimalCpu));
    std::printf("  (loaded: libraries loaded and relocated; app: QApplication built; CPU: whole launch)\n");
    std::printf("  ratio HayateMail / minimal: %.2f\n", o / m);
    return 0;
}
