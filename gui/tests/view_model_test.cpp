#include <QElapsedTimer>
#include <QtTest>

#include "fake_connector.h"
#include "gui/connector_view_model.h"
#include "gui/exchange_list_reading.h"
#include "gui/program_locator.h"
#include "gui/validation_reading.h"

namespace korvane::connector {

class ViewModelTest : public QObject {
    Q_OBJECT

  private slots:
    void argumentVectorsOfEveryOperation();
    void connectorServerAndBindingWords_data();
    void connectorServerAndBindingWords();
    void claimWords_data();
    void claimWords();
    void validationWords_data();
    void validationWords();
    void loadCredentials();
    void refreshAllLogsFourRunsNewestFirst();
    void pollingRunsWhilePendingAndStopsItself();
    void disconnectClearsTokenAndPolling();
    void lookupFindsTheConnectorNextToTheExecutable();
    void deleteResetsTheDraft();
    void launchFailureIsLogged();
    void largeOutputArrivesWhole();
    void interfaceStaysResponsiveWhileAChildRuns();
    void followUpsRunBeforeLaterRequests();
    void extractValueTakesTheFirstLine();
    void secretsTravelOnStandardInput_data();
    void secretsTravelOnStandardInput();
    void aLineBreakInAFieldRunsNothing();
    void logIsBoundedMaskedAndTimed();
    void slowLookupNeverOverwritesTyping_data();
    void slowLookupNeverOverwritesTyping();
    void eachTabKeepsItsUnsavedDraft();
    void validationShowsCheckingThenTheReason();
    void failedClaimKeepsItsMessageUntilTheNextAction();
    void emptyTokenSaysSo();
    void aBusyButtonIsNotQueuedAgain();
    void staleCardsTurnUnknownWhenACheckFails();
    void aServerCheckFinishesWhileAnExchangeLaneIsBlocked();
    void pendingPairingFoldsAndAFinalRefusalStopsIt();
    void aRejectedRevalidationKeepsTheSavedKeys();
    void exchangeListOverviewAndItsFallback();

  private:
    // Gives the model the connector's exchange list without a run, with the first tab selected.
    static void offerExchanges(ConnectorViewModel& model) {
        model.exchanges = readExchangeList(QString::fromUtf8(kExchangeList))->live;
        model.selectedExchangeId = "bybit";
    }
    static void waitIdle(ConnectorViewModel& model, int timeout = 20000) {
        QTRY_VERIFY_WITH_TIMEOUT(model.isIdle(), timeout);
    }
    // Returns how many runs titled `title` the log holds, folded repeats included.
    static int runsOf(const ConnectorViewModel& model, const QString& title) {
        int runs = 0;
        for (const CommandLogEntry& entry : model.logs) runs += entry.title == title ? entry.repeats : 0;
        return runs;
    }
    static QStringList titles(const ConnectorViewModel& model) {
        QStringList result;
        for (const CommandLogEntry& entry : model.logs) result << entry.title;
        return result;
    }
};

void ViewModelTest::argumentVectorsOfEveryOperation() {
    FakeConnector fake;
    ConnectorViewModel model;
    offerExchanges(model);
    model.setBindToken("tok en");
    model.claimToken();
    waitIdle(model);
    // The claim's own status refresh comes before anything asked later.
    QCOMPARE(fake.calls().mid(0, 2), (QList<QStringList>{{"claim-token", "-"}, {"status"}}));
    model.disconnectBinding();
    model.selectedExchangeId = "okx";
    model.setSelectedApiKey("k");
    model.setSelectedApiSecret("s");
    model.validateSelectedExchange();
    model.setSelectedPassphrase("p");
    model.validateSelectedExchange();
    model.selectedExchangeId = "bybit";
    model.setSelectedApiKey("bk");
    model.setSelectedApiSecret("bs");
    model.setSelectedPassphrase("typed earlier");
    model.validateSelectedExchange();
    model.loadSelectedExchangeCredentials();
    model.loadBalance();
    model.loadBalance(QString("gate"), QString("Gate"));
    model.deleteSelectedExchangeCredentials();
    model.checkUpdate();
    model.downloadUpdate();
    model.applyUpdate();
    waitIdle(model);
    QList<QStringList> calls;
    const QList<QStringList> refreshes = {{"status"}, {"server-health"}, {"bind-status"}};
    for (const QStringList& call : fake.calls()) {
        if (!refreshes.contains(call)) calls << call;
    }
    const QList<QStringList> expected = {{"claim-token", "-"},
                                         {"disconnect-binding"},
                                         {"validate", "okx", "-", "-"},
                                         {"validate", "okx", "-", "-", "-"},
                                         {"validate", "bybit", "-", "-"},
                                         {"load-credentials", "bybit"},
                                         {"balance", "bybit"},
                                         {"balance", "gate"},
                                         {"delete-credentials", "bybit"},
                                         {"update-check"},
                                         {"update-download"},
                                         {"update-apply"}};
    // Lanes run side by side: only the order within each lane is fixed, and followUps tests it.
    std::sort(calls.begin(), calls.end());
    QList<QStringList> sorted = expected;
    std::sort(sorted.begin(), sorted.end());
    QCOMPARE(calls, sorted);
    model.windowClosed();
}

void ViewModelTest::connectorServerAndBindingWords_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QString>("word");
    QTest::newRow("ready") << "status" << QByteArray("connector_health=ready\n") << "ready";
    QTest::newRow("pairing") << "status" << QByteArray("connector_health=pairing_required\n")
                             << "pairing required";
    QTest::newRow("other health") << "status" << QByteArray("connector_health=error\n") << "starting";
    QTest::newRow("reachable") << "server-health" << QByteArray(R"({"reachable":true})") << "reachable";
    QTest::newRow("unreachable") << "server-health" << QByteArray(R"({"reachable":false})") << "unreachable";
    QTest::newRow("server unknown") << "server-health" << QByteArray("garbage") << "unknown";
    QTest::newRow("authorized") << "bind-status" << QByteArray(R"({"bindState":"authorized"})")
                                << "authorized";
    QTest::newRow("bound") << "bind-status" << QByteArray(R"({"pairingStatus":"bound"})") << "authorized";
    QTest::newRow("pending") << "bind-status" << QByteArray(R"({"bindState":"pending_signature"})")
                             << "pending signature";
    QTest::newRow("waiting") << "bind-status" << QByteArray(R"({"bindState":"token_waiting"})")
                             << "token waiting";
    QTest::newRow("session") << "bind-status" << QByteArray(R"({"reason":"session_missing"})") << "not bound";
    // Not an answer from the relay: nothing is known about the binding.
    QTest::newRow("unpaired") << "bind-status" << QByteArray("unpaired") << "unknown";
}

