#include <QtTest>

#include "gui/exchange_list_reading.h"
#include "gui/health_reading.h"
#include "gui/log_reading.h"
#include "gui/status_cards.h"

#include "gui/claim_reading.h"
#include "gui/output_text.h"
#include "gui/secret_masking.h"
#include "gui/update_reading.h"
#include "gui/validation_reading.h"

namespace korvane::connector {

// What the window reads out of the connector's text, one table per reading.
class ReadingsTest : public QObject {
    Q_OBJECT

  private slots:
    void failureReasons_data();
    void failureReasons();
    void validationReadings_data();
    void validationReadings();
    void updateOutcomes_data();
    void updateOutcomes();
    void claimReadings_data();
    void claimReadings();
    void masking_data();
    void masking();
    void exchangeLists_data();
    void exchangeLists();
    void healthReadings_data();
    void healthReadings();
    void cardsNeverShowAStaleGoodWord();
    void problemsAndFolding();
    void linuxUpdateAdvice();
};

namespace {

// A probe's list of attempts, each body the exchange's JSON answer as an escaped string.
QString attempts(const QString& exchange, const QStringList& bodies) {
    QStringList items;
    for (const QString& body : bodies) {
        QString escaped = body;
        escaped.replace("\\", "\\\\").replace("\"", "\\\"");
        items << R"({"host": "http://127.0.0.1:1", "path": "/api/v5/account/config", "body": ")" + escaped +
                     "\"}";
    }
    return exchange + " rejected credentials: [" + items.join(", ") + "]";
}

}  // namespace

void ReadingsTest::failureReasons_data() {
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("expected");
    const QString okxPassphrase =
        R"({"code":"50105","msg":"Request header OK-ACCESS-PASSPHRASE incorrect.","data":[]})";
    QTest::newRow("okx, nine identical attempts")
        << attempts("okx", QStringList(9, okxPassphrase)) << "Request header OK-ACCESS-PASSPHRASE incorrect";
    QTest::newRow("okx, quoted header name inside the message")
        << attempts("okx", {R"({"msg":"Request header \"OK-ACCESS-PASSPHRASE\" incorrect","code":"50105"})"})
        << R"(Request header "OK-ACCESS-PASSPHRASE" incorrect)";
    QTest::newRow("okx, different answers per site are all told")
        << attempts("okx", {R"({"code":"50119","msg":"API key doesn't exist"})", okxPassphrase,
                            R"({"code":"50119","msg":"API key doesn't exist"})"})
        << "API key doesn't exist; Request header OK-ACCESS-PASSPHRASE incorrect";
    QTest::newRow("at most three messages")
        << attempts("okx", {R"({"msg":"a"})", R"({"msg":"b"})", R"({"msg":"c"})", R"({"msg":"d"})"})
        << "a; b; c";
    QTest::newRow("bybit retMsg")
        << R"(bybit rejected credentials: {"retCode":10003,"retMsg":"API key is invalid.","result":{},"time":1})"
        << "API key is invalid";
    QTest::newRow("gate message before label")
        << R"(gate rejected credentials: {"label":"INVALID_SIGNATURE","message":"Signature mismatch"})"
        << "Signature mismatch";
    QTest::newRow("bingx msg")
        << R"(bingx rejected credentials: [{"path": "/openApi/swap/v3/user/balance", "body": "{\"code\":100001,\"msg\":\"Signature verification failed due to signature mismatch\",\"timestamp\":1}"}])"
        << "Signature verification failed due to signature mismatch";
    QTest::newRow("kucoin per key version")
        << R"(kucoin rejected credentials: [{"keyVersion": "2", "body": "{\"code\":\"400004\",\"msg\":\"Invalid KC-API-PASSPHRASE\"}"}, {"keyVersion": "3", "body": "{\"code\":\"400004\",\"msg\":\"Invalid KC-API-PASSPHRASE\"}"}])"
        << "Invalid KC-API-PASSPHRASE";
    QTest::newRow("bitget msg")
        << R"(bitget rejected credentials: {"code":"40012","msg":"apikey/password is incorrect","requestTime":1,"data":null})"
        << "apikey/password is incorrect";
    QTest::newRow("code without words")
        << attempts("okx", {R"({"code":"50113","msg":""})"}) << "error code 50113";
    QTest::newRow("plain text body") << attempts("okx", {"HTTP Error 502: Bad Gateway"})
                                     << "HTTP Error 502: Bad Gateway";
    QTest::newRow("no JSON: the reason itself") << "okx passphrase missing"
                                                << "okx passphrase missing";
    QTest::newRow("transport failure")
        << "bybit request failed: curl: (7) Failed to connect to 127.0.0.1 port 9: Connection refused"
        << "bybit request failed: curl: (7) Failed to connect to 127.0.0.1 port 9: Connection refused";
    QTest::newRow("broken JSON falls back to one short line")
        << "okx rejected credentials: [{\"body\": \"{\\\"msg\\\": " + QString(300, 'x')
        << ("okx rejected credentials: [{\"body\": \"{\\\"msg\\\": " + QString(300, 'x')).left(159) +
               QChar(0x2026);
    QTest::newRow("long message cut")
        << R"(bybit rejected credentials: {"retMsg":")" + QString(200, 'y') + "\"}"
        << QString(159, 'y') + QChar(0x2026);
}

