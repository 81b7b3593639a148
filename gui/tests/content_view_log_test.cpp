#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QtTest>
#include <ctime>

#include "fake_connector.h"
#include "gui/content_view.h"
#include "gui/log_list_model.h"
#include "gui/log_list_view.h"

namespace korvane::connector {

// The technical log: what each row shows, and how the list follows a growing log without ever
// holding up the interface thread while keeping its rows, reading position and copies right.
class LogViewTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void logPreviewAndMeta();
    void logRowsFollowTheEntriesIncrementally();
    void thousandEntriesNeverStallTheEventLoop();
    void readingPositionStaysWhileEntriesArrive();
    void copyTakesTheWholeMaskedOutput();

  private:
    void openLogWithEntries(int count);
    void waitIdle() { QTRY_VERIFY_WITH_TIMEOUT(view->model().isIdle(), 20000); }

    FakeConnector* fake = nullptr;
    ContentView* view = nullptr;
    LogListView* list = nullptr;
};

namespace {

// Processor time this thread has used, in nanoseconds. Unlike the wall clock it does not grow
// while the machine runs something else, so the measure holds on a loaded CI machine.
qint64 threadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Outputs shaped like the connector's, among them one long unbroken line.
QStringList sampleOutputs() {
    QStringList attempts;
    for (int i = 0; i < 9; ++i) {
        attempts
            << R"({"host": "http://127.0.0.1:39951", "path": "/api/v5/account/config", "body": "{\"msg\":\"Request header OK-ACCESS-PASSPHRASE incorrect.\",\"code\":\"50105\"}"})";
    }
    return {
        "device_id=device:linux:0a1b2c3d4e5f\nplatform=linux\npaired=false\nconnector_health=pairing_"
        "required\n"
        "vault_backend=secret_service_with_file_fallback\nexchange=bybit status=configured "
        "credentials_present=true\n",
        R"({"status":"ok","reachable":true,"relay":"http://127.0.0.1:39557","version":"1.4.2"})",
        R"({"status":"ok","bindState":"pending_signature","token":"demo-bind-token","expiresInSeconds":540})",
        "exchange=okx\nstatus=invalid\ncredentials_saved=false\nreason=okx rejected credentials: [" +
            attempts.join(", ") + "]\n",
        "status=ok\nexchange=okx\napi_key=okx-key\napi_secret=okx-secret\npassphrase=okx-pass\n",
    };
}

}  // namespace

void LogViewTest::init() {
    fake = new FakeConnector;
    view = new ContentView;
    view->resize(1120, 760);
    view->show();
    waitIdle();
    view->model().windowClosed();  // no polling: every entry comes from the test
    list = view->findChild<LogListView*>("log-list");
}

void LogViewTest::cleanup() {
    view->close();
    waitIdle();
    delete view;
    delete fake;
}

void LogViewTest::openLogWithEntries(int count) {
    const QStringList outputs = sampleOutputs();
    for (int i = 0; i < count; ++i) {
        view->model().recordRun(
            RunResult{"run " + QString::number(i), outputs[i % outputs.size()], 0, true, {}});
    }
    view->model().setLogsExpanded(true);
    QTRY_VERIFY(list->isVisible());
}