void ViewModelTest::connectorServerAndBindingWords() {
    QFETCH(QString, command);
    QFETCH(QByteArray, output);
    QFETCH(QString, word);
    FakeConnector fake;
    fake.setOutput(command, output);
    ConnectorViewModel model;
    offerExchanges(model);
    if (command == "status") model.refreshConnectorStatus();
    if (command == "server-health") model.checkServer();
    if (command == "bind-status") model.checkBindingStatus();
    waitIdle(model);
    const QString actual = command == "status"          ? model.connectorStatus
                           : command == "server-health" ? model.serverStatus
                                                        : model.bindingStatus;
    QCOMPARE(actual, word);
    if (command == "bind-status") {
        QCOMPARE(model.lastBindingOutput, QString::fromUtf8(output));
        QCOMPARE(model.statusPollTask != nullptr, word == "pending signature");
        QCOMPARE(fake.calls().value(1), QStringList{"status"});  // every binding result refreshes status
    }
    model.windowClosed();
}

void ViewModelTest::claimWords_data() {
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QString>("word");
    QTest::newRow("pending wins over ok")
        << QByteArray(R"({"status":"ok","bindState":"pending_signature"})") << "pending signature";
    QTest::newRow("ok") << QByteArray(R"({"status":"ok"})") << "claimed";
    QTest::newRow("failed") << QByteArray(R"({"status":"error","reason":"claim_token_failed"})")
                            << "claim failed";
}

void ViewModelTest::claimWords() {
    QFETCH(QByteArray, output);
    QFETCH(QString, word);
    FakeConnector fake;
    fake.setOutput("claim-token", output);
    ConnectorViewModel model;
    offerExchanges(model);
    model.claimToken();  // empty token: nothing runs
    waitIdle(model);
    QVERIFY(model.logs.isEmpty());
    QStringList words;
    connect(&model, &ConnectorViewModel::changed, [&] {
        if (words.value(words.size() - 1, ConnectorViewModel::kChecking) != model.bindingStatus) {
            words << model.bindingStatus;
        }
    });
    model.setBindToken("t");
    model.claimToken();
    QTRY_VERIFY(!words.isEmpty());
    QCOMPARE(words.first(), word);
    if (word == "claim failed") {
        // Nothing is pending after a failed claim, so no poll comes to paint over its message.
        waitIdle(model);
        QTest::qWait(200);
        QVERIFY(!fake.calls().contains(QStringList{"bind-status"}));
        QVERIFY(model.statusPollTask == nullptr);
    } else {
        // Polling starts: its first iteration asks for the binding state.
        QTRY_VERIFY(fake.calls().contains(QStringList{"bind-status"}));
    }
    model.windowClosed();
    waitIdle(model);
}

void ViewModelTest::validationWords_data() {
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<bool>("balanceRun");
    QTest::newRow("trade ready saved")
        << QByteArray("status=valid_trade_ready\ncredentials_saved=true\n") << "valid" << true << true;
    QTest::newRow("read only unsaved")
        << QByteArray("status=valid_read_only\ncredentials_saved=false\n") << "valid" << false << true;
    QTest::newRow("configured") << QByteArray("status=configured\n")
                                << "adapter exists, live validation pending" << false << false;
    QTest::newRow("invalid") << QByteArray("status=invalid\n") << "invalid" << false << false;
    QTest::newRow("error") << QByteArray("status=error\n") << "error" << false << false;
    QTest::newRow("unknown") << QByteArray("nothing useful") << "unknown" << false << false;
}

