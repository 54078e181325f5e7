#pragma once

#include "canframe.h"

#include <QList>
#include <QString>

#include <utility>

// The trace's identifier filter: sorted, merged identifier ranges, a mode
// ("nur"/"außer") and a switch. A plain value type; the main window edits a
// copy and writes it back as a whole.
class CanIdFilter
{
public:
    enum Mode { Include = 0, Exclude = 1 };

    // Replaces the ranges on success; leaves them untouched on failure.
    bool parse(const QString &text, QString *error);

    bool matchesId(unsigned int id) const;
    bool accepts(const CanFrame &frame) const;
    QString summary() const;

    QList<std::pair<unsigned int, unsigned int>> ranges;
    int mode = Include;  // any non-zero value acts as Exclude
    bool enabled = false;
};
