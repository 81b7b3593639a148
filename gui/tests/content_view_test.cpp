#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QtTest>

#include "fake_connector.h"
#include "gui/action_button.h"
#include "gui/busy_indicator.h"
#include "gui/card_widgets.h"
#include "gui/content_view.h"
#include "gui/log_list_model.h"
#include "gui/log_list_view.h"
#include "gui/wrapping_label.h"

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
    void startUpShowsNeutralCheckingWords();
    void minimumSizeFitsASmallLaptopAndThePageNeverWidens();
    void balanceBoxLabelsAreNotClipped_data();
    void balanceBoxLabelsAreNotClipped();
    void failedOkxValidationShowsTheExchangesReason();
    void busyIndicatorShowsRunningAndQueued();
    void typingDuringASlowLookupSurvives();
    void outcomesShowInTheirCards();
    void logOpenAfter300Entries();
    void overviewWarnsAboutRiskyKeys();
    void cardsAfterTheRelayWentDown();
    void logFilteredToProblems();
    void linuxUpdateSaysHowToInstall();
    void enterSubmitsTheFocusedForm();

  private:
    QString text(const QString& objectName) const {
        if (auto* label = view->findChild<QLabel*>(objectName)) return label->text();
        if (auto* label = view->findChild<WrappingLabel*>(objectName)) return label->text();
        return QString("<missing %1>").arg(objectName);
    }
    void click(const QString& objectName) {
        auto* button = view->findChild<QAbstractButton*>(objectName);
        QVERIFY2(button, qPrintable(objectName));
        QTest::mouseClick(button, Qt::LeftButton);
    }
    void waitIdle() { QTRY_VERIFY_WITH_TIMEOUT(view->model().isIdle(), 20000); }
    QColor colorOf(const QString& objectName) const {
        return view->findChild<QWidget*>(objectName)->palette().color(QPalette::WindowText);
    }
    // Saves the window as it looks now under the build's artifact folder.
    void savePicture(const QString& name) {
        QDir().mkpath(KORVANE_ARTIFACT_DIR);
        const QString path = QString(KORVANE_ARTIFACT_DIR) + "/" + name;
        QVERIFY(view->grab().save(path));
        QVERIFY(QFileInfo(path).size() > 10000);
    }
    // Saves the window with the widget `objectName` scrolled into view.
    void savePictureOf(const QString& name, const QString& objectName) {
        auto* scroll = view->findChild<QScrollArea*>("page-scroll");
        scroll->ensureWidgetVisible(view->findChild<QWidget*>(objectName), 0, 0);
        QTest::qWait(50);
        savePicture(name);
    }
    // Fails when the page is wider than the window's viewport (a horizontal scroll).
    void verifyPageFitsTheWidth() {
        auto* scroll = view->findChild<QScrollArea*>("page-scroll");
        QVERIFY(scroll->widget()->width() <= scroll->viewport()->width());
        QVERIFY2(scroll->widget()->minimumSizeHint().width() <= scroll->viewport()->width(),
                 qPrintable(QString::number(scroll->widget()->minimumSizeHint().width())));
    }

    FakeConnector* fake = nullptr;
    ContentView* view = nullptr;
};

void ContentViewTest::init() {
    fake = new FakeConnector;
    view = new ContentView;
    // The disk-image flow, and the tabs the connector lists, unless a test says otherwise.
    view->model().updatePlatform = UpdatePlatform{false, "amd64"};
    view->model().loadExchangeList();
    waitIdle();
    fake->forgetCalls();
    view->model().logs.clear();
    view->model().setLogsExpanded(false);  // redraws without them
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
    // The list and the lookup run in their own lanes, beside the checks.
    for (const QString& beside : {QString("exchanges"), QString("load-credentials bybit")}) {
        QVERIFY(words.contains(beside));
        words.removeAll(beside);
    }
    QCOMPARE(words.mid(0, 4), (QStringList{"status", "server-health", "bind-status", "status"}));
}