void ViewModelTest::validationWords() {
    QFETCH(QByteArray, output);
    QFETCH(QString, status);
    QFETCH(bool, loaded);
    QFETCH(bool, balanceRun);
    FakeConnector fake;
    fake.setOutput("validate", output);
    fake.setOutput("balance", R"({"status":"ok","exchange":"gate"})");
    ConnectorViewModel model;
    offerExchanges(model);
    model.setSelectedExchangeId("gate");
    waitIdle(model);
    model.validateSelectedExchange();
    waitIdle(model);
    const ExchangeCredentialDraft draft = model.exchangeDrafts.value("gate");
    QCOMPARE(draft.status, status);
    QCOMPARE(draft.loadedFromVault, loaded);
    QCOMPARE(draft.validationOutput, QString::fromUtf8(output));
    QCOMPARE(model.logs.first().title, balanceRun ? QString("balance Gate") : QString("validate Gate"));
}

void ViewModelTest::loadCredentials() {
    FakeConnector fake;
    ConnectorViewModel model;
    offerExchanges(model);
    model.setSelectedApiKey("typed");
    model.loadSelectedExchangeCredentials();  // nothing stored: what was typed stays
    waitIdle(model);
    QCOMPARE(model.selectedApiKey(), QString("typed"));
    QVERIFY(!model.selectedDraft().loadedFromVault);

    fake.setOutput("load-credentials", "status=ok\nexchange=okx\napi_key=K\napi_secret=S=1\npassphrase=\n");
    model.setSelectedExchangeId("okx");
    waitIdle(model);
    QCOMPARE(model.selectedApiKey(), QString("K"));
    QCOMPARE(model.selectedApiSecret(), QString("S=1"));
    QCOMPARE(model.selectedPassphrase(), QString(""));
    QVERIFY(model.selectedDraft().loadedFromVault);

    // A later "missing" keeps a draft that came from the vault.
    fake.setOutput("load-credentials", "status=missing\n");
    model.loadSelectedExchangeCredentials();
    waitIdle(model);
    QCOMPARE(model.selectedApiKey(), QString("K"));

    // Re-selecting the selected tab runs nothing; an unknown id acts on the first exchange.
    const int before = fake.calls().size();
    model.setSelectedExchangeId("okx");
    waitIdle(model);
    QCOMPARE(fake.calls().size(), before);
    model.setSelectedExchangeId("nope");
    waitIdle(model);
    QCOMPARE(fake.calls().last(), (QStringList{"load-credentials", "bybit"}));
}

void ViewModelTest::refreshAllLogsFourRunsNewestFirst() {
    FakeConnector fake;
    ConnectorViewModel model;
    offerExchanges(model);
    model.refreshAll();
    waitIdle(model);
    // The second, identical "status" is counted in the first one's entry.
    QCOMPARE(titles(model), (QStringList{"bind-status", "server-health", "status"}));
    QCOMPARE(model.logs[2].repeats, 2);
    QVERIFY(model.logs[0].id != model.logs[2].id);
    QVERIFY(!model.logs[0].id.isNull());
}

void ViewModelTest::pollingRunsWhilePendingAndStopsItself() {
    FakeConnector fake;
    fake.setOutput("claim-token", R"({"status":"pending_signature"})");
    fake.setOutput("bind-status", R"({"status":"ok","bindState":"pending_signature"})");
    ConnectorViewModel model;
    offerExchanges(model);
    model.setBindToken("t");
    model.claimToken();
    // First iteration at once, the second three seconds after the first ended.
    QTRY_VERIFY_WITH_TIMEOUT(runsOf(model, "bind-status") >= 2, 8000);
    QVERIFY(model.statusPollTask != nullptr);
    fake.setOutput("bind-status", R"({"status":"ok","bindState":"authorized"})");
    QTRY_COMPARE_WITH_TIMEOUT(model.bindingStatus, QString("authorized"), 8000);
    QVERIFY(model.statusPollTask == nullptr);
    waitIdle(model);
    const int runs = model.logs.size();
    QTest::qWait(3500);
    QCOMPARE(model.logs.size(), runs);  // the loop ended itself
}

void ViewModelTest::disconnectClearsTokenAndPolling() {
    FakeConnector fake;
    fake.setOutput("bind-status", R"({"bindState":"pending_signature"})");
    fake.setOutput("disconnect-binding", R"({"status":"ok","state":"disconnected"})");
    ConnectorViewModel model;
    offerExchanges(model);
    model.setBindToken("t");
    model.windowShown();
    QTRY_VERIFY(model.statusPollTask != nullptr);
    waitIdle(model);
    // After the disconnect the relay has nothing pending, so nothing restarts the loop.
    fake.setOutput("bind-status", R"({"bindState":"token_waiting"})");
    model.disconnectBinding();
    QTRY_COMPARE(model.lastDisconnectOutput, QString(R"({"status":"ok","state":"disconnected"})"));
    QCOMPARE(model.bindToken, QString());
    waitIdle(model);
    QVERIFY(model.statusPollTask == nullptr);
    QCOMPARE(fake.calls().mid(fake.calls().size() - 5),
             (QList<QStringList>{
                 {"disconnect-binding"}, {"status"}, {"server-health"}, {"bind-status"}, {"status"}}));
    const int runs = model.logs.size();
    QTest::qWait(3500);
    QCOMPARE(model.logs.size(), runs);
}