void ReadingsTest::failureReasons() {
    QFETCH(QString, reason);
    QFETCH(QString, expected);
    QCOMPARE(shortFailureReason(reason), expected);
}

void ReadingsTest::validationReadings_data() {
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("saved");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("isError");
    QTest::addColumn<int>("risk");
    const int none = int(KeyRisk::unknown);
    const QString head = "exchange=okx\ncan_read=false\n";
    QTest::newRow("trade ready, saved")
        << head + "status=valid_trade_ready\ncredentials_saved=true\nreason=live okx auth validated\n"
        << "valid" << true << "" << false << int(KeyRisk::tradeReady);
    QTest::newRow("read only, saved")
        << head + "status=valid_read_only\ncredentials_saved=true\nwithdrawal_enabled=false\n"
        << "valid" << true << "" << false << int(KeyRisk::readOnly);
    QTest::newRow("withdrawal outweighs trading")
        << head + "status=valid_trade_ready\nwithdrawal_enabled=true\ncredentials_saved=true\n"
        << "valid" << true << "" << false << int(KeyRisk::withdrawal);
    QTest::newRow("ip not allowed")
        << "status=invalid\nclass=ip_not_allowed\nreason=" +
               attempts("bybit",
                        {R"({"retMsg":"Unmatched IP, please check your API key's bound IP addresses."})"}) +
               "\n"
        << "invalid" << false
        << "IP not allowed: add this computer's address to the key's IP list (Unmatched IP, please check "
           "your API "
           "key's bound IP addresses)"
        << true << none;
    QTest::newRow("clock off, class in the refusal")
        << R"(status=invalid
reason={"status":"error","reason":"exchange_rejected","class":"timestamp","message":"x"})"
        << "invalid" << false << "Clock off: set this computer's clock to update automatically (x)" << true
        << none;
    QTest::newRow("rate limited") << "status=error\nclass=rate_limited\n"
                                  << "error" << false
                                  << "Rate limited: the exchange asks to wait a moment before trying again"
                                  << true << none;
    QTest::newRow("permission") << "status=invalid\nclass=permission\n"
                                << "invalid" << false
                                << "Permission missing: the key is not allowed to do this" << true << none;
    QTest::newRow("transport jargon")
        << "status=error\nreason=curl: (52) Empty reply from server\n"
        << "error" << false << "The server closed the connection without answering" << true << none;
    QTest::newRow("raw signature error")
        << "status=invalid\nreason=error sign! origin_string[abc]\n"
        << "invalid" << false << "The exchange did not accept the request's signature: check the API secret"
        << true << none;
    QTest::newRow("valid but not saved is a failure")
        << head + "status=valid_trade_ready\ncredentials_saved=false\n"
        << "valid" << false << "The keys are valid but could not be saved" << true
        << int(KeyRisk::tradeReady);
    QTest::newRow("configured") << "status=configured\n"
                                << "adapter exists, live validation pending" << false << "" << false << none;
    QTest::newRow("invalid with the exchange's words")
        << head + "status=invalid\ncredentials_saved=false\nreason=" +
               attempts("okx", {R"({"msg":"Invalid OK-ACCESS-KEY","code":"50111"})"}) + "\n"
        << "invalid" << false << "Invalid OK-ACCESS-KEY" << true << none;
    QTest::newRow("error") << "status=error\nreason=okx probe failed\n"
                           << "error" << false << "okx probe failed" << true << none;
    QTest::newRow("invalid without reason")
        << "status=invalid\n"
        << "invalid" << false << "The connector gave no reason" << true << none;
    QTest::newRow("launch failure") << "failed to run connector: No such file or directory\nresolved_path=/x"
                                    << "unknown" << false
                                    << "failed to run connector: No such file or directory" << true << none;
    QTest::newRow("status word only on its own line")
        << "note=status=valid_trade_ready\nstatus=invalid\nreason=x\n"
        << "invalid" << false << "x" << true << none;
}

void ReadingsTest::validationReadings() {
    QFETCH(QString, output);
    QFETCH(QString, status);
    QFETCH(bool, saved);
    QFETCH(QString, reason);
    QFETCH(bool, isError);
    const ValidationReading reading = readValidation(output);
    QCOMPARE(reading.status, status);
    QCOMPARE(reading.saved, saved);
    QCOMPARE(reading.reason, reason);
    QCOMPARE(reading.reasonIsError, isError);
    QFETCH(int, risk);
    QCOMPARE(int(reading.risk), risk);
}

void ReadingsTest::updateOutcomes_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("isError");
    QTest::newRow("check: available")
        << "update-check"
        << R"({"status":"ok","current_version":"0.1.0","latest_version":"0.2.0","update_available":true,"manifest":{"version":"0.2.0"}})"
        << "Version 0.2.0 is available" << false;
    QTest::newRow("check: up to date")
        << "update-check"
        << R"({"status":"ok","current_version":"0.2.0","latest_version":"0.2.0","update_available":false})"
        << "Up to date" << false;
    QTest::newRow("download: done")
        << "update-download"
        << R"({"status":"ok","latest_version":"0.2.0","update_available":true,"downloaded":true,"downloaded_to":"/u/a.dmg"})"
        << "Downloaded 0.2.0" << false;
    QTest::newRow("download: already latest")
        << "update-download"
        << R"({"status":"ok","latest_version":"0.1.0","update_available":false,"note":"already_on_latest_version"})"
        << "Up to date" << false;
    QTest::newRow("download: failed")
        << "update-download"
        << R"({"status":"error","reason":"update_download_failed","latest_version":"0.2.0"})"
        << "Could not download 0.2.0" << true;
    QTest::newRow("download: checksum")
        << "update-download"
        << R"({"status":"error","reason":"update_checksum_mismatch","latest_version":"0.2.0"})"
        << "The download of 0.2.0 did not match its checksum" << true;
    QTest::newRow("apply: nothing downloaded")
        << "update-apply"
        << R"({"status":"error","reason":"update_file_missing","updates_dir":"/u"})"
        << "Nothing downloaded yet" << true;
    QTest::newRow("apply: open failed")
        << "update-apply"
        << R"({"status":"error","reason":"open_dmg_failed","file":"/u/Korvane-Connector-0.2.0.dmg"})"
        << "Could not open the installer: Korvane-Connector-0.2.0.dmg" << true;
    QTest::newRow("apply: opened")
        << "update-apply"
        << R"({"status":"ok","applied":false,"install_flow_started":true,"file":"/u/latest.dmg"})"
        << "Installer opened: latest.dmg" << false;
    QTest::newRow("unknown reason in words") << "update-apply"
                                             << R"({"status":"error","reason":"disk_full_now"})"
                                             << "Update failed: disk full now" << true;
    QTest::newRow("not JSON") << "update-check"
                              << "curl: (6) Could not resolve host"
                              << "Unexpected answer from the connector (see the technical log)" << true;
    QTest::newRow("connector missing")
        << "update-check"
        << "failed to run connector: No such file or directory\nresolved_path=/x"
        << "Could not run the connector: No such file or directory" << true;
}

