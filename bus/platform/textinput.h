#pragma once

#include <QString>
#include <QtGlobal>

// A byte stream read by a reader thread: a file, a named pipe or standard
// input ("-"). Reads return what is there without waiting for a full buffer,
// and waiting is bounded, so that the thread can be stopped.
class TextInput
{
public:
    TextInput() = default;
    ~TextInput();
    TextInput(const TextInput &) = delete;
    TextInput &operator=(const TextInput &) = delete;

    // False with a German message when the path cannot be opened for reading.
    bool open(const QString &path, QString *error);
    void close();

    enum Wait { Readable, TimedOut, Failed };
    Wait waitReadable(int timeoutMs);

    // Bytes read, 0 at the end of the input, -1 on an error, -2 when a
    // non-blocking input had nothing after all.
    qint64 read(char *buffer, qint64 maxBytes);

private:
    int m_fd = -1;
    bool m_ownsFd = false;
};
