// SPDX-License-Identifier: MIT
#pragma once

// Answers modal windows as they appear, as an operator would, and records what each one
// showed. Actions run in the order queued; once the queue is empty, boxes are answered with
// their OK button and dialogs are closed by their title bar.

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <deque>
#include <functional>

class ModalAnswerer : public QObject
{
public:
    struct Seen
    {
        QString className;
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
    };
    using Action = std::function<void(QWidget *)>;

    ModalAnswerer()
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
        m_timer.start(5);
    }

    void queue(Action action) { m_actions.push_back(std::move(action)); }

    static void pressOk(QWidget *modal)
    {
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->close();
            return;
        }
        modal->close();
    }

    QList<Seen> seen;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Hide && watched == m_last)
            m_last = nullptr;
        return false;
    }

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal == m_last)
            return;
        m_last = modal;
        modal->installEventFilter(this); // a dialog kept for the run may come back
        Seen entry {QString::fromLatin1(modal->metaObject()->className()),
                    modal->windowTitle(),
                    {},
                    QMessageBox::NoIcon};
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            entry.text = box->text();
            entry.icon = box->icon();
        }
        seen.append(entry);
        Action action = pressOk;
        if (!m_actions.empty()) {
            action = std::move(m_actions.front());
            m_actions.pop_front();
        }
        // Answered from a queued call, not inside this timer's slot: a box the action opens
        // runs its own event loop, in which this timer must fire again.
        QMetaObject::invokeMethod(
            this,
            [action = std::move(action), target = QPointer<QWidget>(modal)] {
                if (target)
                    action(target);
            },
            Qt::QueuedConnection);
    }

    QTimer m_timer;
    QPointer<QWidget> m_last;
    std::deque<Action> m_actions;
};