void ReadingsTest::updateOutcomes() {
    QFETCH(QString, command);
    QFETCH(QString, output);
    QFETCH(QString, text);
    QFETCH(bool, isError);
    QCOMPARE(readUpdateOutcome(command, output), (OutcomeLine{text, isError}));
}

void ReadingsTest::claimReadings_data() {
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("isError");
    QTest::newRow("pending wins over ok")
        << R"({"status":"ok","bindState":"pending_signature"})"
        << "pending signature"
        << "Token claimed: finish the wallet signature in the browser" << false;
    QTest::newRow("ok") << R"({"status":"ok"})"
                        << "claimed"
                        << "Token claimed" << false;
    QTest::newRow("token not found") << R"({"status":"error","reason":"token_not_found"})"
                                     << "claim failed"
                                     << "Claim failed: token not found" << true;
    QTest::newRow("not JSON") << "curl: (7) Failed to connect\n"
                              << "claim failed"
                              << "Claim failed: curl: (7) Failed to connect" << true;
    QTest::newRow("connector missing") << "failed to run connector: x\nresolved_path=/y"
                                       << "claim failed"
                                       << "Claim failed: could not run the connector" << true;
    QTest::newRow("nothing") << ""
                             << "claim failed"
                             << "Claim failed: no answer" << true;
}

