#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

// Runs `check` on the next modal window once the code under test shows it
// (a dialog's exec() or a message box), retrying until one is up.
inline void onNextModal(const std::function<void(QWidget *)> &check)
{
    QTimer::singleShot(0, [check] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal) {
            onNextModal(check);
            return;
        }
        check(modal);
    });
}