void ContentViewTest::eachControlRunsItsOperation_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QStringList>("firstCall");
    QTest::newRow("claim") << "claim-token" << QStringList{"claim-token", "-"};
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
    if (control == "apply-update") {
        // Install opens only a download the connector verified.
        QVERIFY(!view->findChild<QAbstractButton*>(control)->isEnabled());
        fake->setOutput("update-download", R"({"status":"ok","downloaded":true,"latest_version":"2.0.0"})");
        click("download-update");
        waitIdle();
        QVERIFY(view->findChild<QAbstractButton*>(control)->isEnabled());
        fake->forgetCalls();
    }
    if (control == "delete-credentials") {
        // Delete asks first, naming the exchange; only the confirmation runs anything.
        click(control);
        QTRY_VERIFY(view->findChild<QWidget*>("delete-confirm")->isVisible() || !view->isVisible());
        QCOMPARE(view->findChild<QLabel*>("delete-question")->text(),
                 QString("Delete the stored keys for Bybit? This cannot be undone."));
        click("cancel-delete");
        waitIdle();
        QVERIFY(fake->calls().isEmpty());
        control = "confirm-delete";
        click("delete-credentials");
    }
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
    click("confirm-delete");
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
    auto* list = view->findChild<LogListView*>("log-list");
    QVERIFY(!list->isHidden());
    QCOMPARE(list->model()->rowCount(), 7);
    click("toggle-logs");
    QVERIFY(list->isHidden());
    QCOMPARE(text("log-summary"), QString("7 command log entries available"));
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

void ContentViewTest::startUpShowsNeutralCheckingWords() {
    fake->setDelay("status", 1.0);
    fake->setOutput("status", "connector_health=ready\n");
    fake->setOutput("server-health", R"({"reachable":true})");
    view->show();
    for (const QString card : {"connector-card-value", "server-card-value", "binding-card-value"}) {
        QCOMPARE(text(card), ConnectorViewModel::kChecking);
        QVERIFY(colorOf(card) != QColor(242, 153, 74));  // not the orange of a bad answer
    }
    QCOMPARE(text("quick-state"),
             "Connector: checking... \u2022 Server: checking... \u2022 Binding: checking...");
    fake->setDelay("status", 0);  // only the first answer needs to be late
    QTRY_COMPARE_WITH_TIMEOUT(text("connector-card-value"), QString("ready"), 5000);
    QCOMPARE(colorOf("connector-card-value"), QColor(38, 166, 91));
    QTRY_COMPARE(text("server-card-value"), QString("reachable"));
    waitIdle();
}

void ContentViewTest::minimumSizeFitsASmallLaptopAndThePageNeverWidens() {
    // A 1366 x 768 screen less a title bar and the system's menu bar, dock or task bar.
    QVERIFY(view->minimumWidth() <= 1366 && view->minimumHeight() <= 768 - 100);
    view->resize(view->minimumSize());
    view->show();
    waitIdle();
    click("tab-okx");  // the widest row of fields
    waitIdle();
    ConnectorViewModel& model = view->model();
    // Long unbroken lines everywhere a line can come from outside.
    const QString token(600, 'T');
    model.recordRun(RunResult{"balance OKX", "{\"body\":\"" + QString(5000, 'x') + "\"}", 0, true, {}});
    ExchangeCredentialDraft draft = model.exchangeDrafts["okx"];
    draft.status = "invalid";
    draft.statusReason = token;
    draft.statusReasonIsError = true;
    draft.balance = R"({"status":"error","reason":")" + token + "\"}";
    model.exchangeDrafts["okx"] = draft;
    model.claimMessage = {"Claim failed: " + token, true};
    model.updateOutcome = {"Update failed: " + token, true};
    model.setLogsExpanded(true);
    QTest::qWait(50);
    verifyPageFitsTheWidth();
    auto* list = view->findChild<LogListView*>("log-list");
    QVERIFY(list->isVisible());
    QVERIFY(!list->horizontalScrollBar()->isVisible());
    QVERIFY(list->width() <= view->width());
    // The long line wrapped into many lines instead of widening anything.
    QVERIFY(list->visualRect(list->model()->index(0, 0)).height() > 10 * list->fontMetrics().height());
    QCOMPARE(text("draft-reason"), token);
}

