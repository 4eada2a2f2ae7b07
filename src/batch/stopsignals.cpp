#include "stopsignals.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
constexpr int Handled[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE}; // SIGPIPE: a reader of the report went away
int wakeUp[2] = {-1, -1}; // the handler writes the signal's number, the event loop reads it

void noteSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = ::write(wakeUp[1], &byte, 1);
    errno = saved;
}
#endif

} // namespace

StopSignals::StopSignals(QObject *parent) : QObject(parent)
{
#ifdef Q_OS_UNIX
    if (::pipe2(wakeUp, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(wakeUp[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (::read(wakeUp[0], &byte, 1) == 1) {
            if (m_received == 0) {
                m_received = byte;
                emit stopRequested();
            }
        }
    });
    struct sigaction action = {};
    action.sa_handler = noteSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int number : Handled)
        ::sigaction(number, &action, nullptr);
#endif
}

StopSignals::~StopSignals()
{
#ifdef Q_OS_UNIX
    for (int number : Handled)
        ::signal(number, SIG_DFL);
    delete m_notifier;
    if (wakeUp[0] >= 0) {
        ::close(wakeUp[0]);
        ::close(wakeUp[1]);
        wakeUp[0] = wakeUp[1] = -1;
    }
#endif
}

QString StopSignals::receivedName() const
{
#ifdef Q_OS_UNIX
    return QString::fromLocal8Bit(::strsignal(m_received));
#else
    return QString::number(m_received);
#endif
}
