#include "recordingbackend.h"
#include "sdoclient.h"
#include "sdotypes.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

constexpr quint32 Response5 = 0x585;

QStringList sentBytes(const RecordingBackend &backend)
{
    QStringList list;
    for (const CanFrame &frame : backend.written) {
        if (frame.id != 0x605 || frame.dlc != 8 || frame.extended || frame.rtr)
            list << QStringLiteral("bad frame");
        else
            list << QString::fromLatin1(frameBytes(frame));
    }
    return list;
}

QString progressText(const QSignalSpy &spy)
{
    QStringList parts;
    for (const QList<QVariant> &args : spy)
        parts << QStringLiteral("%1/%2").arg(args.at(0).toInt()).arg(args.at(1).toInt());
    return parts.join(QLatin1Char(' '));
}

} // namespace

class TestSdoClient : public QObject
{
    Q_OBJECT

private slots:
    void transfer_data();
    void transfer();
    void refusals_data();
    void refusals();
    void secondTransferLeavesFirstUntouched();
    void ignoredFrames_data();
    void ignoredFrames();
    void timeoutAbortsAndRestartsPerRequest();
    void cancelSendsAbort();
    void backendChangeEndsTransfer();
    void sendFailureMidTransfer_data();
    void sendFailureMidTransfer();
    void restartFromFinishedSlot();
    void oversizedUploadStopsAtLimit();
    void blockTransfer_data();
    void blockTransfer();
    void blockSegmentsRestartTimeout_data();
    void blockSegmentsRestartTimeout();
};