void ViewModelTest::lookupFindsTheConnectorNextToTheExecutable() {
    qunsetenv("KORVANE_CONNECTOR_PATH");
    // The tests are built next to korvane-connector.
    QCOMPARE(locateConnectorProgram(), QCoreApplication::applicationDirPath() + "/korvane-connector");
    qputenv("KORVANE_CONNECTOR_PATH", "/somewhere/else");
    QCOMPARE(locateConnectorProgram(), QString("/somewhere/else"));
    qunsetenv("KORVANE_CONNECTOR_PATH");
}

void ViewModelTest::deleteResetsTheDraft() {
    FakeConnector fake;
    fake.setOutput("delete-credentials", "status=ok\nexchange=bybit\nremoved=true\n");
    ConnectorViewModel model;
    offerExchanges(model);
    model.setSelectedApiKey("k");
    model.deleteSelectedExchangeCredentials();
    waitIdle(model);
    ExchangeCredentialDraft draft = model.selectedDraft();
    QCOMPARE(draft.apiKey, QString());
    QCOMPARE(draft.status, QString("not configured"));
    QCOMPARE(draft.balance, QString("not loaded"));
    QCOMPARE(draft.validationOutput, QString("credentials deleted"));
    QVERIFY(!draft.loadedFromVault);
    QVERIFY(!draft.unsavedEdits);

    // Typed after pressing Delete: a new draft, which the deletion's result leaves alone.
    fake.setDelay("delete-credentials", 0.4);
    model.deleteSelectedExchangeCredentials();
    QTRY_COMPARE(model.runningTitle(), QString("delete-credentials Bybit"));
    model.setSelectedApiKey("new key");
    waitIdle(model);
    draft = model.selectedDraft();
    QCOMPARE(draft.apiKey, QString("new key"));
    QCOMPARE(draft.status, QString("not configured"));

    // A store that still holds the keys is an error, and the draft stays as it was.
    fake.setDelay("delete-credentials", 0);
    fake.setOutput("delete-credentials", "status=ok\nexchange=bybit\nremoved=false\n");
    model.deleteSelectedExchangeCredentials();
    waitIdle(model);
    draft = model.selectedDraft();
    QCOMPARE(draft.apiKey, QString("new key"));
    QCOMPARE(draft.status, QString("error"));
    QCOMPARE(draft.statusReason, QString("Could not delete the stored keys: a store still holds them"));
    QVERIFY(draft.statusReasonIsError);
}

void ViewModelTest::launchFailureIsLogged() {
    qputenv("KORVANE_CONNECTOR_PATH", "/nonexistent/korvane-connector");
    ConnectorViewModel model;
    offerExchanges(model);
    model.refreshConnectorStatus();
    model.checkServer();
    waitIdle(model);
    qunsetenv("KORVANE_CONNECTOR_PATH");
    QCOMPARE(model.logs.size(), 2);
    QVERIFY(model.logs[0].output.startsWith("failed to run connector: "));
    QVERIFY(model.logs[0].output.endsWith("\nresolved_path=/nonexistent/korvane-connector"));
    QCOMPARE(model.connectorStatus, QString("unknown"));
    QCOMPARE(model.serverStatus, QString("unknown"));
}

void ViewModelTest::largeOutputArrivesWhole() {
    FakeConnector fake;
    QByteArray big;
    for (int i = 0; big.size() < 1024 * 1024; ++i) big += "line " + QByteArray::number(i) + " \xc3\xa9\n";
    fake.setOutput("update-check", big);
    ConnectorViewModel model;
    offerExchanges(model);
    model.checkUpdate();
    waitIdle(model);
    QCOMPARE(model.lastUpdateOutput, QString::fromUtf8(big));
}

void ViewModelTest::interfaceStaysResponsiveWhileAChildRuns() {
    FakeConnector fake;
    fake.setDelay("update-download", 1.5);
    ConnectorViewModel model;
    offerExchanges(model);
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(50);
    QElapsedTimer clock;
    clock.start();
    model.downloadUpdate();
    QTRY_COMPARE(model.runningTitle(), QString("update-download"));
    QVERIFY(clock.elapsed() < 1000);  // the call returned at once
    waitIdle(model);
    QVERIFY2(ticks >= 15, qPrintable(QString::number(ticks)));
    QCOMPARE(model.runningTitle(), QString());
}

void ViewModelTest::followUpsRunBeforeLaterRequests() {
    FakeConnector fake;
    fake.setDelay("validate", 0.3);
    fake.setOutput("validate", "status=valid_trade_ready\ncredentials_saved=true\n");
    ConnectorViewModel model;
    offerExchanges(model);
    model.validateSelectedExchange();
    model.deleteSelectedExchangeCredentials();  // asked in the same lane while the validation runs
    waitIdle(model);
    QCOMPARE(titles(model), (QStringList{"delete-credentials Bybit", "balance Bybit", "validate Bybit"}));
}