void ReadingsTest::claimReadings() {
    QFETCH(QString, output);
    QFETCH(QString, word);
    QFETCH(QString, message);
    QFETCH(bool, isError);
    const ClaimReading reading = readClaim(output);
    QCOMPARE(reading.bindingStatus, word);
    QCOMPARE(reading.message, (OutcomeLine{message, isError}));
}

void ReadingsTest::masking_data() {
    const QString dots(8, QChar(0x2022));
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("masked");
    QTest::newRow("load-credentials block")
        << "status=ok\nexchange=okx\napi_key=K\napi_secret=S e=c\npassphrase=p\n"
        << "status=ok\nexchange=okx\napi_key=K\napi_secret=" + dots + "\npassphrase=" + dots + "\n";
    QTest::newRow("empty values stay empty") << "api_secret=\npassphrase=\n"
                                             << "api_secret=\npassphrase=\n";
    QTest::newRow("last line without line end") << "passphrase=p"
                                                << "passphrase=" + dots;
    QTest::newRow("inside a line after a space") << "note passphrase=p q\nnext"
                                                 << "note passphrase=" + dots + "\nnext";
    QTest::newRow("any case, after an underscore") << "KORVANE_PROBE_PASSPHRASE=p"
                                                   << "KORVANE_PROBE_PASSPHRASE=" + dots;
    QTest::newRow("part of a longer word is another key") << "xpassphrase=p\nmy_api_secretly=x"
                                                          << "xpassphrase=p\nmy_api_secretly=x";
    QTest::newRow("api key stays visible") << "api_key=K"
                                           << "api_key=K";
}

void ReadingsTest::masking() {
    QFETCH(QString, text);
    QFETCH(QString, masked);
    QCOMPARE(maskSecrets(text), masked);
}

void ReadingsTest::exchangeLists_data() {
    QTest::addColumn<QString>("output");
    QTest::addColumn<QStringList>("live");  // id:name:passphrase
    QTest::addColumn<QStringList>("nameOnly");
    QTest::newRow("live and name-only")
        << R"([{"name":"a","display_name":"A x","passphrase":true,"live":true},{"name":"b","live":true},)"
           R"({"name":"c","display_name":"C","live":false}])"
        << QStringList{"a:A x:1", "b:b:0"} << QStringList{"c"};
    QTest::newRow("older connector: usage text") << "usage: korvane-connector <command>\n"
                                                 << QStringList{} << QStringList{};
    QTest::newRow("entry without a name")
        << R"([{"display_name":"A","live":true}])" << QStringList{} << QStringList{};
    QTest::newRow("nothing live") << R"([{"name":"c","live":false}])" << QStringList{} << QStringList{};
}