void TestSdoClient::transfer_data()
{
    QTest::addColumn<QByteArray>("writeData"); // empty: upload
    QTest::addColumn<int>("sub");
    QTest::addColumn<QStringList>("responses");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("message");
    QTest::addColumn<quint32>("abortCode");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("progress");

    const QString req = QStringLiteral("40 00 10 00 00 00 00 00");
    const QString seg0 = QStringLiteral("60 00 00 00 00 00 00 00");
    const QString seg1 = QStringLiteral("70 00 00 00 00 00 00 00");

    QTest::newRow("expedited 1 byte") << QByteArray() << 0 << QStringList{"4F 00 10 00 2A 00 00 00"}
                                      << QStringList{req} << true << "" << 0u << QByteArray("\x2A") << "";
    QTest::newRow("expedited without size") << QByteArray() << 0 << QStringList{"42 00 10 00 01 02 03 04"}
                                            << QStringList{req} << true << "" << 0u
                                            << QByteArray("\x01\x02\x03\x04") << "";
    QTest::newRow("segmented 7+3")
        << QByteArray() << 0
        << QStringList{"41 00 10 00 0A 00 00 00", "00 41 42 43 44 45 46 47", "19 48 49 4A 00 00 00 00"}
        << QStringList{req, seg0, seg1} << true << "" << 0u << QByteArray("ABCDEFGHIJ") << "0/10 7/10 10/10";
    QTest::newRow("segmented without size")
        << QByteArray() << 0 << QStringList{"40 00 10 00 00 00 00 00", "07 41 42 43 44 00 00 00"}
        << QStringList{req, seg0} << true << "" << 0u << QByteArray("ABCD") << "0/-1 4/-1";
    QTest::newRow("segmented size 0") << QByteArray() << 0 << QStringList{"41 00 10 00 00 00 00 00", "0F 00 00 00 00 00 00 00"}
                                      << QStringList{req, seg0} << true << "" << 0u << QByteArray() << "0/0 0/0";
    QTest::newRow("longer than announced at the end")
        << QByteArray() << 0
        << QStringList{"41 00 10 00 0A 00 00 00", "00 41 42 43 44 45 46 47", "17 48 49 4A 4B 00 00 00"}
        << QStringList{req, seg0, seg1} << false << "Datenlänge 11 Byte, angekündigt waren 10 Byte" << 0u
        << QByteArray("ABCDEFG") << "0/10 7/10";
    QTest::newRow("shorter than announced")
        << QByteArray() << 0 << QStringList{"41 00 10 00 0A 00 00 00", "07 41 42 43 44 00 00 00"}
        << QStringList{req, seg0} << false << "Datenlänge 4 Byte, angekündigt waren 10 Byte" << 0u
        << QByteArray("ABCD") << "0/10 4/10";
    QTest::newRow("more than announced before the end")
        << QByteArray() << 0
        << QStringList{"41 00 10 00 05 00 00 00", "00 41 42 43 44 45 46 47"}
        << QStringList{req, seg0, "80 00 10 00 10 00 07 06"} << false
        << "Datenlänge 7 Byte, angekündigt waren 5 Byte" << 0x06070010u << QByteArray() << "0/5";
    QTest::newRow("wrong toggle")
        << QByteArray() << 0 << QStringList{"41 00 10 00 0A 00 00 00", "10 41 42 43 44 45 46 47"}
        << QStringList{req, seg0, "80 00 10 00 00 00 03 05"} << false
        << Sdo::abortText(0x05030000) << 0x05030000u << QByteArray() << "0/10";
    // Late answers of an earlier, timed-out transfer: ignored, not answered.
    QTest::newRow("late response for other subindex")
        << QByteArray() << 0 << QStringList{"4F 00 10 01 2A 00 00 00", "4F 00 10 00 2B 00 00 00"}
        << QStringList{req} << true << "" << 0u << QByteArray("\x2B") << "";
    QTest::newRow("late abort for other object")
        << QByteArray() << 0 << QStringList{"80 00 20 07 00 00 02 06", "4F 00 10 00 2B 00 00 00"}
        << QStringList{req} << true << "" << 0u << QByteArray("\x2B") << "";
    QTest::newRow("late write response while reading")
        << QByteArray() << 0 << QStringList{"60 17 10 00 00 00 00 00", "4F 00 10 00 2B 00 00 00"}
        << QStringList{req} << true << "" << 0u << QByteArray("\x2B") << "";
    QTest::newRow("matching abort") << QByteArray() << 0 << QStringList{"80 00 10 00 00 00 02 06"} << QStringList{req}
                                    << false << "Objekt existiert nicht im Objektverzeichnis (0x06020000)"
                                    << 0x06020000u << QByteArray() << "";
    // Some servers refuse the very first request without repeating the multiplexer.
    QTest::newRow("abort without mux on the first request")
        << QByteArray() << 0 << QStringList{"80 00 00 00 00 00 02 06"} << QStringList{req} << false
        << Sdo::abortText(0x06020000) << 0x06020000u << QByteArray() << "";
    QTest::newRow("write refused without mux")
        << QByteArray("\x01") << 3 << QStringList{"80 00 00 00 22 00 00 08"} << QStringList{"2F 00 10 03 01 00 00 00"}
        << false << Sdo::abortText(0x08000022) << 0x08000022u << QByteArray("\x01") << "0/1";
    QTest::newRow("abort without mux during segments")
        << QByteArray() << 0 << QStringList{"41 00 10 00 0A 00 00 00", "80 00 00 00 00 00 04 08"}
        << QStringList{req, seg0} << false << Sdo::abortText(0x08040000) << 0x08040000u << QByteArray() << "0/10";
    QTest::newRow("foreign abort during segments ignored")
        << QByteArray() << 0
        << QStringList{"41 00 10 00 0A 00 00 00", "80 08 10 00 00 00 02 06", "00 41 42 43 44 45 46 47",
                       "19 48 49 4A 00 00 00 00"}
        << QStringList{req, seg0, seg1} << true << "" << 0u << QByteArray("ABCDEFGHIJ") << "0/10 7/10 10/10";
    QTest::newRow("right mux, wrong command is unexpected")
        << QByteArray() << 0 << QStringList{"60 00 10 00 00 00 00 00"}
        << QStringList{req, "80 00 10 00 01 00 04 05"} << false << "Unerwartete Antwort (Befehl 0x60)"
        << 0x05040001u << QByteArray() << "";
    QTest::newRow("write 4 bytes") << QByteArray("\x01\x02\x03\x04") << 0 << QStringList{"60 00 10 00 00 00 00 00"}
                                   << QStringList{"23 00 10 00 01 02 03 04"} << true << "" << 0u
                                   << QByteArray("\x01\x02\x03\x04") << "0/4";
    QTest::newRow("write 1 byte") << QByteArray("\x07") << 0 << QStringList{"60 00 10 00 00 00 00 00"}
                                  << QStringList{"2F 00 10 00 07 00 00 00"} << true << "" << 0u << QByteArray("\x07")
                                  << "0/1";
    QTest::newRow("write 5 bytes") << QByteArray("ABCDE") << 0
                                   << QStringList{"60 00 10 00 00 00 00 00", "20 00 00 00 00 00 00 00"}
                                   << QStringList{"21 00 10 00 05 00 00 00", "05 41 42 43 44 45 00 00"} << true << ""
                                   << 0u << QByteArray("ABCDE") << "0/5 5/5";
    QTest::newRow("write 14 bytes")
        << QByteArray("ABCDEFGHIJKLMN") << 0
        << QStringList{"60 00 10 00 00 00 00 00", "20 00 00 00 00 00 00 00", "30 00 00 00 00 00 00 00"}
        << QStringList{"21 00 10 00 0E 00 00 00", "00 41 42 43 44 45 46 47", "11 48 49 4A 4B 4C 4D 4E"} << true
        << "" << 0u << QByteArray("ABCDEFGHIJKLMN") << "0/14 7/14 14/14";
    QTest::newRow("write segment wrong toggle")
        << QByteArray("ABCDE") << 0 << QStringList{"60 00 10 00 00 00 00 00", "30 00 00 00 00 00 00 00"}
        << QStringList{"21 00 10 00 05 00 00 00", "05 41 42 43 44 45 00 00", "80 00 10 00 00 00 03 05"} << false
        << Sdo::abortText(0x05030000) << 0x05030000u << QByteArray("ABCDE") << "0/5";
    QTest::newRow("write answered with upload response")
        << QByteArray("\x01") << 3 << QStringList{"4F 00 10 03 00 00 00 00"}
        << QStringList{"2F 00 10 03 01 00 00 00", "80 00 10 03 01 00 04 05"} << false
        << "Unerwartete Antwort (Befehl 0x4f)" << 0x05040001u << QByteArray("\x01") << "0/1";
}