void ViewModelTest::extractValueTakesTheFirstLine() {
    QCOMPARE(ConnectorViewModel::extractValue("a=1\n\napi_key=x=y\napi_key=z", "api_key"),
             std::optional<QString>("x=y"));
    QCOMPARE(ConnectorViewModel::extractValue("passphrase=\n", "passphrase"), std::optional<QString>(""));
    QVERIFY(!ConnectorViewModel::extractValue("xapi_key=1", "api_key").has_value());
}

void ViewModelTest::secretsTravelOnStandardInput_data() {
    QTest::addColumn<QString>("exchange");
    QTest::addColumn<QString>("passphrase");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::newRow("okx with passphrase") << "okx"
                                         << "pass phrase" << QStringList{"validate", "okx", "-", "-", "-"}
                                         << QByteArray("key-1\nsecret \xc3\xa9 2\npass phrase\n");
    QTest::newRow("okx without passphrase")
        << "okx"
        << "" << QStringList{"validate", "okx", "-", "-"} << QByteArray("key-1\nsecret \xc3\xa9 2\n");
    QTest::newRow("bybit never sends one") << "bybit"
                                           << "typed anyway" << QStringList{"validate", "bybit", "-", "-"}
                                           << QByteArray("key-1\nsecret \xc3\xa9 2\n");
}

void ViewModelTest::secretsTravelOnStandardInput() {
    QFETCH(QString, exchange);
    QFETCH(QString, passphrase);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    FakeConnector fake;
    fake.setOutput("validate", "status=valid_trade_ready\ncredentials_saved=true\n");
    ConnectorViewModel model;
    offerExchanges(model);
    model.selectedExchangeId = exchange;
    model.setSelectedApiKey("key-1");
    model.setSelectedApiSecret(QString::fromUtf8("secret \xc3\xa9 2"));
    model.setSelectedPassphrase(passphrase);
    model.validateSelectedExchange();
    waitIdle(model);
    const QList<QStringList> calls = fake.calls();
    const QList<QByteArray> inputs = fake.inputs();
    QCOMPARE(calls.size(), 2);  // the validation, then its balance run
    QCOMPARE(calls[0], arguments);
    QCOMPARE(inputs[0], input);
    for (const QString& argument : calls[0]) {
        QVERIFY(!argument.contains("secret") && !argument.contains("key-1") && !argument.contains("phrase"));
    }
    // Every other run reads end of file at once.
    QCOMPARE(calls[1], (QStringList{"balance", exchange}));
    QCOMPARE(inputs[1], QByteArray());
}

void ViewModelTest::aLineBreakInAFieldRunsNothing() {
    FakeConnector fake;
    ConnectorViewModel model;
    offerExchanges(model);
    model.setSelectedApiKey("key");
    model.setSelectedApiSecret("first\nsecond");
    model.validateSelectedExchange();
    waitIdle(model);
    QVERIFY(fake.calls().isEmpty());
    QCOMPARE(model.selectedDraft().status, QString("invalid"));
    QVERIFY(model.selectedDraft().statusReason.contains("line break"));
}

void ViewModelTest::logIsBoundedMaskedAndTimed() {
    FakeConnector fake;
    fake.setOutput("load-credentials",
                   "status=ok\nexchange=okx\napi_key=K\napi_secret=S3CRET\npassphrase=PH\n");
    fake.setOutput("validate", "status=invalid\nreason=x\n");
    fake.setExitCode("validate", 2);
    ConnectorViewModel model;
    offerExchanges(model);
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    model.setSelectedExchangeId("okx");
    waitIdle(model);
    // The log masks; the draft still gets the real values.
    QCOMPARE(model.selectedApiSecret(), QString("S3CRET"));
    QCOMPARE(model.logs[0].output,
             "status=ok\nexchange=okx\napi_key=K\napi_secret=" + QString(8, QChar(0x2022)) +
                 "\npassphrase=" + QString(8, QChar(0x2022)) + "\n");
    QCOMPARE(model.logs[0].exitCode, std::optional<int>(0));
    QVERIFY(model.logs[0].finishedAt >= before && model.logs[0].finishedAt <= QDateTime::currentDateTime());
    model.validateSelectedExchange();
    waitIdle(model);
    QCOMPARE(model.logs[0].exitCode, std::optional<int>(2));

    const QUuid oldest = model.logs.last().id;
    for (int i = 0; i < ConnectorViewModel::kLogLimit; ++i) {
        model.recordRun(RunResult{"run " + QString::number(i), "out", 0, true, {}});
    }
    QCOMPARE(model.logs.size(), ConnectorViewModel::kLogLimit);
    QCOMPARE(model.logs.first().title, QString("run 199"));
    QCOMPARE(model.logs.last().title, QString("run 0"));
    QVERIFY(model.logs.last().id != oldest);

    qputenv("KORVANE_CONNECTOR_PATH", "/nonexistent/korvane-connector");
    model.checkUpdate();
    waitIdle(model);
    QVERIFY(!model.logs[0].started);
    QVERIFY(!model.logs[0].exitCode);
}

void ViewModelTest::slowLookupNeverOverwritesTyping_data() {
    QTest::addColumn<QByteArray>("lookup");
    QTest::newRow("nothing stored") << QByteArray("status=missing\n");
    QTest::newRow("other keys stored")
        << QByteArray("status=ok\nexchange=gate\napi_key=STORED\napi_secret=STORED-S\npassphrase=\n");
}