void ContentViewTest::balanceBoxLabelsAreNotClipped_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("exchange");
    QTest::addColumn<QString>("balance");
    QTest::newRow("okx, preferred width")
        << 1120 << "okx"
        << R"({"status":"ok","body":{"data":[{"details":[{"ccy":"USDT","cashBal":"2400","availBal":"2300.5"}]}]}})";
    QTest::newRow("bybit, long figures, narrowest")
        << 900 << "bybit"
        << R"({"totalEquity":"123456789012345.123456789","walletBalance":"98765432109876.987654321","coin":"USDT"})";
    QTest::newRow("error with a long reason, narrowest")
        << 900 << "gate"
        << R"({"status":"error","reason":"the_exchange_answered_with_something_the_connector_could_not_read_because_it_was_not_json_and_it_went_on_and_on_for_a_very_long_time_indeed_more_than_one_line"})";
}

void ContentViewTest::balanceBoxLabelsAreNotClipped() {
    QFETCH(int, width);
    QFETCH(QString, exchange);
    QFETCH(QString, balance);
    view->resize(width, 760);
    view->show();
    waitIdle();
    click("tab-" + exchange);
    waitIdle();
    ExchangeCredentialDraft draft = view->model().exchangeDrafts[exchange];
    draft.balance = balance;
    view->model().exchangeDrafts[exchange] = draft;
    emit view->model().changed();
    QTest::qWait(50);
    auto* box = view->findChild<QFrame*>("balance-box");
    QVERIFY(box->isVisible());
    const QList<WrappingLabel*> labels = box->findChildren<WrappingLabel*>();
    int shown = 0;
    int lowest = 0;
    for (WrappingLabel* label : labels) {
        if (!label->isVisible()) continue;
        ++shown;
        // Tall enough for every wrapped line, and inside the box's border.
        QVERIFY2(label->height() >= label->heightForWidth(label->width()), qPrintable(label->text()));
        QVERIFY2(box->contentsRect().contains(label->geometry()), qPrintable(label->text()));
        QVERIFY2(label->width() >= 48, qPrintable(label->text()));
        lowest = std::max(lowest, label->geometry().bottom());
    }
    QCOMPARE(shown, 2 + view->model().balanceSummary(exchange)->lines.size());
    // The box hugs its lines: no more than its padding below the last one.
    QVERIFY2(box->height() - lowest <= 16 + 2, qPrintable(QString::number(box->height() - lowest)));
    verifyPageFitsTheWidth();
}

void ContentViewTest::failedOkxValidationShowsTheExchangesReason() {
    fake->setOutput("status", "connector_health=ready\n");
    fake->setOutput("server-health", R"({"status":"ok","reachable":true})");
    fake->setOutput("bind-status", R"({"status":"ok","bindState":"authorized","wallet":"0x1111"})");
    // What the connector prints when OKX refuses the passphrase on each of its three sites.
    QStringList attempts;
    for (const QString host : {"https://www.okx.com", "https://eea.okx.com", "https://us.okx.com"}) {
        for (const QString path :
             {"/api/v5/account/config", "/api/v5/account/balance?ccy=USDT", "/api/v5/account/balance"}) {
            attempts
                << R"({"host": ")" + host + R"(", "path": ")" + path +
                       R"(", "body": "{\"code\":\"50105\",\"msg\":\"Request header OK-ACCESS-PASSPHRASE incorrect.\",\"data\":[]}"})";
        }
    }
    fake->setOutput("validate", ("exchange=okx\nstatus=invalid\ncan_read=false\ncan_trade=false\n"
                                 "withdrawal_enabled=false\ncredentials_saved=false\n"
                                 "checked_at=2026-12-08T12:29:08Z\nreason=okx rejected credentials: [" +
                                 attempts.join(", ") + "]\n")
                                    .toUtf8());
    fake->setExitCode("validate", 2);
    view->resize(1180, 900);
    view->show();
    waitIdle();
    click("tab-okx");
    waitIdle();
    QTest::keyClicks(view->findChild<QLineEdit*>("api-key"), "okx-key");
    QTest::keyClicks(view->findChild<QLineEdit*>("api-secret"), "okx-secret");
    QTest::keyClicks(view->findChild<QLineEdit*>("passphrase"), "wrong-pass");
    fake->setDelay("validate", 0.5);
    click("validate-save");
    QCOMPARE(text("draft-status"), QString("Status: checking..."));
    waitIdle();
    QCOMPARE(text("draft-status"), QString("Status: invalid"));
    QCOMPARE(colorOf("draft-status"), QColor(196, 54, 48));
    QVERIFY(colorOf("draft-status") != QColor::fromRgbF(0.39, 0.43, 0.51));  // not the "not checked" grey
    auto* reason = view->findChild<WrappingLabel*>("draft-reason");
    QVERIFY(reason->isVisible());
    QCOMPARE(reason->text(), QString("Request header OK-ACCESS-PASSPHRASE incorrect"));
    QCOMPARE(colorOf("draft-reason"), QColor(196, 54, 48));
    // The window sent the credentials on standard input, none in the arguments.
    const QList<QStringList> calls = fake->calls();
    const qsizetype at = calls.indexOf(QStringList{"validate", "okx", "-", "-", "-"});
    QVERIFY(at >= 0);
    QCOMPARE(fake->inputs()[at], QByteArray("okx-key\nokx-secret\nwrong-pass\n"));
    QTest::qWait(200);  // let the pressed look ease out before the picture
    savePicture("korvane-connector-okx-validation-failed.png");
}