void TestSdoClient::transfer()
{
    QFETCH(QByteArray, writeData);
    QFETCH(int, sub);
    QFETCH(QStringList, responses);
    QFETCH(QStringList, sent);
    QFETCH(bool, ok);
    QFETCH(QString, message);
    QFETCH(quint32, abortCode);
    QFETCH(QByteArray, data);
    QFETCH(QString, progress);

    RecordingBackend backend;
    SdoClient client;
    client.setBackend(&backend);
    QSignalSpy finished(&client, &SdoClient::finished);
    QSignalSpy progressSpy(&client, &SdoClient::progress);
    QString error;
    const bool started = writeData.isEmpty() ? client.upload(5, 0x1000, quint8(sub), &error)
                                             : client.download(5, 0x1000, quint8(sub), writeData, &error);
    QVERIFY2(started, qPrintable(error));
    for (const QString &response : responses)
        client.handleFrames({hexFrame(Response5, response.toLatin1().constData())});

    QCOMPARE(sentBytes(backend), sent);
    QCOMPARE(finished.size(), 1);
    const auto result = finished.at(0).at(0).value<SdoClient::Result>();
    QCOMPARE(result.ok, ok);
    QCOMPARE(result.message, message);
    QCOMPARE(result.abortCode, abortCode);
    QCOMPARE(result.data.toHex(' '), data.toHex(' '));
    QCOMPARE(result.node, 5);
    QCOMPARE(result.index, quint16(0x1000));
    QCOMPARE(result.subIndex, quint8(sub));
    QCOMPARE(result.operation, writeData.isEmpty() ? SdoClient::Upload : SdoClient::Download);
    QCOMPARE(progressText(progressSpy), progress);
    QVERIFY(!client.isBusy());
}

void TestSdoClient::refusals_data()
{
    QTest::addColumn<int>("node");
    QTest::addColumn<QByteArray>("writeData");
    QTest::addColumn<int>("backendKind"); // 0 none, 1 open, 2 closed, 3 failing write
    QTest::addColumn<QString>("message");
    QTest::newRow("node 0") << 0 << QByteArray() << 1 << "Knoten-ID muss zwischen 1 und 127 liegen.";
    QTest::newRow("node 128") << 128 << QByteArray() << 1 << "Knoten-ID muss zwischen 1 und 127 liegen.";
    QTest::newRow("no backend") << 5 << QByteArray() << 0 << "Nicht verbunden.";
    QTest::newRow("closed backend") << 5 << QByteArray("x") << 2 << "Nicht verbunden.";
    QTest::newRow("empty write before anything") << 0 << QByteArray("") << 0 << "Keine Daten zum Schreiben.";
    QTest::newRow("send fails") << 5 << QByteArray() << 3 << "Senden fehlgeschlagen: Puffer voll";
    QTest::newRow("send fails write") << 5 << QByteArray("abcdef") << 3 << "Senden fehlgeschlagen: Puffer voll";
}

void TestSdoClient::refusals()
{
    QFETCH(int, node);
    QFETCH(QByteArray, writeData);
    QFETCH(int, backendKind);
    QFETCH(QString, message);
    RecordingBackend backend;
    backend.failWrites = backendKind == 3;
    backend.writeError = QStringLiteral("Puffer voll");
    if (backendKind == 2)
        backend.close();
    SdoClient client;
    if (backendKind != 0)
        client.setBackend(&backend);
    QSignalSpy finished(&client, &SdoClient::finished);
    QString error;
    const bool upload = writeData.isNull();
    const bool started = upload ? client.upload(node, 0x1000, 0, &error)
                                : client.download(node, 0x1000, 0, writeData, &error);
    QVERIFY(!started);
    QCOMPARE(error, message);
    QVERIFY(!client.isBusy());
    QCOMPARE(finished.size(), 0);
}