void ViewModelTest::slowLookupNeverOverwritesTyping() {
    QFETCH(QByteArray, lookup);
    FakeConnector fake;
    fake.setOutput("load-credentials", lookup);
    fake.setDelay("load-credentials", 0.8);
    ConnectorViewModel model;
    offerExchanges(model);
    model.setSelectedExchangeId("gate");
    // The user types while the lookup is still on its way.
    QTRY_COMPARE(model.runningTitle(), QString("load-credentials Gate"));
    model.setSelectedApiKey("typed key");
    model.setSelectedApiSecret("typed secret");
    waitIdle(model);
    QCOMPARE(model.selectedApiKey(), QString("typed key"));
    QCOMPARE(model.selectedApiSecret(), QString("typed secret"));
    // Stored keys still count: the main button offers to update them.
    QCOMPARE(model.selectedDraft().loadedFromVault, lookup.startsWith("status=ok"));
}

void ViewModelTest::eachTabKeepsItsUnsavedDraft() {
    FakeConnector fake;
    ConnectorViewModel model;
    offerExchanges(model);
    model.setSelectedExchangeId("okx");
    model.setSelectedApiKey("okx typed");
    model.setSelectedPassphrase("okx pass");
    model.setSelectedExchangeId("gate");
    model.setSelectedApiKey("gate typed");
    waitIdle(model);
    // Stored keys arrive for okx now, but the unsaved typing there is the user's.
    fake.setOutput("load-credentials",
                   "status=ok\nexchange=okx\napi_key=STORED\napi_secret=S\npassphrase=P\n");
    model.setSelectedExchangeId("okx");
    waitIdle(model);
    QCOMPARE(model.selectedApiKey(), QString("okx typed"));
    QCOMPARE(model.selectedPassphrase(), QString("okx pass"));
    QCOMPARE(model.exchangeDrafts["gate"].apiKey, QString("gate typed"));

    // Once saved, the store's values are the draft again.
    fake.setOutput("validate", "status=valid_trade_ready\ncredentials_saved=true\n");
    model.validateSelectedExchange();
    waitIdle(model);
    QVERIFY(!model.selectedDraft().unsavedEdits);
    model.setSelectedExchangeId("gate");
    model.setSelectedExchangeId("okx");
    waitIdle(model);
    QCOMPARE(model.selectedApiKey(), QString("STORED"));
}

void ViewModelTest::validationShowsCheckingThenTheReason() {
    FakeConnector fake;
    fake.setOutput("validate",
                   "exchange=okx\nstatus=invalid\ncredentials_saved=false\nreason=okx rejected credentials: "
                   "[{\"host\": \"h\", \"body\": \"{\\\"msg\\\":\\\"Invalid "
                   "OK-ACCESS-KEY\\\",\\\"code\\\":\\\"50111\\\"}\"}]\n");
    fake.setDelay("validate", 0.4);
    ConnectorViewModel model;
    offerExchanges(model);
    model.selectedExchangeId = "okx";
    ExchangeCredentialDraft old = model.selectedDraft();
    old.status = "valid";
    old.statusReason = "stale";
    model.exchangeDrafts["okx"] = old;
    model.validateSelectedExchange();
    // The old word goes at once.
    QCOMPARE(model.selectedDraft().status, ConnectorViewModel::kChecking);
    QCOMPARE(model.selectedDraft().statusReason, QString());
    waitIdle(model);
    QCOMPARE(model.selectedDraft().status, QString("invalid"));
    QCOMPARE(model.selectedDraft().statusReason, QString("Invalid OK-ACCESS-KEY"));
    QVERIFY(model.selectedDraft().statusReasonIsError);
}

void ViewModelTest::failedClaimKeepsItsMessageUntilTheNextAction() {
    FakeConnector fake;
    fake.setOutput("claim-token", R"({"status":"error","reason":"token_not_found"})");
    fake.setOutput("bind-status", R"({"status":"ok","bindState":"token_waiting"})");
    ConnectorViewModel model;
    offerExchanges(model);
    model.setBindToken("wrong");
    model.pressButton("claim-token", [&model] { model.claimToken(); });
    waitIdle(model);
    const OutcomeLine failed{
        "The relay no longer knows this bind token: get a new one from the web app and claim it", true};
    QCOMPARE(model.claimMessage, failed);
    QCOMPARE(model.bindingStatus, QString("claim failed"));
    // A refresh that polling or the window starts is not the user's doing.
    model.refreshAll();
    waitIdle(model);
    QCOMPARE(model.bindingStatus, QString("token waiting"));
    QCOMPARE(model.claimMessage, failed);
    // Typing a new token is.
    model.setBindToken("right");
    QCOMPARE(model.claimMessage, OutcomeLine{});
}

void ViewModelTest::emptyTokenSaysSo() {
    FakeConnector fake;
    ConnectorViewModel model;
    offerExchanges(model);
    model.setBindToken("  \t ");
    model.pressButton("claim-token", [&model] { model.claimToken(); });
    waitIdle(model);
    QVERIFY(fake.calls().isEmpty());
    QCOMPARE(model.claimMessage, (OutcomeLine{"Paste the bind token from the web app first", true}));
    // Surrounding white space from a paste is not part of the token.
    model.setBindToken(" tok\n");
    model.claimToken();
    waitIdle(model);
    QCOMPARE(fake.calls().first(), (QStringList{"claim-token", "-"}));
    QCOMPARE(fake.inputs().first(), QByteArray("tok\n"));
    model.windowClosed();
}

