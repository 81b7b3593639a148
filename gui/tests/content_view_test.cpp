#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "fake_connector.h"
#include "gui/action_button.h"
#include "gui/card_widgets.h"
#include "gui/content_view.h"

namespace korvane::connector {

class ContentViewTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void showingRefreshesAndLoadsCredentials();
    void eachControlRunsItsOperation_data();
    void eachControlRunsItsOperation();
    void passphraseFieldOnlyForThreeExchanges();
    void reselectingTheSelectedTabRunsNothing();
    void mainButtonTitleFollowsTheDraft();
    void tokenDetailsShowNoDataSides();
    void logCountAndToggle();
    void bindingCardGreenOnlyWhenAuthorized();
    void pressedLookLastsUntilTheRunEnds();
    void windowRenderedToPng();

  private:
    QString text(const QString& objectName) const {
        auto* label = view->findChild<QLabel*>(objectName);
        return label ? label->text() : QString("<missing %1>").arg(objectName);
    }
    void click(const QString& objectName) {
        auto* button = view->findChild<QAbstractButton*>(objectName);
        QVERIFY2(button, qPrintable(objectName));
        QTest::mouseClick(button, Qt::LeftButton);
    }
    void waitIdle() { QTRY_VERIFY_WITH_TIMEOUT(view->model().isIdle(), 20000); }

    FakeConnector* fake = nullptr;
    ContentView* view = nullptr;
};

void ContentViewTest::init() {
    fake = new FakeConnector;
    view = new ContentView;
}

void ContentViewTest::cleanup() {
    view->close();
    waitIdle();
    delete view;
    delete fake;
}

void ContentViewTest::showingRefreshesAndLoadsCredentials() {
    view->show();
    waitIdle();
    QStringList words;
    for (const QStringList& call : fake->calls()) words << call.join(' ');
    QCOMPARE(words.mid(0, 5),
             (QStringList{"status", "server-health", "bind-status", "status", "load-credentials bybit"}));
    QCOMPARE(view->minimumSize(), QSize(1120, 760));
}

void ContentViewTest::eachControlRunsItsOperation_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QStringList>("firstCall");
    QTest::newRow("claim") << "claim-token" << QStringList{"claim-token", "abc"};
    QTest::newRow("disconnect") << "disconnect-binding" << QStringList{"disconnect-binding"};
    QTest::newRow("check server") << "check-server" << QStringList{"server-health"};
    QTest::newRow("validate") << "validate-save" << QStringList{"validate", "bybit", "-", "-"};
    QTest::newRow("balance") << "load-balance" << QStringList{"balance", "bybit"};
    QTest::newRow("delete") << "delete-credentials" << QStringList{"delete-credentials", "bybit"};
    QTest::newRow("check update") << "check-update" << QStringList{"update-check"};
    QTest::newRow("download update") << "download-update" << QStringList{"update-download"};
    QTest::newRow("install update") << "apply-update" << QStringList{"update-apply"};
    QTest::newRow("refresh all") << "refresh-all" << QStringList{"status"};
    QTest::newRow("tab") << "tab-kucoin" << QStringList{"load-credentials", "kucoin"};
}

void ContentViewTest::eachControlRunsItsOperation() {
    QFETCH(QString, control);
    QFETCH(QStringList, firstCall);
    QTest::keyClicks(view->findChild<QLineEdit*>("bind-token"), "abc");
    QTest::keyClicks(view->findChild<QLineEdit*>("api-key"), "key");
    QCOMPARE(view->model().bindToken, QString("abc"));
    click(control);
    waitIdle();
    QVERIFY(!fake->calls().isEmpty());
    QCOMPARE(fake->calls().first(), firstCall);
}

void ContentViewTest::passphraseFieldOnlyForThreeExchanges() {
    view->show();
    waitIdle();
    auto* passphrase = view->findChild<QLineEdit*>("passphrase");
    for (const ExchangeItem& item : view->model().exchanges) {
        click("tab-" + item.id);
        waitIdle();
        QCOMPARE(passphrase->isVisible(), item.id == "okx" || item.id == "kucoin" || item.id == "bitget");
        QCOMPARE(view->findChild<QLineEdit*>("api-secret")->echoMode(), QLineEdit::Password);
    }
}

void ContentViewTest::reselectingTheSelectedTabRunsNothing() {
    click("tab-bybit");
    waitIdle();
    QVERIFY(fake->calls().isEmpty());
    QCOMPARE(view->model().selectedExchangeId, QString("bybit"));
}