void TestSdoClient::secondTransferLeavesFirstUntouched()
{
    RecordingBackend backend;
    SdoClient client;
    client.setBackend(&backend);
    QSignalSpy finished(&client, &SdoClient::finished);
    QVERIFY(client.upload(5, 0x1017, 0, nullptr));
    QString error;
    QVERIFY(!client.upload(5, 0x1018, 1, &error));
    QCOMPARE(error, QStringLiteral("Es läuft bereits ein SDO-Transfer."));
    QCOMPARE(backend.written.size(), 1);
    client.handleFrames({hexFrame(Response5, "4B 17 10 00 E8 03 00 00")});
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).value<SdoClient::Result>().data, QByteArray("\xE8\x03", 2));
}

void TestSdoClient::ignoredFrames_data()
{
    QTest::addColumn<CanFrame>("frame");
    CanFrame good = hexFrame(Response5, "4F 00 10 00 2A 00 00 00");
    CanFrame f = good;
    f.tx = true;
    QTest::newRow("echo") << f;
    f = good;
    f.extended = true;
    QTest::newRow("extended") << f;
    f = good;
    f.rtr = true;
    QTest::newRow("remote") << f;
    f = good;
    f.dlc = 0;
    QTest::newRow("empty") << f;
    f = good;
    f.id = 0x586;
    QTest::newRow("other node") << f;
    f = good;
    f.status = true;
    QTest::newRow("status") << f;
}

void TestSdoClient::ignoredFrames()
{
    QFETCH(CanFrame, frame);
    RecordingBackend backend;
    SdoClient client;
    client.setBackend(&backend);
    QSignalSpy finished(&client, &SdoClient::finished);
    QVERIFY(client.upload(5, 0x1000, 0, nullptr));
    client.handleFrames({frame});
    QCOMPARE(finished.size(), 0);
    QVERIFY(client.isBusy());
    // A short response is read with what it has: the rest of the bytes are zero.
    client.handleFrames({hexFrame(Response5, "4F 00 10 00")});
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).value<SdoClient::Result>().data, QByteArray(1, '\0'));
}

void TestSdoClient::timeoutAbortsAndRestartsPerRequest()
{
    RecordingBackend backend;
    SdoClient client;
    client.setBackend(&backend);
    client.setTimeoutMs(5);
    QCOMPARE(client.timeoutMs(), 10);
    QSignalSpy finished(&client, &SdoClient::finished);
    QVERIFY(client.upload(7, 0x1008, 0, nullptr));
    client.handleFrames({hexFrame(0x587, "41 08 10 00 15 00 00 00")});
    client.handleFrames({hexFrame(0x587, "00 41 42 43 44 45 46 47")});
    QCOMPARE(finished.size(), 0);
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.size(), 1);
    const auto result = finished.at(0).at(0).value<SdoClient::Result>();
    QCOMPARE(result.message, QStringLiteral("Keine Antwort von Knoten 7 innerhalb von 10 ms"));
    QCOMPARE(result.abortCode, quint32(0x05040000));
    QCOMPARE(result.data, QByteArray("ABCDEFG"));
    QVERIFY(result.elapsedMs >= 10);
    QCOMPARE(QString::fromLatin1(frameBytes(backend.written.last())), QStringLiteral("80 08 10 00 00 00 04 05"));
    QCOMPARE(backend.written.size(), 4); // initiate, two segment requests, abort
}

void TestSdoClient::cancelSendsAbort()
{
    RecordingBackend backend;
    SdoClient client;
    client.setBackend(&backend);
    QSignalSpy finished(&client, &SdoClient::finished);
    client.cancel(); // idle: nothing
    QCOMPARE(backend.written.size(), 0);
    QVERIFY(client.download(5, 0x2002, 0, QByteArray("Hallo Welt"), nullptr));
    client.cancel();
    QCOMPARE(finished.size(), 1);
    const auto result = finished.at(0).at(0).value<SdoClient::Result>();
    QCOMPARE(result.message, QStringLiteral("Vom Benutzer abgebrochen"));
    QCOMPARE(result.abortCode, quint32(0x08000000));
    QCOMPARE(QString::fromLatin1(frameBytes(backend.written.last())), QStringLiteral("80 02 20 00 00 00 00 08"));
    client.cancel();
    QCOMPARE(finished.size(), 1);
}

void TestSdoClient::backendChangeEndsTransfer()
{
    auto *backend = new RecordingBackend;
    SdoClient client;
    client.setBackend(backend);
    QSignalSpy finished(&client, &SdoClient::finished);
    QVERIFY(client.upload(5, 0x1000, 0, nullptr));
    client.setBackend(backend); // same backend: nothing
    QCOMPARE(finished.size(), 0);
    client.setBackend(nullptr);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).value<SdoClient::Result>().message, QStringLiteral("Verbindung getrennt"));
    QCOMPARE(backend->written.size(), 1); // no abort frame
    client.setBackend(backend);
    delete backend; // the guarded pointer forgets it
    QString error;
    QVERIFY(!client.upload(5, 0x1000, 0, &error));
    QCOMPARE(error, QStringLiteral("Nicht verbunden."));
}

