#pragma once

#include "symbolfile.h"

#include <QByteArray>
#include <QStringList>
#include <QTest>

#include <initializer_list>

// Builds a frame from data bytes; dlc = number of bytes.
inline CanFrame frameOf(quint32 id, std::initializer_list<int> bytes, bool extended = false)
{
    CanFrame frame;
    frame.id = id;
    frame.extended = extended;
    int i = 0;
    for (int b : bytes)
        frame.data[i++] = quint8(b);
    frame.dlc = quint8(i);
    return frame;
}

// Loads symbol file text; fails the test with the load error otherwise.
inline bool loadText(SymbolDatabase &db, const QByteArray &text, QStringList *warnings = nullptr,
                     QString *error = nullptr)
{
    QString localError;
    const bool ok = db.loadData(text, QString(), error ? error : &localError, warnings);
    if (!ok && !error)
        qWarning("load failed: %s", qPrintable(localError));
    return ok;
}

// Only the variable or symbol whose name is given.
inline const SymVariable *variableNamed(const SymbolDatabase &db, const QString &name)
{
    for (const SymMessage &m : db.messages)
        for (const SymVariable &v : m.variables)
            if (v.name == name)
                return &v;
    return nullptr;
}