void ContentViewTest::busyIndicatorShowsRunningAndQueued() {
    view->show();
    waitIdle();
    fake->setDelay("validate", 0.6);
    fake->setDelay("update-check", 0.4);
    fake->setOutput(
        "validate",
        "status=invalid\nreason=bybit rejected credentials: {\"retMsg\":\"API key is invalid.\"}\n");
    auto* exchangeBusy = view->findChild<BusyIndicator*>("exchange-busy");
    auto* updatesBusy = view->findChild<BusyIndicator*>("updates-busy");
    QCOMPARE(exchangeBusy->state(), BusyIndicator::State::idle);
    click("validate-save");
    click("check-update");
    QTRY_COMPARE(exchangeBusy->state(), BusyIndicator::State::running);
    QCOMPARE(exchangeBusy->caption(), QString("Running") + QChar(0x2026));
    // Updates have their own lane: they run beside the validation, not behind it.
    QTRY_COMPARE(updatesBusy->state(), BusyIndicator::State::running);
    // A second and third click on the running button add nothing.
    click("validate-save");
    click("validate-save");
    // A server check asked while an idle check runs waits in the pairing lane.
    auto* bindBusy = view->findChild<BusyIndicator*>("bind-busy");
    fake->setDelay("status", 0.6);
    view->model().refreshConnectorStatus();
    click("check-server");
    QTRY_COMPARE(bindBusy->state(), BusyIndicator::State::queued);
    QCOMPARE(bindBusy->caption(), QString("Queued") + QChar(0x2026));
    waitIdle();
    QCOMPARE(updatesBusy->state(), BusyIndicator::State::idle);
    int validations = 0;
    for (const QStringList& call : fake->calls()) validations += call.value(0) == "validate";
    QCOMPARE(validations, 1);
}

void ContentViewTest::typingDuringASlowLookupSurvives() {
    view->show();
    waitIdle();
    fake->setOutput("load-credentials", "status=missing\n");
    fake->setDelay("load-credentials", 0.8);
    click("tab-gate");
    auto* key = view->findChild<QLineEdit*>("api-key");
    QTest::qWait(100);
    QTest::keyClicks(key, "typed at once");
    QTest::keyClicks(view->findChild<QLineEdit*>("api-secret"), "secret too");
    waitIdle();
    QCOMPARE(key->text(), QString("typed at once"));
    // Away and back: the unsaved draft is still there.
    fake->setDelay("load-credentials", 0);
    click("tab-bybit");
    QCOMPARE(key->text(), QString());
    click("tab-gate");
    waitIdle();
    QCOMPARE(key->text(), QString("typed at once"));
    QCOMPARE(view->findChild<QLineEdit*>("api-secret")->text(), QString("secret too"));
}