void TestSdoClient::sendFailureMidTransfer_data()
{
    QTest::addColumn<QByteArray>("writeData"); // empty: upload
    QTest::addColumn<bool>("block");
    QTest::addColumn<QStringList>("responses");
    QTest::addColumn<QList<int>>("failingWrites");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("message");
    QTest::addColumn<quint32>("abortCode");

    const QString req = QStringLiteral("40 00 10 00 00 00 00 00");
    const QString abort = QStringLiteral("80 00 10 00 00 00 00 08");
    const QString failed = QStringLiteral("Senden fehlgeschlagen: Puffer voll");
    const QString abortFailed = QStringLiteral("Senden fehlgeschlagen: Puffer voll; Abbruch konnte nicht gesendet werden");
    const QString initiate10 = QStringLiteral("41 00 10 00 0A 00 00 00");
    const QString blockInit = QStringLiteral("A4 00 10 00 7F 00 00 00");
    const QString blockInitiate10 = QStringLiteral("C6 00 10 00 0A 00 00 00");
    const QStringList abcSegments = {"01 41 42 43 44 45 46 47", "82 48 49 4A 00 00 00 00"};
    QByteArray twenty;
    for (int i = 0; i < 20; ++i)
        twenty.append(char(i));

    QTest::newRow("upload segment request") << QByteArray() << false << QStringList{initiate10} << QList<int>{2}
                                            << QStringList{req, abort} << failed << 0x08000000u;
    QTest::newRow("upload segment request, abort too")
        << QByteArray() << false << QStringList{initiate10} << QList<int>{2, 3} << QStringList{req} << abortFailed << 0u;
    QTest::newRow("second upload segment request")
        << QByteArray() << false << QStringList{initiate10, "00 41 42 43 44 45 46 47"} << QList<int>{3}
        << QStringList{req, "60 00 00 00 00 00 00 00", abort} << failed << 0x08000000u;
    QTest::newRow("first download segment")
        << QByteArray("ABCDEFGHIJ") << false << QStringList{"60 00 10 00 00 00 00 00"} << QList<int>{2}
        << QStringList{"21 00 10 00 0A 00 00 00", abort} << failed << 0x08000000u;
    QTest::newRow("second download segment")
        << QByteArray("ABCDEFGHIJ") << false << QStringList{"60 00 10 00 00 00 00 00", "20 00 00 00 00 00 00 00"}
        << QList<int>{3} << QStringList{"21 00 10 00 0A 00 00 00", "00 41 42 43 44 45 46 47", abort} << failed
        << 0x08000000u;
    QTest::newRow("block upload start") << QByteArray() << true << QStringList{blockInitiate10} << QList<int>{2}
                                        << QStringList{blockInit, abort} << failed << 0x08000000u;
    QTest::newRow("block upload acknowledgement")
        << QByteArray() << true << QStringList{blockInitiate10} + abcSegments << QList<int>{3}
        << QStringList{blockInit, "A3 00 00 00 00 00 00 00", abort} << failed << 0x08000000u;
    QTest::newRow("block upload end confirmation")
        << QByteArray() << true << QStringList{blockInitiate10} + abcSegments + QStringList{"D1 F5 86 00 00 00 00 00"}
        << QList<int>{4} << QStringList{blockInit, "A3 00 00 00 00 00 00 00", "A2 02 7F 00 00 00 00 00", abort} << failed
        << 0x08000000u;
    QTest::newRow("block download segment inside the block")
        << twenty << true << QStringList{"A4 00 10 00 02 00 00 00"} << QList<int>{3}
        << QStringList{"C6 00 10 00 14 00 00 00", "01 00 01 02 03 04 05 06", abort} << failed << 0x08000000u;
    QTest::newRow("block download end")
        << QByteArray("\x01") << true << QStringList{"A4 00 10 00 7F 00 00 00", "A2 01 7F 00 00 00 00 00"}
        << QList<int>{3} << QStringList{"C6 00 10 00 01 00 00 00", "81 01 00 00 00 00 00 00", abort} << failed
        << 0x08000000u;
    QTest::newRow("block download segment, abort too")
        << twenty << true << QStringList{"A4 00 10 00 02 00 00 00"} << QList<int>{3, 4}
        << QStringList{"C6 00 10 00 14 00 00 00", "01 00 01 02 03 04 05 06"} << abortFailed << 0u;
    // The server ended the block transfer with its refusal: nothing to abort.
    QTest::newRow("segmented retry after block refusal")
        << QByteArray() << true << QStringList{"80 00 10 00 01 00 04 05"} << QList<int>{2} << QStringList{blockInit}
        << failed << 0u;
}

