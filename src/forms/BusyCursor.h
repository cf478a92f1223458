// SPDX-License-Identifier: MIT
#pragma once

#include <QApplication>

/** The platform's busy cursor while a driver call holds the GUI thread. */
class BusyCursor
{
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};
