// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

class QSocketNotifier;

/**
 * Brings SIGTERM, SIGINT and SIGHUP to the GUI thread as `quitRequested()`: the handler only
 * writes the signal's number into a pipe, which a socket notifier reads in the event loop.
 * One instance at a time; the previous handlers come back when it is destroyed.
 */
class QuitSignals : public QObject
{
    Q_OBJECT
public:
    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override;

signals:
    void quitRequested(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};
