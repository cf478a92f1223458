// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

class QWidget;

/**
 * The end of a window asked for from outside (a signal, the desktop session's end): an open
 * modal dialog closes as if by its title bar, and the window itself as soon as no start-up
 * step or handler is running, so that no shutdown ever runs inside a dialog's event loop.
 */
class OrderlyEnd : public QObject
{
public:
    /** Ends `window`, which owns this object. */
    explicit OrderlyEnd(QWidget &window);

    void requestQuit();
    /** Whether an end has been asked for. */
    bool pending() const { return m_pending; }

    /** Marks a start-up step or handler of the window as running while it lives. */
    class Busy
    {
    public:
        explicit Busy(OrderlyEnd &end);
        ~Busy();
        Busy(const Busy &) = delete;
        Busy &operator=(const Busy &) = delete;

    private:
        OrderlyEnd &m_end;
    };

private:
    void closeWhenIdle();

    QWidget &m_window;
    bool m_pending = false;
    int m_busy = 0;
};