void ContentViewTest::outcomesShowInTheirCards() {
    view->show();
    waitIdle();
    QCOMPARE(text("update-note"), QString("No update action yet"));
    fake->setOutput("update-apply",
                    R"({"status":"error","reason":"update_file_missing","updates_dir":"/u"})");
    fake->setDelay("update-apply", 0.4);
    view->model().updateReadyToInstall = true;
    view->model().setLogsExpanded(false);  // redraws with Install enabled
    click("apply-update");
    QCOMPARE(text("update-note"), QString("Opening the installer") + QChar(0x2026));
    QVERIFY(colorOf("update-note") != QColor(196, 54, 48));
    waitIdle();
    QCOMPARE(text("update-note"), QString("Nothing downloaded yet"));
    QCOMPARE(colorOf("update-note"), QColor(196, 54, 48));

    // The message line keeps its place while empty, so the page does not jump when one comes.
    auto* claim = view->findChild<WrappingLabel*>("claim-message");
    QVERIFY(claim->text().isEmpty());
    const int below = view->findChild<QLabel*>("quick-state")->mapTo(view, QPoint()).y();
    click("claim-token");
    QVERIFY(claim->isVisible());
    QCOMPARE(view->findChild<QLabel*>("quick-state")->mapTo(view, QPoint()).y(), below);
    QCOMPARE(claim->text(), QString("Paste the bind token from the web app first"));
    QCOMPARE(colorOf("claim-message"), QColor(196, 54, 48));
    QTest::keyClicks(view->findChild<QLineEdit*>("bind-token"), "abc");
    QVERIFY(claim->text().isEmpty());  // typing is the next action
}

void ContentViewTest::logOpenAfter300Entries() {
    fake->setOutput("status", "connector_health=ready\n");
    fake->setOutput("server-health", R"({"status":"ok","reachable":true})");
    fake->setOutput("bind-status", R"({"status":"ok","bindState":"pending_signature"})");
    view->resize(1180, 900);
    view->show();
    waitIdle();
    view->model().windowClosed();  // no polling while the picture is taken
    waitIdle();
    const QStringList outputs = {
        "device_id=device:linux:0a1b2c3d4e5f\ndevice_label=Korvane Connector (Linux)\nplatform=linux\n"
        "paired=false\nconnector_health=pairing_required\nvault_backend=secret_service_with_file_fallback\n",
        R"({"status":"ok","reachable":true,"relay":"http://127.0.0.1:39557","version":"1.4.2"})",
        R"({"status":"ok","bindState":"pending_signature","token":"demo-bind-token","expiresInSeconds":540,"wallet":null,"connectorId":"device:linux:0a1b2c3d4e5f","note":"waiting for the wallet signature in the browser"})",
        "status=ok\nexchange=okx\napi_key=okx-key\napi_secret=okx-secret\npassphrase=okx-pass\n",
    };
    const QStringList titles = {"status", "server-health", "bind-status", "load-credentials OKX"};
    for (int i = 0; i < 300; ++i) {
        view->model().recordRun(RunResult{titles[i % 4], outputs[i % 4], i % 7 == 3 ? 2 : 0, true, {}});
    }
    click("toggle-logs");
    auto* list = view->findChild<LogListView*>("log-list");
    QTRY_VERIFY(list->isVisible());
    QCOMPARE(list->model()->rowCount(), ConnectorViewModel::kLogLimit);
    QCOMPARE(text("log-summary"), QString("200 command log entries available"));
    for (int row = 0; row < list->model()->rowCount(); ++row) {
        const QString shown = list->model()->index(row, 0).data(LogListModel::PreviewRole).toString();
        QVERIFY(!shown.contains("okx-secret") && !shown.contains("okx-pass"));
    }
    // The newest entry first (the 300th run: index 299, a load-credentials with masked values).
    QCOMPARE(list->model()->index(0, 0).data(LogListModel::TitleRole).toString(),
             QString("load-credentials OKX"));
    QVERIFY(list->model()
                ->index(0, 0)
                .data(LogListModel::PreviewRole)
                .toString()
                .contains(QString(8, QChar(0x2022))));
    // Scrolled so the log card fills the window, once the page has grown by the open list.
    auto* scroll = view->findChild<QScrollArea*>("page-scroll");
    QTest::qWait(100);
    scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    QTest::qWait(200);
    QVERIFY(list->visibleRegion().boundingRect().height() > 300);
    verifyPageFitsTheWidth();
    savePicture("korvane-connector-log-open.png");
}

