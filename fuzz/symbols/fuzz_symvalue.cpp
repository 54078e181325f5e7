// Typed values against variables of every kind: parseValue and applyText must
// reject or accept any text without crashing, and never write outside the frame.
#include "symbolfile.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

const SymbolDatabase &database()
{
    static const SymbolDatabase db = [] {
        SymbolDatabase d;
        d.loadData("FormatVersion=6.0\nDecimalSeparator=,\n{ENUMS}\n"
                   "enum Mode(0=\"Aus\", 1=\"Ein\", -3..-1=\"Fehler\", 5..9=\"Bereich\")\n"
                   "{SENDRECEIVE}\n[All]\nID=123h\nLen=8\n"
                   "Var=B bit 0,1\nVar=C char 8,8\nVar=S string 16,16\nVar=I signed 32,12 -m /f:0,5 /o:-40 /min:-100 /max:100\n"
                   "Var=U unsigned 44,4 -b\nVar=H unsigned 48,16 -h /f:0,001\nVar=R raw 0,64\n"
                   "[Wide]\nID=124h\nVar=F float 0,32 /f:2\nVar=D double 0,64 -m\nVar=E Mode 0,8\n"
                   "Var=L signed 0,64\nVar=W unsigned 0,64 /max:1e18\n",
                   QString(), nullptr, nullptr);
        return d;
    }();
    return db;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const SymbolDatabase &db = database();
    QList<const SymVariable *> variables;
    for (const SymMessage &m : db.messages)
        for (const SymVariable &v : m.variables)
            variables.append(&v);
    if (variables.isEmpty())
        return 0;
    const SymVariable &variable = *variables.at(data[0] % variables.size());
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    qint64 raw = 0;
    QString error;
    if (db.parseValue(variable, text, &raw, &error))
        (void)db.formatValue(variable, raw);
    CanFrame frame;
    frame.dlc = quint8(data[0] % 9);
    if (db.applyText(variable, text, frame, &error)) {
        if (frame.dlc > 8)
            __builtin_trap();
        (void)db.valueText(variable, frame);
        (void)db.rawText(variable, frame);
    }
    QByteArray bytes;
    (void)SymbolDatabase::textToBytes(variable, text, &bytes, &error);

    // The shortcuts of the display path must agree with the general code:
    // fixed-point digits with Qt's, a variable's bits with its slot list.
    if (size >= 9) {
        double number = 0.0;
        std::memcpy(&number, data + 1, sizeof number);
        SymVariable places;
        places.decimals = data[0] % 16;
        if (db.formatNumber(places, number) != QString::number(number, 'f', places.decimals))
            __builtin_trap();
        CanFrame any;
        std::memcpy(any.data, data + 1, sizeof any.data);
        for (const SymVariable *v : std::as_const(variables)) {
            if (!v->isNumeric())
                continue;
            const int w = int(v->bits.size());
            const quint64 mask = w < 64 ? (quint64(1) << w) - 1 : ~quint64(0);
            if ((quint64(db.rawValue(*v, any)) & mask) != SymbolDatabase::extract(v->bits, any))
                __builtin_trap();
        }
    }
    return 0;
}