void ContentViewTest::mainButtonTitleFollowsTheDraft() {
    ActionButton* main = view->actionButton("validate-save");
    QCOMPARE(main->text(), QString("Validate and save keys"));
    fake->setOutput("load-credentials", "status=ok\nexchange=gate\napi_key=K\napi_secret=S\npassphrase=\n");
    click("tab-gate");
    waitIdle();
    QCOMPARE(main->text(), QString("Update and save keys"));
    QCOMPARE(view->findChild<QLineEdit*>("api-key")->text(), QString("K"));
    fake->setOutput("delete-credentials", "status=ok\nexchange=gate\nremoved=true\n");
    click("delete-credentials");
    waitIdle();
    QCOMPARE(main->text(), QString("Validate and save keys"));
    QCOMPARE(text("draft-status"), QString("Status: not configured"));
    QCOMPARE(text("balance-missing"), QString("Balance not loaded yet"));
}

void ContentViewTest::tokenDetailsShowNoDataSides() {
    view->show();
    click("toggle-token-details");
    QCOMPARE(view->actionButton("toggle-token-details")->text(), QString("Hide details"));
    auto* panel = view->findChild<DualPanel*>("token-details");
    view->model().lastStatusOutput.clear();
    view->model().lastBindingOutput.clear();
    emit view->model().changed();
    QCOMPARE(panel->leftText(), QString("No data"));
    QCOMPARE(panel->rightText(), QString("No data"));
    fake->setOutput("status", "connector_health=pairing_required\n");
    view->model().refreshConnectorStatus();
    waitIdle();
    QCOMPARE(panel->leftText(), QString("connector_health=pairing_required\n\n\n"));
}

void ContentViewTest::logCountAndToggle() {
    QCOMPARE(text("log-summary"), QString("No commands run yet"));
    for (int i = 0; i < 7; ++i) view->model().checkUpdate();
    waitIdle();
    QCOMPARE(text("log-summary"), QString("7 command log entries available"));
    click("toggle-logs");
    waitIdle();
    QCOMPARE(view->actionButton("toggle-logs")->text(), QString("Hide technical log"));
    QCOMPARE(view->findChildren<QFrame*>("log-entry").size(), 7);
}

void ContentViewTest::bindingCardGreenOnlyWhenAuthorized() {
    const QStringList words = {"authorized", "claimed", "pending signature", "not bound"};
    auto* value = view->findChild<QLabel*>("binding-card-value");
    for (const QString& word : words) {
        view->model().bindingStatus = word;
        emit view->model().changed();
        const bool green = value->palette().color(QPalette::WindowText) == QColor(38, 166, 91);
        QCOMPARE(green, word == "authorized");
    }
}

void ContentViewTest::pressedLookLastsUntilTheRunEnds() {
    fake->setDelay("update-check", 1.0);
    view->show();
    waitIdle();
    click("check-update");
    ActionButton* button = view->actionButton("check-update");
    QTRY_COMPARE(view->findChild<QLabel*>("running-command")->text(), QString("Running: update-check"));
    QVERIFY(button->pressedLook());
    QTest::qWait(300);
    QVERIFY(button->pressedLook());  // still running
    QTRY_VERIFY_WITH_TIMEOUT(!button->pressedLook(), 3000);
    // An empty claim shows the pressed look briefly and runs nothing.
    const int before = fake->calls().size();
    click("claim-token");
    QVERIFY(view->actionButton("claim-token")->pressedLook());
    QTRY_VERIFY(!view->actionButton("claim-token")->pressedLook());
    QCOMPARE(fake->calls().size(), before);
}

// A picture of the window with sandbox-like data, kept for people to look at.
void ContentViewTest::windowRenderedToPng() {
    fake->setOutput("status", "connector_health=ready\n");
    fake->setOutput("server-health", R"({"status":"ok","reachable":true})");
    fake->setOutput("bind-status", R"({"status":"ok","bindState":"authorized","wallet":"0x1111"})");
    fake->setOutput("load-credentials",
                    "status=ok\nexchange=okx\napi_key=okx-key\napi_secret=okx-secret\npassphrase=p\n");
    fake->setOutput(
        "balance",
        R"({"status":"ok","exchange":"okx","kind":"balance","body":{"code":"0","data":[{"details":)"
        R"([{"ccy":"USDT","cashBal":"2400","availBal":"2300.5"}]}]}})");
    view->resize(1180, 1400);
    view->show();
    waitIdle();
    click("tab-okx");
    waitIdle();
    click("load-balance");
    waitIdle();
    QCOMPARE(text("balance-value"), QString("2300.5 USDT"));
    QDir().mkpath(KORVANE_ARTIFACT_DIR);
    const QString path = QString(KORVANE_ARTIFACT_DIR) + "/korvane-connector-window.png";
    QVERIFY(view->grab().save(path));
    QVERIFY(QFileInfo(path).size() > 10000);
}

}  // namespace korvane::connector

QTEST_MAIN(korvane::connector::ContentViewTest)
#include "content_view_test.moc"
