#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QString>
#include <QWidget>

// Chooses `path` in Qt's own file dialog and accepts it. selectFile leaves
// the name field alone while the field has the keyboard focus, which it
// gets whenever the window system activates the dialog: without taking the
// focus away first, a test hangs in the open dialog now and then.
inline void acceptFile(QFileDialog *dialog, const QString &path)
{
    if (QWidget *focused = QApplication::focusWidget())
        focused->clearFocus();
    dialog->selectFile(path);
    static_cast<QDialog *>(dialog)->accept();   // public in QDialog
}
