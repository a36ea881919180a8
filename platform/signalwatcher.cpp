#include "signalwatcher.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};
constexpr int WatchedSignals[] = {SIGINT, SIGTERM};

extern "C" void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // Async-signal-safe; a full pipe already holds a request to end.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
    errno = savedErrno;
}

} // namespace

SignalWatcher::SignalWatcher(QObject *parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    ::fcntl(signalPipe[0], F_SETFL, ::fcntl(signalPipe[0], F_GETFL) | O_NONBLOCK);
    ::fcntl(signalPipe[1], F_SETFL, ::fcntl(signalPipe[1], F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalWatcher::readPipe);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : WatchedSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

SignalWatcher::~SignalWatcher()
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : WatchedSignals)
        ::sigaction(signalNumber, &action, nullptr);
    delete m_notifier;
    for (int &descriptor : signalPipe) {
        if (descriptor >= 0)
            ::close(descriptor);
        descriptor = -1;
    }
}

void SignalWatcher::readPipe()
{
    unsigned char byte = 0;
    int last = 0;
    while (::read(signalPipe[1], &byte, 1) == 1)
        last = byte;
    if (last != 0)
        emit terminationRequested(last);
}

#elif defined(Q_OS_WIN)
#include <atomic>
#include <csignal>
#include <windows.h>

namespace {

std::atomic<SignalWatcher *> watcher{nullptr};

// Runs on a thread of the system's; the request is queued to the watcher's thread.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    const bool ending = event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT;
    const int signalNumber = ending ? SIGTERM : SIGINT;
    SignalWatcher *const target = watcher.load();
    if (target == nullptr)
        return FALSE;
    QMetaObject::invokeMethod(target, [target, signalNumber] { emit target->terminationRequested(signalNumber); },
                              Qt::QueuedConnection);
    // Windows ends the process once this returns from a close, log-off or shutdown; waiting
    // here lets the event loop finish the ending, within the few seconds Windows allows.
    if (ending)
        ::Sleep(INFINITE);
    return TRUE;
}

} // namespace

SignalWatcher::SignalWatcher(QObject *parent)
    : QObject(parent)
{
    watcher = this;
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

SignalWatcher::~SignalWatcher()
{
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    watcher = nullptr;
}

#endif