void ViewModelTest::aBusyButtonIsNotQueuedAgain() {
    FakeConnector fake;
    fake.setOutput("validate", "status=valid_trade_ready\ncredentials_saved=true\n");
    fake.setDelay("validate", 0.4);
    fake.setDelay("balance", 0.3);
    ConnectorViewModel model;
    offerExchanges(model);
    const auto validate = [&model] { model.validateSelectedExchange(); };
    model.pressButton("load-balance", [&model] { model.loadBalance(); });
    model.pressButton("validate-save", validate);
    // Waiting behind the balance in the exchange's lane: queued, not running.
    QVERIFY(model.isBusy("validate-save"));
    QVERIFY(!model.isRunning("validate-save"));
    model.pressButton("validate-save", validate);
    QTRY_VERIFY(model.isRunning("validate-save"));
    model.pressButton("validate-save", validate);
    // Its balance run still belongs to it.
    QTRY_COMPARE(model.runningTitle(), QString("balance Bybit"));
    QVERIFY(model.isBusy("validate-save"));
    model.pressButton("validate-save", validate);
    waitIdle(model);
    QVERIFY(!model.isBusy("validate-save"));
    QCOMPARE(titles(model), (QStringList{"balance Bybit", "validate Bybit", "balance Bybit"}));
    // Done: the next press runs again.
    model.pressButton("validate-save", validate);
    waitIdle(model);
    QCOMPARE(titles(model).count("validate Bybit"), 2);
}

void ViewModelTest::staleCardsTurnUnknownWhenACheckFails() {
    FakeConnector fake;
    fake.setOutput("status", "connector_health=ready\nrelay_connected=true\n");
    fake.setOutput("server-health", R"({"reachable":true})");
    fake.setOutput("bind-status", R"({"status":"ok","bindState":"authorized"})");
    ConnectorViewModel model;
    offerExchanges(model);
    model.healthIntervalMs = 150;
    model.windowShown();
    QTRY_COMPARE(model.statusCards().binding.word, QString("authorized"));
    QCOMPARE(model.statusCards().server.tone, CardTone::good);
    QVERIFY(model.statusCards().server.detail.startsWith("Confirmed "));
    // The relay goes away: the next idle check finds out without a click, and no card keeps
    // its last good word.
    fake.setOutput("server-health", "curl: (7) Failed to connect to 127.0.0.1 port 9 after 0 ms\n");
    fake.setExitCode("server-health", 1);
    fake.setOutput("bind-status", R"({"status":"error","reason":"bind_status_failed"})");
    QTRY_COMPARE(model.statusCards().server.word, QString("unknown"));
    QTRY_COMPARE(model.statusCards().binding.word, QString("unknown"));
    const StatusCards cards = model.statusCards();
    QCOMPARE(cards.server.tone, CardTone::unknown);
    QVERIFY2(cards.server.detail.contains("Could not connect to the server") &&
                 cards.server.detail.contains("last confirmed"),
             qPrintable(cards.server.detail));
    QCOMPARE(cards.connector.word, QString("offline"));
    // Back again: confirmed once more.
    fake.setOutput("server-health", R"({"reachable":true})");
    fake.setExitCode("server-health", 0);
    fake.setOutput("bind-status", R"({"status":"ok","bindState":"authorized"})");
    QTRY_COMPARE(model.statusCards().binding.word, QString("authorized"));
    model.windowClosed();
    waitIdle(model);
}

void ViewModelTest::aServerCheckFinishesWhileAnExchangeLaneIsBlocked() {
    FakeConnector fake;
    fake.setDelay("validate", 4);
    fake.setOutput("server-health", R"({"reachable":true})");
    ConnectorViewModel model;
    offerExchanges(model);
    model.setSelectedApiKey("k");
    model.setSelectedApiSecret("s");
    model.validateSelectedExchange();
    QTRY_VERIFY(model.runningTitle().contains("validate Bybit"));
    model.checkServer();
    // Answered while the slow exchange still holds its own lane.
    QTRY_COMPARE_WITH_TIMEOUT(model.serverStatus, QString("reachable"), 3000);
    QVERIFY(model.laneBusy(ConnectorViewModel::exchangeLane("bybit")));
    QVERIFY(!model.laneBusy(ConnectorViewModel::kPairingLane));
    waitIdle(model);
}

