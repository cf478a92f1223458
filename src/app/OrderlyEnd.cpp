// SPDX-License-Identifier: MIT
#include "OrderlyEnd.h"

#include <QApplication>
#include <QWidget>

OrderlyEnd::OrderlyEnd(QWidget &window)
    : QObject(&window)
    , m_window(window)
{ }

void OrderlyEnd::requestQuit()
{
    m_pending = true;
    if (QWidget *modal = QApplication::activeModalWidget(); modal && modal != &m_window)
        modal->close();
    closeWhenIdle();
}

void OrderlyEnd::closeWhenIdle()
{
    if (m_pending && m_busy == 0)
        m_window.close();
}

OrderlyEnd::Busy::Busy(OrderlyEnd &end)
    : m_end(end)
{
    ++m_end.m_busy;
}

OrderlyEnd::Busy::~Busy()
{
    if (--m_end.m_busy == 0)
        m_end.closeWhenIdle();
}
