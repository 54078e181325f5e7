// Frames per second through MainWindow::onFramesReceived with the consumers
// of today, including the 100 ms refresh that publishes to the views.
#include "mainwindow.h"
#include "symbolfile.h"
#include "tracemodel.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>

#include <cstdio>

namespace {

CanFrameList makeBatch(int size, int identifiers, quint64 *counter)
{
    CanFrameList batch;
    batch.reserve(size);
    for (int i = 0; i < size; ++i) {
        CanFrame f;
        const quint64 n = (*counter)++;
        f.id = 0x100 + quint32(n % quint64(identifiers));
        f.dlc = 8;
        for (int b = 0; b < 8; ++b)
            f.data[b] = quint8((n >> (b % 4)) + b);
        f.tx = (n % 50) == 0;
        f.timestampUs = qint64(n) * 50;
        batch.append(f);
    }
    return batch;
}

// Routes `total` frames in batches of `batchSize`; every batch of 20 ms at
// 21,000 frames/s would hold ~420 frames, refresh every five batches.
double routeRate(MainWindow &window, qint64 total, int batchSize)
{
    quint64 counter = 0;
    QList<CanFrameList> batches;
    for (int i = 0; i < 64; ++i)
        batches.append(makeBatch(batchSize, 200, &counter));

    QElapsedTimer timer;
    timer.start();
    qint64 routed = 0;
    int n = 0;
    while (routed < total) {
        window.onFramesReceived(batches.at(n % batches.size()));
        routed += batchSize;
        if (++n % 5 == 0)
            window.onRefreshTick();
    }
    window.onRefreshTick();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    return double(routed) / seconds;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir settingsDir;
    QCoreApplication::setOrganizationName(QStringLiteral("busvista-bench"));
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());

    MainWindow window;
    window.show();
    const qint64 total = 4000000;

    std::printf("router, receive list only (trace off):          %.0f frames/s\n",
                routeRate(window, total, 420));

    window.findChild<QLineEdit *>("traceFilterEdit")->setText(QStringLiteral("100-1FF, 18FEF100"));
    window.findChild<QCheckBox *>("traceFilterCheck")->setChecked(true);
    window.findChild<QSpinBox *>("traceMaxSpin")->setValue(5000000);
    window.setTraceRunning(true);
    std::printf("router, trace recording with filter:            %.0f frames/s\n",
                routeRate(window, total, 420));

    const QString sym = QStringLiteral(BUSVISTA_CORPUS "/sym/receive-6.0.sym");
    if (window.loadSymbolFile(sym, false)) {
        window.findChild<QAction *>("actionTraceClear")->trigger();
        std::printf("router, trace with filter and symbol database:  %.0f frames/s\n",
                    routeRate(window, total, 420));
    } else {
        std::printf("router with symbols: skipped (%s not loadable)\n", qPrintable(sym));
    }
    return 0;
}
