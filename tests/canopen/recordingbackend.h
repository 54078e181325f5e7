#pragma once

#include "canbackend.h"

#include <QByteArray>
#include <QList>

// Records what a client sends; a test plays the node and answers.
class RecordingBackend : public CanBackend
{
public:
    using CanBackend::CanBackend;
    bool open(const ConnectParams &, QString *) override { return m_open = true; }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    bool write(const CanFrame &frame, QString *error) override
    {
        if (failWrites || failingWrites.contains(++writeAttempts)) {
            if (error)
                *error = writeError;
            return false;
        }
        written.append(frame);
        return true;
    }
    unsigned busStatus() override { return 0; }
    QString description() const override { return QStringLiteral("Aufzeichnung"); }

    bool failWrites = false;
    QList<int> failingWrites; // numbers of the write calls that fail, from 1
    int writeAttempts = 0;
    QString writeError;
    QList<CanFrame> written;

private:
    bool m_open = true;
};

// A frame from eight bytes given as hex text ("43 00 10 00 91 01 00 00").
inline CanFrame hexFrame(quint32 id, const char *hex)
{
    const QByteArray bytes = QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
    CanFrame frame;
    frame.id = id;
    frame.dlc = quint8(qMin<qsizetype>(bytes.size(), 8));
    for (int i = 0; i < frame.dlc; ++i)
        frame.data[i] = quint8(bytes.at(i));
    return frame;
}

inline QByteArray frameBytes(const CanFrame &frame)
{
    return QByteArray(reinterpret_cast<const char *>(frame.data), frame.dlc).toHex(' ').toUpper();
}