void ReadingsTest::exchangeLists() {
    QFETCH(QString, output);
    QFETCH(QStringList, live);
    QFETCH(QStringList, nameOnly);
    const std::optional<ExchangeList> list = readExchangeList(output);
    QCOMPARE(list.has_value(), !live.isEmpty());
    if (!list) return;
    QStringList seen;
    for (const ExchangeItem& item : list->live)
        seen << item.id + ":" + item.name + ":" + (item.needsPassphrase ? "1" : "0");
    QCOMPARE(seen, live);
    QCOMPARE(list->nameOnly, nameOnly);
    // Without a list the window still works: the connector decides about a typed passphrase.
    QCOMPARE(itemFor({}, "z"), (ExchangeItem{"z", "z", true, false}));
}

void ReadingsTest::healthReadings_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("clean");
    QTest::addColumn<QString>("word");
    QTest::addColumn<bool>("confirmed");
    QTest::newRow("ready") << "status"
                           << "connector_health=ready\n"
                           << true << "ready" << true;
    QTest::newRow("status failed") << "status"
                                   << "connector_health=ready\n"
                                   << false << "unknown" << false;
    QTest::newRow("status garbage") << "status"
                                    << "oops" << true << "unknown" << false;
    QTest::newRow("reachable") << "server-health"
                               << R"({"reachable":true})" << true << "reachable" << true;
    QTest::newRow("unreachable") << "server-health"
                                 << R"({"reachable":false,"error":"curl: (7) x"})" << true << "unreachable"
                                 << true;
    QTest::newRow("server did not answer") << "server-health"
                                           << "failed to run connector: x" << false << "unknown" << false;
    QTest::newRow("authorized") << "bind-status"
                                << R"({"bindState":"authorized"})" << true << "authorized" << true;
    QTest::newRow("relay down is not 'not bound'")
        << "bind-status"
        << R"({"status":"error","reason":"bind_status_failed"})" << true << "unknown" << false;
    QTest::newRow("token gone") << "bind-status"
                                << R"({"status":"error","reason":"token_not_found"})" << false
                                << "token unknown" << true;
    QTest::newRow("token expired") << "bind-status"
                                   << R"({"status":"error","reason":"token_expired"})" << true
                                   << "token expired" << true;
    QTest::newRow("session missing") << "bind-status"
                                     << R"({"status":"error","reason":"session_missing"})" << true
                                     << "not bound" << true;
}

void ReadingsTest::healthReadings() {
    QFETCH(QString, command);
    QFETCH(QString, output);
    QFETCH(bool, clean);
    QFETCH(QString, word);
    QFETCH(bool, confirmed);
    if (command == "bind-status") {
        const BindingReading reading = readBindingStatus(output, clean);
        QCOMPARE(reading.word, word);
        QCOMPARE(reading.confirmed, confirmed);
        // A final refusal stops the poll and says why; a relay hiccup keeps it going.
        const bool final = word.startsWith("token ") && word != "token waiting";
        QCOMPARE(!reading.message.text.isEmpty(), final);
        if (!confirmed) QCOMPARE(reading.polling, BindingReading::Polling::keep);
        if (final) QCOMPARE(reading.polling, BindingReading::Polling::stop);
        return;
    }
    const CheckReading reading =
        command == "status" ? readConnectorHealth(output, clean) : readServerHealth(output, clean);
    QCOMPARE(reading.word, word);
    QCOMPARE(reading.confirmed, confirmed);
    if (word == "unreachable")
        QCOMPARE(reading.detail, QString("Could not connect to the server: it may be down or blocked"));
}