void TestSdoClient::sendFailureMidTransfer()
{
    QFETCH(QByteArray, writeData);
    QFETCH(bool, block);
    QFETCH(QStringList, responses);
    QFETCH(QList<int>, failingWrites);
    QFETCH(QStringList, sent);
    QFETCH(QString, message);
    QFETCH(quint32, abortCode);

    RecordingBackend backend;
    backend.failingWrites = failingWrites;
    backend.writeError = QStringLiteral("Puffer voll");
    SdoClient client;
    client.setBackend(&backend);
    client.setBlockTransfer(block);
    QSignalSpy finished(&client, &SdoClient::finished);
    const bool started = writeData.isEmpty() ? client.upload(5, 0x1000, 0, nullptr)
                                             : client.download(5, 0x1000, 0, writeData, nullptr);
    QVERIFY(started);
    for (const QString &response : responses) {
        QCOMPARE(finished.size(), 0);
        client.handleFrames({hexFrame(Response5, response.toLatin1().constData())});
    }
    QCOMPARE(sentBytes(backend), sent);
    QCOMPARE(finished.size(), 1);
    const auto result = finished.at(0).at(0).value<SdoClient::Result>();
    QVERIFY(!result.ok);
    QCOMPARE(result.message, message);
    QCOMPARE(result.abortCode, abortCode);
    QCOMPARE(client.abortSent(), abortCode != 0);
    QVERIFY(!client.isBusy());
}

void TestSdoClient::restartFromFinishedSlot()
{
    RecordingBackend backend;
    SdoClient client;
    client.setBackend(&backend);
    int started = 0;
    connect(&client, &SdoClient::finished, &client, [&] {
        if (started++ == 0)
            QVERIFY(client.upload(5, 0x1001, 0, nullptr));
    });
    QVERIFY(client.upload(5, 0x1000, 0, nullptr));
    // The rest of the batch belongs to the new transfer only if it is not skipped.
    client.handleFrames({hexFrame(Response5, "43 00 10 00 91 01 00 00"), hexFrame(Response5, "4F 01 10 00 00 00 00 00")});
    QCOMPARE(started, 1);
    QVERIFY(client.isBusy());
    QCOMPARE(backend.written.size(), 2);
}

void TestSdoClient::oversizedUploadStopsAtLimit()
{
    RecordingBackend backend;
    SdoClient client;
    client.setBackend(&backend);
    QSignalSpy finished(&client, &SdoClient::finished);
    QVERIFY(client.upload(5, 0x2002, 0, nullptr));
    client.handleFrames({hexFrame(Response5, "40 02 20 00 00 00 00 00")});
    int toggle = 0;
    const int segments = SdoClient::MaxUploadBytes / 7 + 1;
    CanFrame segment = hexFrame(Response5, "00 41 41 41 41 41 41 41");
    QList<CanFrame> batch;
    for (int i = 0; i < segments && finished.isEmpty(); ++i) {
        segment.data[0] = quint8(toggle << 4);
        batch.append(segment);
        toggle ^= 1;
        if (batch.size() == 4096 || i + 1 == segments) {
            client.handleFrames(batch);
            batch.clear();
            backend.written.clear();
        }
    }
    QCOMPARE(finished.size(), 1);
    const auto result = finished.at(0).at(0).value<SdoClient::Result>();
    QCOMPARE(result.message, QStringLiteral("Upload zu groß"));
    QCOMPARE(result.abortCode, quint32(0x05040005));
    QVERIFY(result.data.size() <= SdoClient::MaxUploadBytes);
    QVERIFY(result.data.size() > SdoClient::MaxUploadBytes - 7);
}