void ContentViewTest::overviewWarnsAboutRiskyKeys() {
    fake->setOutput("status",
                    "connector_health=ready\nexchange=bybit status=configured credentials_present=true "
                    "note=\"\"\nexchange=okx status=configured credentials_present=true note=\"\"\n");
    fake->setOutput("server-health", R"({"reachable":true})");
    fake->setOutput("bind-status", R"({"status":"ok","bindState":"authorized"})");
    fake->setOutput("balance bybit", R"({"retCode":0,"result":{"list":[{"totalEquity":"1250.4",)"
                                     R"("totalAvailableBalance":"1100.25","coin":[{"coin":"USDT"}]}]}})");
    fake->setOutput("balance okx", R"({"code":"0","data":[{"totalEq":"2500.75","details":[{"ccy":"USDT",)"
                                   R"("eq":"2500.75","cashBal":"2400","availBal":"2300.5"}]}]})");
    fake->setOutput("validate okx",
                    "status=valid_read_only\nwithdrawal_enabled=false\ncredentials_saved=true\n");
    fake->setOutput("validate bybit",
                    "status=valid_trade_ready\nwithdrawal_enabled=true\ncredentials_saved=true\n");
    view->resize(1366, 1700);
    view->show();
    waitIdle();
    for (const QString tab : {"tab-okx", "tab-bybit"}) {
        click(tab);
        waitIdle();
        QTest::keyClicks(view->findChild<QLineEdit*>("api-key"), "key");
        QTest::keyClicks(view->findChild<QLineEdit*>("api-secret"), "secret");
        if (tab == "tab-okx") QTest::keyClicks(view->findChild<QLineEdit*>("passphrase"), "pass");
        click("validate-save");
        waitIdle();
    }
    QCOMPARE(text("key-risk"),
             QString("This key can withdraw funds. Create a key without withdrawal permission."));
    QCOMPARE(colorOf("key-risk"), QColor(196, 54, 48));
    // Both rows in the same terms, each with its key's badge.
    QCOMPARE(text("overview-1-0"), QString("Bybit"));
    QCOMPARE(text("overview-1-1"), QString("1250.40 USDT"));
    QCOMPARE(text("overview-1-2"), QString("1100.25 USDT"));
    QCOMPARE(text("overview-1-3"), QString("Can withdraw"));
    QCOMPARE(colorOf("overview-1-3"), QColor(196, 54, 48));
    QCOMPARE(text("overview-2-1"), QString("2500.75 USDT"));
    QCOMPARE(text("overview-2-3"), QString("Read only"));
    click("tab-okx");
    waitIdle();
    QCOMPARE(text("key-risk"), QString("Read only: this key cannot trade."));
    click("tab-bybit");
    waitIdle();
    savePictureOf("overview-key-risk.png", "overview-card");
}

void ContentViewTest::cardsAfterTheRelayWentDown() {
    fake->setOutput("status", "connector_health=ready\nrelay_connected=true\n");
    fake->setOutput("server-health", R"({"reachable":true})");
    fake->setOutput("bind-status", R"({"status":"ok","bindState":"authorized"})");
    view->model().healthIntervalMs = 200;
    view->show();
    QTRY_COMPARE(text("binding-card-value"), QString("authorized"));
    QCOMPARE(colorOf("binding-card-value"), QColor(38, 166, 91));
    fake->setOutput("server-health", "curl: (52) Empty reply from server\n");
    fake->setExitCode("server-health", 1);
    fake->setOutput("bind-status", R"({"status":"error","reason":"bind_status_failed"})");
    QTRY_COMPARE(text("server-card-value"), QString("unknown"));
    QTRY_COMPARE(text("binding-card-value"), QString("unknown"));
    QCOMPARE(text("connector-card-value"), QString("offline"));
    QVERIFY(colorOf("server-card-value") != QColor(38, 166, 91));
    QVERIFY(text("server-card-detail").startsWith("The server closed the connection without answering"));
    QVERIFY(text("server-card-detail").contains("last confirmed"));
    view->model().windowClosed();  // no further checks while the picture is taken
    waitIdle();
    savePictureOf("cards-relay-down.png", "server-card");
}

