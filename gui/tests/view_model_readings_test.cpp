#include <QtTest>

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
    const QString head = "exchange=okx\ncan_read=false\n";
    QTest::newRow("trade ready, saved")
        << head + "status=valid_trade_ready\ncredentials_saved=true\nreason=live okx auth validated\n"
        << "valid" << true << "" << false;
    QTest::newRow("read only, saved")
        << head + "status=valid_read_only\ncredentials_saved=true\n"
        << "valid" << true << "Read-only key: balances can be read, orders cannot be placed" << false;
    QTest::newRow("valid but not saved is a failure")
        << head + "status=valid_trade_ready\ncredentials_saved=false\n"
        << "valid" << false << "The keys are valid but could not be saved" << true;
    QTest::newRow("configured") << "status=configured\n"
                                << "adapter exists, live validation pending" << false << "" << false;
    QTest::newRow("invalid with the exchange's words")
        << head + "status=invalid\ncredentials_saved=false\nreason=" +
               attempts("okx", {R"({"msg":"Invalid OK-ACCESS-KEY","code":"50111"})"}) + "\n"
        << "invalid" << false << "Invalid OK-ACCESS-KEY" << true;
    QTest::newRow("error") << "status=error\nreason=okx probe failed\n"
                           << "error" << false << "okx probe failed" << true;
    QTest::newRow("invalid without reason") << "status=invalid\n"
                                            << "invalid" << false << "The connector gave no reason" << true;
    QTest::newRow("launch failure") << "failed to run connector: No such file or directory\nresolved_path=/x"
                                    << "unknown" << false
                                    << "failed to run connector: No such file or directory" << true;
    QTest::newRow("status word only on its own line")
        << "note=status=valid_trade_ready\nstatus=invalid\nreason=x\n"
        << "invalid" << false << "x" << true;
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

}  // namespace korvane::connector

QTEST_GUILESS_MAIN(korvane::connector::ReadingsTest)
#include "view_model_readings_test.moc"
