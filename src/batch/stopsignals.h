#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT, SIGTERM, SIGHUP and SIGPIPE into a Qt signal, so that a run stopped
// from outside ends cleanly: Ghostscript stopped, folders removed, the summary
// printed. Until one exists the signals keep their usual effect.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

    // The signal that asked to stop; 0 while none has.
    int received() const { return m_received; }
    // Its name for the user ("Interrupt", "Terminated", "Hangup").
    QString receivedName() const;

signals:
    void stopRequested();

private:
    QSocketNotifier *m_notifier = nullptr;
    int m_received = 0;
};