void ReadingsTest::cardsNeverShowAStaleGoodWord() {
    const QDateTime at = QDateTime::fromString("2026-01-02T10:00:00", Qt::ISODate);
    const CardFacts ready{"ready", at, {}};
    const CardFacts reachable{"reachable", at, {}};
    const CardFacts authorized{"authorized", at, {}};
    StatusCards cards = composeStatusCards(ready, reachable, authorized);
    QCOMPARE(cards.server, (CardView{"reachable", CardTone::good, "Confirmed 10:00:00"}));
    QCOMPARE(cards.binding.tone, CardTone::good);
    // The last server check failed: unknown, with when it was last good; the others agree.
    cards = composeStatusCards(ready, {"reachable", at, "No answer"}, authorized);
    QCOMPARE(cards.server, (CardView{"unknown", CardTone::unknown, "No answer · last confirmed 10:00:00"}));
    QCOMPARE(cards.binding.word, QString("unknown"));
    QCOMPARE(cards.connector.word, QString("offline"));
    cards = composeStatusCards(ready, {"unreachable", at, {}}, {"not bound", at, {}});
    QCOMPARE(cards.server.tone, CardTone::warning);
    QCOMPARE(cards.binding.word, QString("not bound"));
    // Before the first answer: neutral.
    QCOMPARE(composeStatusCards({kCheckingWord, {}, {}}, reachable, authorized).connector.tone,
             CardTone::neutral);
}

void ReadingsTest::problemsAndFolding() {
    const auto entry = [](const QString& title, const QString& output, std::optional<int> code) {
        return CommandLogEntry{
            QUuid::createUuid(), title, output, QDateTime::currentDateTime(), code, true, 1, {}};
    };
    QVERIFY(runIsProblem(entry("update-apply", R"({"status":"error","reason":"open_dmg_failed"})", 0)));
    QVERIFY(runIsProblem(entry("x", "", 1)));
    QVERIFY(runIsProblem(entry("x", "", std::nullopt)));
    QVERIFY(!runIsProblem(entry("load-credentials B", "status=missing\n", 2)));
    QVERIFY(!runIsProblem(entry("status", "connector_health=ready\n", 0)));
    // Ten minutes of a pending pairing: 200 polling rounds of the same four results.
    QList<CommandLogEntry> log;
    log.append(entry("claim-token", R"({"status":"ok","bindState":"pending_signature"})", 0));
    for (int round = 0; round < 200; ++round) {
        for (const char* title : {"status", "server-health", "bind-status", "status"}) {
            addToLog(log, entry(title, QString(title) + " answer", 0), 200);
        }
    }
    QVERIFY(log.size() < 10);
    QCOMPARE(log.size(), 4);
    QCOMPARE(log[2].title, QString("status"));
    QCOMPARE(log[2].repeats, 400);
    // A changed answer is a new entry.
    QVERIFY(!addToLog(log, entry("bind-status", "authorized", 0), 200));
    QCOMPARE(log[0].output, QString("authorized"));
}

void ReadingsTest::linuxUpdateAdvice() {
    const UpdatePlatform linux{true, "amd64"};
    const QString available = R"({"status":"ok","update_available":true,"latest_version":"1.4.0"})";
    UpdateReading reading = readUpdate("update-check", available, linux);
    QCOMPARE(reading.line.text,
             QString("Version 1.4.0 is available. Download korvane-connector_1.4.0_amd64.deb from "
                     "the release page, then install it with: sudo apt install "
                     "./korvane-connector_1.4.0_amd64.deb"));
    QVERIFY(!reading.line.text.contains("dmg"));
    const UpdatePlatform mac{false, "amd64"};
    QVERIFY(readUpdate("update-download", R"({"status":"ok","downloaded":true})", mac).readyToInstall);
    QVERIFY(!readUpdate("update-download", R"({"status":"error","reason":"update_checksum_mismatch"})", mac)
                 .readyToInstall);
    QVERIFY(!readUpdate("update-check", available, mac).readyToInstall);
}

}  // namespace korvane::connector

QTEST_GUILESS_MAIN(korvane::connector::ReadingsTest)
#include "view_model_readings_test.moc"
