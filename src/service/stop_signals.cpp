#include "service/stop_signals.h"

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <csignal>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};
volatile sig_atomic_t Signalled = 0;

// Only async-signal-safe calls: the event loop learns of it through the pipe.
void OnSignal(int number)
{
    if (Signalled)
        _exit(128 + number); // asked twice: at once
    Signalled = 1;
    const char byte = char(number);
    [[maybe_unused]] const ssize_t written = write(SignalPipe[1], &byte, 1);
}

} // namespace

TStopSignals::TStopSignals(QObject *parent) : QObject(parent)
{
    if (pipe(SignalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        if (read(SignalPipe[0], &byte, 1) == 1)
            Q_EMIT StopAsked(int(byte));
    });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int number : {SIGTERM, SIGINT, SIGHUP})
        sigaction(number, &action, nullptr);
}

TStopSignals::~TStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int number : {SIGTERM, SIGINT, SIGHUP})
        sigaction(number, &action, nullptr);
}

#else

TStopSignals::TStopSignals(QObject *parent) : QObject(parent) {}
TStopSignals::~TStopSignals() = default;

#endif