void ViewModelTest::pendingPairingFoldsAndAFinalRefusalStopsIt() {
    FakeConnector fake;
    fake.setOutput("claim-token", R"({"status":"ok","bindState":"pending_signature"})");
    fake.setOutput("bind-status", R"({"status":"ok","bindState":"pending_signature"})");
    fake.setOutput("status", "connector_health=pairing_required\n");
    fake.setOutput("server-health", R"({"reachable":true})");
    ConnectorViewModel model;
    offerExchanges(model);
    model.pollIntervalMs = 5;
    model.setBindToken("t");
    model.claimToken();
    // Many polling rounds (ten minutes' worth at the real pace is 200): a handful of entries.
    QTRY_VERIFY_WITH_TIMEOUT(runsOf(model, "bind-status") >= 30, 30000);
    QVERIFY2(model.logs.size() < 10, qPrintable(titles(model).join(", ")));
    // The relay forgets the token: the wait ends and says why.
    fake.setOutput("bind-status", R"({"status":"error","reason":"token_not_found"})");
    QTRY_COMPARE(model.bindingStatus, QString("token unknown"));
    QVERIFY(model.statusPollTask == nullptr);
    QVERIFY(model.claimMessage.isError);
    QVERIFY(model.claimMessage.text.contains("no longer knows this bind token"));
    waitIdle(model);
}

void ViewModelTest::aRejectedRevalidationKeepsTheSavedKeys() {
    FakeConnector fake;
    fake.setOutput("validate", "status=valid_trade_ready\nwithdrawal_enabled=true\ncredentials_saved=true\n");
    fake.setOutput("balance", R"({"retCode":0,"result":{"list":[{"totalEquity":"10"}]}})");
    ConnectorViewModel model;
    offerExchanges(model);
    model.setSelectedApiKey("k");
    model.setSelectedApiSecret("s");
    model.validateSelectedExchange();
    waitIdle(model);
    QCOMPARE(model.selectedDraft().risk, KeyRisk::withdrawal);
    QCOMPARE(keyRiskLine(model.selectedDraft().risk).text,
             QString("This key can withdraw funds. Create a key without withdrawal permission."));
    // An edit makes the earlier word stale.
    model.setSelectedApiSecret("s2");
    QCOMPARE(model.selectedDraft().status, QString("not checked"));
    QCOMPARE(model.selectedDraft().statusReason, QString());
    fake.setOutput("validate", "status=invalid\nclass=credentials\ncredentials_saved=false\n");
    model.validateSelectedExchange();
    waitIdle(model);
    QCOMPARE(model.selectedDraft().status, QString("invalid"));
    QCOMPARE(model.selectedDraft().statusReason,
             QString("Key or secret not accepted. Saved keys unchanged."));
    QVERIFY(model.selectedDraft().balanceFromSavedKeys);
    QCOMPARE(model.selectedDraft().risk, KeyRisk::withdrawal);  // still the saved key's
}

void ViewModelTest::exchangeListOverviewAndItsFallback() {
    FakeConnector fake;
    fake.setOutput("status",
                   "connector_health=ready\nexchange=bybit status=configured credentials_present=true "
                   "note=\"\"\nexchange=okx status=configured credentials_present=true note=\"\"\n"
                   "exchange=gate status=not_configured credentials_present=false note=\"\"\n"
                   "exchange=mexc status=not_configured credentials_present=false note=\"\"\n");
    fake.setOutput("balance", R"({"retCode":0,"result":{"list":[{"totalEquity":"1200.5",)"
                              R"("totalAvailableBalance":"1000","coin":[{"coin":"USDT"}]}]}})");
    {
        ConnectorViewModel model;
        model.loadExchangeList();
        waitIdle(model);
        QCOMPARE(model.exchanges.size(), 6);
        QCOMPARE(model.selectedExchangeId, QString("bybit"));
        QCOMPARE(model.nameOnlyExchanges, QStringList{"mexc"});
        QVERIFY(model.exchangeListMessage.text.isEmpty());
        model.refreshConnectorStatus();
        waitIdle(model);
        // Stored exchanges get their row and balance without a click, each in its own lane.
        QCOMPARE(model.storedExchanges, (QStringList{"bybit", "okx"}));
        const QList<OverviewRow> rows = model.overview();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].equity, QString("1200.50 USDT"));
        QCOMPARE(rows[0].available, QString("1000.00 USDT"));
        QVERIFY(!rows[1].problem.isEmpty());  // a Bybit answer is no OKX balance
        QVERIFY(!model.statusSummary().contains("mexc"));
        QVERIFY(model.statusSummary().contains("exchange=gate"));
    }
    // An older connector without the list: said plainly, and validation still works by name.
    fake.setOutput("exchanges", "usage: korvane-connector <command>\n");
    fake.setExitCode("exchanges", 2);
    ConnectorViewModel model;
    model.loadExchangeList();
    waitIdle(model);
    QVERIFY(model.exchanges.isEmpty());
    QVERIFY(model.exchangeListMessage.isError);
    QVERIFY(model.exchangeListMessage.text.contains("cannot list its exchanges"));
    model.setSelectedExchangeId("okx");
    waitIdle(model);
    model.setSelectedApiKey("k");
    model.setSelectedApiSecret("s");
    model.setSelectedPassphrase("p");
    model.validateSelectedExchange();
    waitIdle(model);
    // Whether it takes a passphrase is the connector's to say: a typed one is passed on.
    QCOMPARE(fake.calls().last(), (QStringList{"validate", "okx", "-", "-", "-"}));
}

}  // namespace korvane::connector

QTEST_GUILESS_MAIN(korvane::connector::ViewModelTest)
#include "view_model_test.moc"