void LogViewTest::thousandEntriesNeverStallTheEventLoop() {
    ConnectorViewModel& model = view->model();
    model.setLogsExpanded(true);
    QTest::qWait(50);
    const QStringList outputs = sampleOutputs();

    // A heartbeat on the interface thread: the processor time spent between two beats is the
    // longest stretch in which the event loop could not have answered a click.
    qint64 lastCpu = threadCpuNanoseconds();
    QElapsedTimer wall;
    wall.start();
    qint64 lastWall = 0;
    qint64 worstCpu = 0;
    qint64 worstWall = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 cpu = threadCpuNanoseconds();
        const qint64 now = wall.nsecsElapsed();
        worstCpu = std::max(worstCpu, cpu - lastCpu);
        worstWall = std::max(worstWall, now - lastWall);
        lastCpu = cpu;
        lastWall = now;
    });
    heartbeat.start(1);

    // Runs arrive four at a time, as one polling round brings them, far faster than polling
    // would; midway the user hides the log and opens it again with 200 entries in it.
    int appended = 0;
    int tick = 0;
    QTimer feeder;
    connect(&feeder, &QTimer::timeout, [&] {
        ++tick;
        if (tick == 120) model.setLogsExpanded(false);
        if (tick == 130) model.setLogsExpanded(true);
        for (int i = 0; i < 4 && appended < 1000; ++i, ++appended) {
            model.recordRun(RunResult{"run " + QString::number(appended),
                                      outputs[appended % outputs.size()],
                                      appended % 9 == 4 ? 2 : 0,
                                      true,
                                      {}});
        }
        if (appended == 1000) feeder.stop();
    });
    const qint64 cpuBefore = threadCpuNanoseconds();
    feeder.start(5);
    QTRY_VERIFY_WITH_TIMEOUT(!feeder.isActive(), 60000);
    QTest::qWait(100);  // the last layout and paint
    heartbeat.stop();
    const double cpuTotalMs = (threadCpuNanoseconds() - cpuBefore) / 1e6;

    qInfo(
        "1000 entries: longest interface-thread stretch %.1f ms of processor time, longest wall-clock gap "
        "%.1f ms, %.0f ms of processor time in all (%.2f ms per entry)",
        worstCpu / 1e6, worstWall / 1e6, cpuTotalMs, cpuTotalMs / 1000);
    QVERIFY2(worstCpu < 50 * 1000000, qPrintable(QString("stalled for %1 ms").arg(worstCpu / 1e6)));

    QCOMPARE(model.logs.size(), ConnectorViewModel::kLogLimit);
    QCOMPARE(list->model()->rowCount(), ConnectorViewModel::kLogLimit);
    QCOMPARE(list->model()->index(0, 0).data(LogListModel::TitleRole).toString(), QString("run 999"));
    QCOMPARE(list->model()->index(199, 0).data(LogListModel::TitleRole).toString(), QString("run 800"));
    // Every row was added or dropped on its own; none was ever rebuilt.
    QCOMPARE(list->logModel()->rebuildCount(), 0);
}

void LogViewTest::readingPositionStaysWhileEntriesArrive() {
    openLogWithEntries(40);
    QTest::qWait(50);
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum() / 2);
    QTest::qWait(50);
    const QModelIndex read = list->indexAt(QPoint(20, 20));
    QVERIFY(read.isValid() && read.row() > 0);
    const QString title = read.data(LogListModel::TitleRole).toString();
    const int offset = list->visualRect(read).top();
    for (int i = 0; i < 6; ++i)
        view->model().recordRun(RunResult{"new " + QString::number(i), "x\ny", 0, true, {}});
    QTest::qWait(50);
    const QModelIndex now = list->indexAt(QPoint(20, 20));
    QCOMPARE(now.data(LogListModel::TitleRole).toString(), title);
    QCOMPARE(list->visualRect(now).top(), offset);

    // At the top, the newest entry shows as it arrives.
    list->verticalScrollBar()->setValue(0);
    view->model().recordRun(RunResult{"newest", "z", 0, true, {}});
    QTest::qWait(50);
    QCOMPARE(list->indexAt(QPoint(20, 20)).data(LogListModel::TitleRole).toString(), QString("newest"));
}

