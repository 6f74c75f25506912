#include "shell/SignalClose.h"

#include <QSocketNotifier>
#include <QWidget>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

namespace zyl {

namespace {

// A handler may only write to a descriptor; the event loop reads the other end.
int signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t caught = 0;

// A C name is one for the whole program, namespace or not: zyl-batch has its own onSignal.
extern "C" void closeWindowOnSignal(int signal)
{
    caught = signal;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
}

} // namespace

bool closeOnSignals(QWidget& window)
{
    if (signalPipe[0] < 0 &&
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0)
        return false;
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char bytes[16];
        while (::read(signalPipe[1], bytes, sizeof bytes) > 0) {
        }
        window.close();
    });
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = closeWindowOnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 && ::sigaction(SIGTERM, &action, nullptr) == 0;
}

int closingSignal() { return caught; }

} // namespace zyl