void TestSdoClient::blockTransfer_data()
{
    QTest::addColumn<QByteArray>("writeData"); // empty: upload
    QTest::addColumn<QStringList>("responses");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<quint32>("abortCode"); // 0: success
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("block");
    QTest::addColumn<QString>("progress");

    const QString init = QStringLiteral("A4 00 10 00 7F 00 00 00");
    const QString start = QStringLiteral("A3 00 00 00 00 00 00 00");
    const QString end = QStringLiteral("A1 00 00 00 00 00 00 00");
    const QStringList abcSegments = {"01 41 42 43 44 45 46 47", "82 48 49 4A 00 00 00 00"};
    const QByteArray abc("ABCDEFGHIJ");

    QTest::newRow("upload 10 bytes with CRC")
        << QByteArray() << QStringList{"C6 00 10 00 0A 00 00 00"} + abcSegments + QStringList{"D1 F5 86 00 00 00 00 00"}
        << QStringList{init, start, "A2 02 7F 00 00 00 00 00", end} << 0u << abc << true << "0/10 10/10";
    QTest::newRow("upload CRC error")
        << QByteArray() << QStringList{"C6 00 10 00 0A 00 00 00"} + abcSegments + QStringList{"D1 00 00 00 00 00 00 00"}
        << QStringList{init, start, "A2 02 7F 00 00 00 00 00", "80 00 10 00 04 00 04 05"} << 0x05040004u << abc
        << true << "0/10 10/10";
    QTest::newRow("upload without server CRC")
        << QByteArray() << QStringList{"C2 00 10 00 0A 00 00 00"} + abcSegments + QStringList{"D1 00 00 00 00 00 00 00"}
        << QStringList{init, start, "A2 02 7F 00 00 00 00 00", end} << 0u << abc << true << "0/10 10/10";
    QTest::newRow("upload refused: segmented instead")
        << QByteArray() << QStringList{"80 00 10 00 01 00 04 05", "4F 00 10 00 2A 00 00 00"}
        << QStringList{init, "40 00 10 00 00 00 00 00"} << 0u << QByteArray("\x2A") << false << "";
    QTest::newRow("upload refused without mux: segmented instead")
        << QByteArray() << QStringList{"80 00 00 00 01 00 04 05", "4F 00 10 00 2A 00 00 00"}
        << QStringList{init, "40 00 10 00 00 00 00 00"} << 0u << QByteArray("\x2A") << false << "";
    QTest::newRow("upload answered normally") << QByteArray() << QStringList{"43 00 10 00 91 01 00 00"}
                                              << QStringList{init} << 0u << QByteArray("\x91\x01\x00\x00", 4)
                                              << false << "";
    QTest::newRow("upload other abort ends it") << QByteArray() << QStringList{"80 00 10 00 00 00 02 06"}
                                                << QStringList{init} << 0x06020000u << QByteArray() << true << "";
    QTest::newRow("upload lost segment repeated")
        << QByteArray()
        << QStringList{"C6 00 10 00 0A 00 00 00", "01 41 42 43 44 45 46 47", "83 48 49 4A 00 00 00 00",
                       "81 48 49 4A 00 00 00 00", "D1 F5 86 00 00 00 00 00"}
        << QStringList{init, start, "A2 01 7F 00 00 00 00 00", "A2 01 7F 00 00 00 00 00", end} << 0u << abc << true
        << "0/10 7/10 10/10";
    QTest::newRow("upload sequence 0")
        << QByteArray() << QStringList{"C6 00 10 00 0A 00 00 00", "00 41 42 43 44 45 46 47"}
        << QStringList{init, start, "80 00 10 00 03 00 04 05"} << 0x05040003u << QByteArray() << true << "0/10";
    QTest::newRow("upload more than announced")
        << QByteArray() << QStringList{"C6 00 10 00 0A 00 00 00"} + abcSegments + QStringList{"CD 00 00 00 00 00 00 00"}
        << QStringList{init, start, "A2 02 7F 00 00 00 00 00", "80 00 10 00 10 00 07 06"} << 0x06070010u
        << abc << true << "0/10 10/10";

    QByteArray twenty;
    for (int i = 0; i < 20; ++i)
        twenty.append(char(i));
    const QString init20 = QStringLiteral("C6 00 10 00 14 00 00 00");
    const QString seg1 = QStringLiteral("01 00 01 02 03 04 05 06");
    const QString seg2 = QStringLiteral("02 07 08 09 0A 0B 0C 0D");
    const QString endCrc = QStringLiteral("C5 CC AC 00 00 00 00 00");
    QTest::newRow("download 20 bytes in blocks of 2")
        << twenty << QStringList{"A4 00 10 00 02 00 00 00", "A2 02 02 00 00 00 00 00", "A2 01 02 00 00 00 00 00", end}
        << QStringList{init20, seg1, seg2, "81 0E 0F 10 11 12 13 00", endCrc} << 0u << twenty << true
        << "0/20 14/20 20/20";
    QTest::newRow("download repeats after partial acknowledgement")
        << twenty << QStringList{"A4 00 10 00 02 00 00 00", "A2 01 02 00 00 00 00 00", "A2 02 02 00 00 00 00 00", end}
        << QStringList{init20, seg1, seg2, "01 07 08 09 0A 0B 0C 0D", "82 0E 0F 10 11 12 13 00", endCrc} << 0u << twenty
        << true << "0/20 7/20 20/20";
    QTest::newRow("download without server CRC")
        << twenty << QStringList{"A0 00 10 00 7F 00 00 00", "A2 03 7F 00 00 00 00 00", end}
        << QStringList{init20, seg1, seg2, "83 0E 0F 10 11 12 13 00", "C5 00 00 00 00 00 00 00"} << 0u << twenty << true
        << "0/20 20/20";
    QTest::newRow("download refused: segmented instead")
        << QByteArray("ABCDE") << QStringList{"80 00 10 00 01 00 04 05", "60 00 10 00 00 00 00 00", "20 00 00 00 00 00 00 00"}
        << QStringList{"C6 00 10 00 05 00 00 00", "21 00 10 00 05 00 00 00", "05 41 42 43 44 45 00 00"} << 0u
        << QByteArray("ABCDE") << false << "0/5 5/5";
    QTest::newRow("download block size 0")
        << twenty << QStringList{"A4 00 10 00 00 00 00 00"} << QStringList{init20, "80 00 10 00 02 00 04 05"}
        << 0x05040002u << twenty << true << "0/20";
    QTest::newRow("download acknowledgement beyond the block")
        << twenty << QStringList{"A4 00 10 00 02 00 00 00", "A2 05 02 00 00 00 00 00"}
        << QStringList{init20, seg1, seg2, "80 00 10 00 03 00 04 05"} << 0x05040003u << twenty << true << "0/20";
    QTest::newRow("download end answered wrongly")
        << QByteArray("\x01") << QStringList{"A4 00 10 00 7F 00 00 00", "A2 01 7F 00 00 00 00 00", "A2 00 00 00 00 00 00 00"}
        << QStringList{"C6 00 10 00 01 00 00 00", "81 01 00 00 00 00 00 00", "D9 21 10 00 00 00 00 00",
                       "80 00 10 00 01 00 04 05"}
        << 0x05040001u << QByteArray("\x01") << true << "0/1 1/1";
}