void LogViewTest::copyTakesTheWholeMaskedOutput() {
    const QString longOutput = "api_secret=hidden\n" + QString(kLogPreviewChars + 100, 'q');
    view->model().recordRun(RunResult{"first", "one", 0, true, {}});
    view->model().recordRun(RunResult{"long", longOutput, 1, true, {}});
    view->model().setLogsExpanded(true);
    QTRY_VERIFY(list->isVisible());
    list->selectionModel()->select(list->model()->index(0, 0), QItemSelectionModel::ClearAndSelect);
    list->setFocus();
    QTest::keySequence(list, QKeySequence::Copy);
    const QString copied = QApplication::clipboard()->text();
    QVERIFY(copied.startsWith("long  ("));
    QVERIFY(copied.contains("exit 1)"));
    QVERIFY(copied.endsWith(QString(kLogPreviewChars + 100, 'q')));  // all of it, not the shortened view
    QVERIFY(!copied.contains("hidden"));
    QVERIFY(
        list->model()->index(0, 0).data(LogListModel::PreviewRole).toString().contains("more characters"));
}

void LogViewTest::logPreviewAndMeta() {
    QCOMPARE(logPreview("a\r\nb\n\n"), QString("a") + QChar::LineSeparator + "b");
    const QString longLine(kLogPreviewChars + 500, 'z');
    const QString cut = logPreview(longLine);
    QVERIFY(cut.startsWith(QString(kLogPreviewChars, 'z') + QChar::LineSeparator));
    QVERIFY(cut.endsWith("500 more characters not shown here; Copy takes the whole output"));
    QStringList lines;
    for (int i = 0; i < kLogPreviewLines + 10; ++i) lines << QString::number(i);
    QCOMPARE(logPreview(lines.join('\n')).count(QChar::LineSeparator), kLogPreviewLines);

    CommandLogEntry entry{
        QUuid::createUuid(), "t", "", QDateTime(QDate(2026, 1, 2), QTime(14, 3, 27)), 0, true, 1, {}};
    QCOMPARE(logMeta(entry), QString("14:03:27 \u00b7 exit 0"));
    QVERIFY(!logEntryFailed(entry));
    entry.exitCode = 2;
    QCOMPARE(logMeta(entry), QString("14:03:27 \u00b7 exit 2"));
    QVERIFY(logEntryFailed(entry));
    entry.exitCode.reset();
    QCOMPARE(logMeta(entry), QString("14:03:27 \u00b7 killed"));
    entry.started = false;
    QCOMPARE(logMeta(entry), QString("14:03:27 \u00b7 did not start"));
}

void LogViewTest::logRowsFollowTheEntriesIncrementally() {
    LogListModel model;
    QList<CommandLogEntry> entries;
    auto add = [&entries](int count) {
        for (int i = 0; i < count; ++i) {
            entries.prepend(CommandLogEntry{QUuid::createUuid(),
                                            "run " + QString::number(entries.size()),
                                            "out",
                                            QDateTime::currentDateTime(),
                                            0,
                                            true,
                                            1,
                                            {}});
        }
        while (entries.size() > 5) entries.removeLast();
    };
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    add(3);
    model.sync(entries);
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(inserted.size(), 1);
    add(4);  // two of the first three drop off the bottom
    model.sync(entries);
    QCOMPARE(model.rowCount(), 5);
    QCOMPARE(inserted.last().at(1).toInt(), 0);
    QCOMPARE(inserted.last().at(2).toInt(), 3);
    QCOMPARE(removed.size(), 1);
    for (int row = 0; row < 5; ++row) {
        QCOMPARE(model.index(row).data(LogListModel::IdRole).toUuid(), entries[row].id);
    }
    model.sync(entries);  // nothing new: nothing happens
    QCOMPARE(inserted.size(), 2);
    QCOMPARE(reset.size(), 0);
    // So many new entries that none shown is left: the only case that rebuilds.
    add(6);
    model.sync(entries);
    QCOMPARE(model.rebuildCount(), 1);
    QCOMPARE(model.index(0).data(LogListModel::IdRole).toUuid(), entries[0].id);
    entries.clear();
    model.sync(entries);
    QCOMPARE(model.rowCount(), 0);
}

}  // namespace korvane::connector

QTEST_MAIN(korvane::connector::LogViewTest)
#include "content_view_log_test.moc"