void ContentViewTest::logFilteredToProblems() {
    ConnectorViewModel& model = view->model();
    model.recordRun(RunResult{"status", "connector_health=ready\n", 0, true, {}});
    model.recordRun(RunResult{"load-credentials Gate", "status=missing\n", 2, true, {}});
    model.recordRun(
        RunResult{"update-apply", R"({"status":"error","reason":"open_dmg_failed"})", 0, true, {}});
    model.recordRun(
        RunResult{"validate OKX", "status=invalid\nreason=okx rejected credentials\n", 1, true, {}});
    model.recordRun(RunResult{"server-health", R"({"reachable":true})", 0, true, {}});
    view->show();
    model.windowClosed();
    waitIdle();
    model.logs.erase(std::remove_if(model.logs.begin(), model.logs.end(),
                                    [](const CommandLogEntry& entry) {
                                        return entry.title == "exchanges" || entry.title == "bind-status" ||
                                               (entry.title == "status" && entry.output.isEmpty()) ||
                                               (entry.title == "server-health" && entry.output.isEmpty()) ||
                                               entry.title.startsWith("load-credentials B");
                                    }),
                     model.logs.end());
    click("toggle-logs");
    click("log-filter-problems");
    auto* list = view->findChild<LogListView*>();
    QTRY_VERIFY(list->isVisible());
    QStringList shown;
    for (int row = 0; row < list->model()->rowCount(); ++row)
        shown << list->model()->index(row, 0).data().toString();
    // A failure reported with exit 0 is a problem; an empty store's "missing" is not.
    QCOMPARE(shown, (QStringList{"validate OKX", "update-apply"}));
    view->resize(1366, 1000);
    QTest::qWait(50);
    auto* scroll = view->findChild<QScrollArea*>("page-scroll");
    scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    savePicture("log-problems.png");
    click("log-filter-all");
    QTRY_COMPARE(list->model()->rowCount(), int(model.logs.size()));
    QVERIFY(model.logs.size() > 2);
}

void ContentViewTest::linuxUpdateSaysHowToInstall() {
    view->model().updatePlatform = UpdatePlatform{true, "amd64"};
    fake->setOutput("update-check", R"({"status":"ok","update_available":true,"latest_version":"1.4.0"})");
    view->show();
    waitIdle();
    QVERIFY(!view->findChild<QAbstractButton*>("download-update")->isVisible());
    QVERIFY(!view->findChild<QAbstractButton*>("apply-update")->isVisible());
    click("check-update");
    waitIdle();
    QVERIFY(text("update-note").contains("sudo apt install ./korvane-connector_1.4.0_amd64.deb"));
}

void ContentViewTest::enterSubmitsTheFocusedForm() {
    view->show();
    waitIdle();
    fake->forgetCalls();
    auto* token = view->findChild<QLineEdit*>("bind-token");
    QTest::keyClicks(token, "abc");
    QTest::keyClick(token, Qt::Key_Return);
    waitIdle();
    QCOMPARE(fake->calls().value(0), (QStringList{"claim-token", "-"}));
    QCOMPARE(fake->inputs().value(0), QByteArray("abc\n"));
    fake->forgetCalls();
    auto* secret = view->findChild<QLineEdit*>("api-secret");
    QTest::keyClicks(secret, "s");
    QTest::keyClick(secret, Qt::Key_Enter);
    waitIdle();
    QCOMPARE(fake->calls().value(0), (QStringList{"validate", "bybit", "-", "-"}));
}

}  // namespace korvane::connector

QTEST_MAIN(korvane::connector::ContentViewTest)
#include "content_view_test.moc"