void TestSdoClient::blockTransfer()
{
    QFETCH(QByteArray, writeData);
    QFETCH(QStringList, responses);
    QFETCH(QStringList, sent);
    QFETCH(quint32, abortCode);
    QFETCH(QByteArray, data);
    QFETCH(bool, block);
    QFETCH(QString, progress);

    RecordingBackend backend;
    SdoClient client;
    client.setBackend(&backend);
    client.setBlockTransfer(true);
    QSignalSpy finished(&client, &SdoClient::finished);
    QSignalSpy progressSpy(&client, &SdoClient::progress);
    QString error;
    const bool started = writeData.isEmpty() ? client.upload(5, 0x1000, 0, &error)
                                             : client.download(5, 0x1000, 0, writeData, &error);
    QVERIFY2(started, qPrintable(error));
    for (const QString &response : responses) {
        QCOMPARE(finished.size(), 0);
        client.handleFrames({hexFrame(Response5, response.toLatin1().constData())});
    }
    QCOMPARE(sentBytes(backend), sent);
    QCOMPARE(finished.size(), 1);
    const auto result = finished.at(0).at(0).value<SdoClient::Result>();
    QCOMPARE(result.ok, abortCode == 0);
    QCOMPARE(result.abortCode, abortCode);
    if (abortCode >= 0x05040002 && abortCode <= 0x05040004)
        QCOMPARE(result.message, Sdo::abortText(abortCode));
    QCOMPARE(result.data.toHex(' '), data.toHex(' '));
    QCOMPARE(result.block, block);
    QCOMPARE(progressText(progressSpy), progress);
    QVERIFY(!client.isBusy());
}

void TestSdoClient::blockSegmentsRestartTimeout_data()
{
    QTest::addColumn<QStringList>("segments");
    QTest::newRow("first segment") << QStringList{"01 41 42 43 44 45 46 47"};
    QTest::newRow("two segments") << QStringList{"01 41 42 43 44 45 46 47", "02 48 49 4A 4B 4C 4D 4E"};
    QTest::newRow("segment out of order") << QStringList{"03 41 42 43 44 45 46 47"};
}

void TestSdoClient::blockSegmentsRestartTimeout()
{
    // A slow bus takes longer for a whole block than for one time-out: each
    // segment that arrives shows that the server is still sending.
    QFETCH(QStringList, segments);
    RecordingBackend backend;
    SdoClient client;
    client.setBackend(&backend);
    client.setBlockTransfer(true);
    client.setTimeoutMs(60000);
    auto *timer = client.findChild<QTimer *>();
    QVERIFY(timer);
    QVERIFY(client.upload(5, 0x1000, 0, nullptr));
    client.handleFrames({hexFrame(Response5, "C6 00 10 00 00 01 00 00")});
    QCOMPARE(backend.written.size(), 2);
    for (const QString &segment : segments) {
        timer->stop();
        client.handleFrames({hexFrame(Response5, segment.toLatin1().constData())});
        QVERIFY(timer->isActive());
        QVERIFY(timer->remainingTime() > 30000);
    }
    QCOMPARE(backend.written.size(), 2); // no request in between restarted it
    QVERIFY(client.isBusy());
}

QTEST_GUILESS_MAIN(TestSdoClient)
#include "tst_sdoclient.moc"
