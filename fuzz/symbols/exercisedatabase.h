#pragma once

#include "symbolfile.h"

// Uses every message of a loaded database as the program would: its default
// frame found, decoded, shown and each value entered again. Shared by the
// symbol file targets so that all of them exercise the same paths.
inline void exerciseDatabase(const SymbolDatabase &db)
{
    for (const SymMessage &message : db.messages) {
        CanFrame frame = db.defaultFrame(message);
        SymbolDatabase::insertMux(message, frame);
        (void)db.find(frame);
        (void)db.decodeText(frame);
        for (const SymSignalValue &value : db.decode(message, frame))
            (void)value.text.size();
        for (const SymVariable &variable : message.variables) {
            (void)db.physicalValue(variable, frame);
            (void)db.rawText(variable, frame);
            QString entryError;
            CanFrame edited = frame;
            (void)db.applyText(variable, db.valueText(variable, frame), edited, &entryError);
        }
    }
}
