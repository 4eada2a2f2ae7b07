#include "stopsignals.h"

#include "common/platform.h"

#include <QSocketNotifier>

StopSignals::StopSignals(QObject *parent) : QObject(parent)
{
    const int caught = Platform::CatchStopSignals();
    if (caught < 0)
        return;
    m_notifier = new QSocketNotifier(caught, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        while (const int number = Platform::TakeStopSignal()) {
            if (m_received == 0) {
                m_received = number;
                emit stopRequested();
            }
        }
    });
}

StopSignals::~StopSignals()
{
    Platform::ReleaseStopSignals();
}

QString StopSignals::receivedName() const
{
    return Platform::SignalName(m_received);
}
