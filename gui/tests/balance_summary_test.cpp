#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "fake_connector.h"
#include "gui/balance_summary.h"

namespace korvane::connector {

class BalanceSummaryTest : public QObject {
    Q_OBJECT

  private slots:
    void summaries_data();
    void summaries();
    void nothingLoadedGivesNoSummary();
    void realConnectorOutputFromTheSandbox();
};

void BalanceSummaryTest::summaries_data() {
    QTest::addColumn<QString>("exchange");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("error with reason") << "bybit"
                                       << R"({"status":"error","reason":"credentials_not_found"})"
                                       << "Could not load balance" << QStringList{"credentials not found"};
    QTest::newRow("error without reason") << "okx"
                                          << R"({"status":"error"})"
                                          << "Could not load balance" << QStringList{"Unknown error"};
    QTest::newRow("error inside an ok body") << "gate"
                                             << R"({"status":"ok","body":{"status":"error","reason":"a_b"}})"
                                             << "Could not load balance" << QStringList{"a b"};
    QTest::newRow("bybit") << "bybit"
                           << R"({"totalEquity":"100","walletBalance":"90","coin":"USDT"})"
                           << "100 USDT" << QStringList{"Total equity", "Wallet balance: 90 USDT"};
    QTest::newRow("gate") << "gate"
                          << R"({"total":"5","available":"4.5","currency":"USDT"})"
                          << "4.5 USDT" << QStringList{"Available", "Total: 5 USDT"};
    QTest::newRow("bingx") << "bingx"
                           << R"({"asset":"USDT","equity":"7","availableMargin":"6"})"
                           << "6 USDT" << QStringList{"Available margin", "Equity: 7 USDT"};
    QTest::newRow("kucoin bare and quoted")
        << "kucoin"
        << R"({"availableBalance":12.5,"holdBalance":"0","currency":"USDT"})"
        << "12.5 USDT" << QStringList{"Available balance", "Held: 0 USDT"};
    QTest::newRow("kucoin negative bare falls back")
        << "kucoin"
        << R"({"availableBalance":-1,"holdBalance":0,"currency":"USDT"})"
        << "Balance loaded" << QStringList{"Raw response available in technical log"};
    QTest::newRow("bitget") << "bitget"
                            << R"({"marginCoin":"USDT","available":"3","accountEquity":"4"})"
                            << "3 USDT" << QStringList{"Available futures balance", "Account equity: 4 USDT"};
    QTest::newRow("okx") << "okx"
                         << R"({"ccy":"USDT","availBal":"1e3","cashBal":"-0.50"})"
                         << "1e3 USDT" << QStringList{"Available balance", "Cash balance: -0.50 USDT"};
    QTest::newRow("okx without ccy") << "okx"
                                     << R"({"availBal":"1","cashBal":"2"})"
                                     << "Balance loaded"
                                     << QStringList{"Raw response available in technical log"};
    QTest::newRow("unknown exchange")
        << "reya"
        << R"({"totalEquity":"1"})"
        << "Balance loaded" << QStringList{"Raw response available in technical log"};
    QTest::newRow("first occurrence wins")
        << "gate"
        << R"({"currency":"BTC","total":"1","available":"2"},{"currency":"USDT"})"
        << "2 BTC" << QStringList{"Available", "Total: 1 BTC"};
}

void BalanceSummaryTest::summaries() {
    QFETCH(QString, exchange);
    QFETCH(QString, text);
    QFETCH(QString, value);
    QFETCH(QStringList, lines);
    const auto summary = summarizeBalance(exchange, text);
    QVERIFY(summary.has_value());
    QCOMPARE(summary->title, QString("Balance"));
    QCOMPARE(summary->value, value);
    QCOMPARE(summary->lines, lines);
    QCOMPARE(summary->rawOutput, text);
}

void BalanceSummaryTest::nothingLoadedGivesNoSummary() {
    QVERIFY(!summarizeBalance("bybit", "").has_value());
    QVERIFY(!summarizeBalance("bybit", "not loaded").has_value());
    QVERIFY(!captureFirst("(unclosed", "text").has_value());
    QVERIFY(!captureFirst("a|(b)", "a").has_value());
}

// One real "balance" answer per exchange, from the connector against the sandbox.
void BalanceSummaryTest::realConnectorOutputFromTheSandbox() {
    const SandboxProcess sandbox = startSandbox();
    QVERIFY(sandbox.env.contains("KORVANE_SANDBOX_READY"));
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (auto it = sandbox.env.begin(); it != sandbox.env.end(); ++it) env.insert(it.key(), it.value());
    env.insert("HOME", home.path());
    env.insert("KORVANE_KEYCHAIN_TOOL", "/nonexistent");
    auto connector = [&env](const QStringList& arguments) {
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(KORVANE_CONNECTOR_BIN, arguments);
        process.waitForFinished(60000);
        return QString::fromUtf8(process.readAllStandardOutput());
    };
    const struct {
        QStringList credentials;
        QString value;
        QString second;
    } cases[] = {
        {{"bybit", "bybit-trade-key", "bybit-trade-secret"}, "1250.5 USDT", "Wallet balance: 1200 USDT"},
        {{"okx", "okx-key", "okx-secret", "okx-pass"}, "2300.5 USDT", "Cash balance: 2400 USDT"},
        {{"gate", "gate-key", "gate-secret"}, "950.1 USDT", "Total: 980.4 USDT"},
        {{"bingx", "bingx-key", "bingx-secret"}, "600.7 USDT", "Equity: 655.3 USDT"},
        {{"kucoin", "kucoin-key", "kucoin-secret", "kucoin-pass"}, "700.2 USDT", "Held: 112.2 USDT"},
        {{"bitget", "bitget-key", "bitget-secret", "bitget-pass"},
         "432.1 USDT",
         "Account equity: 450.9 USDT"},
    };
    for (const auto& c : cases) {
        QVERIFY(connector(QStringList{"validate"} + c.credentials).contains("credentials_saved=true"));
        const QString output = connector({"balance", c.credentials.first()});
        const auto summary = summarizeBalance(c.credentials.first(), output);
        QVERIFY2(summary.has_value(), qPrintable(output));
        QCOMPARE(summary->value, c.value);
        QCOMPARE(summary->lines.value(1), c.second);
    }
    stopSandbox(sandbox);
}

}  // namespace korvane::connector

QTEST_GUILESS_MAIN(korvane::connector::BalanceSummaryTest)
#include "balance_summary_test.moc"
