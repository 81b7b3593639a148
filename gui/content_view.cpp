#include "gui/content_view.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/action_button.h"
#include "gui/card_widgets.h"

namespace korvane::connector {
namespace {

const QColor kGreen(38, 166, 91);
const QColor kOrange(242, 153, 74);
const QColor kMuted = QColor::fromRgbF(0.29, 0.33, 0.41);
const QColor kHeadline = QColor::fromRgbF(0.12, 0.14, 0.18);

QColor wordColor(const QString& value, const char* good) {
    return value == good ? kGreen : kOrange;
}

void setTextColor(QLabel* label, const QColor& color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

// Keeps what the user is typing untouched; only a value changed elsewhere is written back.
void syncField(QLineEdit* field, const QString& value) {
    if (field->text() != value) field->setText(value);
}

QLineEdit* makeField(const QString& objectName, const QString& placeholder, bool masked) {
    auto* field = new QLineEdit;
    field->setObjectName(objectName);
    field->setPlaceholderText(placeholder);
    field->setAccessibleName(placeholder);
    if (masked) field->setEchoMode(QLineEdit::Password);
    field->setStyleSheet(
        "QLineEdit { border: 1px solid rgb(199,206,219); border-radius: 8px; padding: 6px 8px;"
        " background: white; }");
    return field;
}

}  // namespace

ContentView::ContentView(QWidget* parent) : QWidget(parent) {
    setWindowTitle("Korvane Connector");
    setMinimumSize(1120, 760);
    setObjectName("content-view");
    setStyleSheet(
        "#content-view { background: qlineargradient(x1:0, y1:0, x2:0, y2:1,"
        " stop:0 rgb(240,245,252), stop:1 rgb(235,240,250)); }");

    auto* page = new QWidget;
    page->setObjectName("page");
    page->setStyleSheet("#page { background: transparent; }");
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(28, 28, 28, 28);
    column->setSpacing(20);
    column->addWidget(buildHeader());

    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(12);
    connectorCard_ = new StatusCard("connector-card", "Connector");
    serverCard_ = new StatusCard("server-card", "Server");
    bindingCard_ = new StatusCard("binding-card", "Binding");
    for (StatusCard* card : {connectorCard_, serverCard_, bindingCard_}) statusRow->addWidget(card, 1);
    column->addLayout(statusRow);
    column->addWidget(buildBindCard());
    column->addWidget(buildExchangeCard());
    column->addWidget(buildUpdatesCard());
    column->addWidget(buildLogCard());
    column->addStretch();

    auto* scroll = new QScrollArea;
    scroll->setObjectName("page-scroll");
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    scroll->setWidget(page);
    scroll->viewport()->setAutoFillBackground(false);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    connect(&model_, &ConnectorViewModel::changed, this, &ContentView::render);
    render();
}

ActionButton* ContentView::addActionButton(QLayout* layout, const QString& id, const QString& title,
                                           bool prominent, std::function<void()> action) {
    auto* button = new ActionButton(id, title, prominent);
    connect(button, &QAbstractButton::clicked, this, [this, id, action] { model_.pressButton(id, action); });
    layout->addWidget(button);
    buttons_.insert(id, button);
    return button;
}

QWidget* ContentView::buildHeader() {
    auto* header = new QWidget;
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(6);
    titles->addWidget(makeLabel("Korvane Connector", QColor::fromRgbF(0.08, 0.1, 0.14), 12, true));
    titles->addWidget(makeLabel("Token-first bridge between web terminal, server and exchange APIs",
                                QColor::fromRgbF(0.29, 0.33, 0.41)));
    row->addLayout(titles, 1);
    runningLabel_ = makeLabel("", ActionButton::accentColor());
    runningLabel_->setObjectName("running-command");
    runningLabel_->setWordWrap(false);
    row->addWidget(runningLabel_);
    auto* refresh = new QPushButton("Refresh all");
    refresh->setObjectName("refresh-all");
    refresh->setAccessibleName("Refresh all");
    refresh->setStyleSheet(
        "QPushButton { background: rgb(47,111,237); color: white; border-radius: 8px;"
        " padding: 8px 16px; font-weight: 600; } QPushButton:pressed { background: rgb(36,92,204); }");
    connect(refresh, &QPushButton::clicked, &model_, &ConnectorViewModel::refreshAll);
    row->addWidget(refresh);
    return header;
}

QWidget* ContentView::buildBindCard() {
    auto* card =
        new SurfaceCard("bind-card", "Connector bind",
                        "Paste the bind token from the web app, claim it here, then finish the wallet "
                        "signature in the browser.");
    auto* content = card->contentLayout();
    auto* tokenRow = new QHBoxLayout;
    tokenField_ = makeField("bind-token", "Bind token from the web app", false);
    connect(tokenField_, &QLineEdit::textEdited, &model_, &ConnectorViewModel::setBindToken);
    tokenRow->addWidget(tokenField_, 1);
    addActionButton(tokenRow, "claim-token", "Claim token", true, [this] { model_.claimToken(); });
    addActionButton(tokenRow, "disconnect-binding", "Disconnect", false,
                    [this] { model_.disconnectBinding(); });
    addActionButton(tokenRow, "check-server", "Check server", false, [this] { model_.checkServer(); });
    content->addLayout(tokenRow);

    content->addWidget(makeLabel("Quick state", kHeadline, 1, true));
    quickState_ = makeLabel("", kMuted);
    quickState_->setObjectName("quick-state");
    content->addWidget(quickState_);

    auto* detailsRow = new QHBoxLayout;
    detailsRow->addWidget(makeLabel("Token and bind details", kHeadline, 1, true), 1);
    addActionButton(detailsRow, "toggle-token-details", "Show details", false,
                    [this] { model_.setTokenDetailsExpanded(!model_.tokenDetailsExpanded); });
    content->addLayout(detailsRow);
    detailsHiddenNote_ = makeLabel("Raw token, server, and binding output is hidden by default.", kMuted);
    content->addWidget(detailsHiddenNote_);
    detailsPanel_ = new DualPanel("Connector / server", "Binding result");
    detailsPanel_->setObjectName("token-details");
    content->addWidget(detailsPanel_);
    return card;
}

QWidget* ContentView::buildExchangeCard() {
    auto* card =
        new SurfaceCard("exchange-card", "Exchange API",
                        "Validate credentials against the selected exchange, save them locally, then load "
                        "balances when needed.");
    auto* content = card->contentLayout();
    tabs_ =
        new ExchangeTabs(model_.exchanges, [this](const QString& id) { model_.setSelectedExchangeId(id); });
    content->addWidget(tabs_);

    auto* fields = new QHBoxLayout;
    auto labelled = [fields](const QString& caption, QLineEdit* field) {
        auto* column = new QWidget;
        auto* layout = new QVBoxLayout(column);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(8);
        layout->addWidget(makeLabel(caption, kMuted));
        layout->addWidget(field);
        fields->addWidget(column, 1);
        return column;
    };
    apiKeyField_ = makeField("api-key", "API key", false);
    apiSecretField_ = makeField("api-secret", "API secret", true);
    passphraseField_ = makeField("passphrase", "Passphrase", true);
    labelled("API key", apiKeyField_);
    labelled("API secret", apiSecretField_);
    passphraseColumn_ = labelled("Passphrase", passphraseField_);
    connect(apiKeyField_, &QLineEdit::textEdited, &model_, &ConnectorViewModel::setSelectedApiKey);
    connect(apiSecretField_, &QLineEdit::textEdited, &model_, &ConnectorViewModel::setSelectedApiSecret);
    connect(passphraseField_, &QLineEdit::textEdited, &model_, &ConnectorViewModel::setSelectedPassphrase);
    content->addLayout(fields);

    auto* actions = new QHBoxLayout;
    addActionButton(actions, "validate-save", "Validate and save keys", true,
                    [this] { model_.validateSelectedExchange(); });
    addActionButton(actions, "load-balance", "Load balance", false, [this] { model_.loadBalance(); });
    addActionButton(actions, "delete-credentials", "Delete", false,
                    [this] { model_.deleteSelectedExchangeCredentials(); });
    draftStatus_ = makeLabel("", kMuted);
    draftStatus_->setObjectName("draft-status");
    actions->addWidget(draftStatus_, 1);
    content->addLayout(actions);

    balanceMissing_ = makeLabel("Balance not loaded yet", kMuted);
    balanceMissing_->setObjectName("balance-missing");
    content->addWidget(balanceMissing_);
    balanceBox_ = new QFrame;
    balanceBox_->setObjectName("balance-box");
    balanceBox_->setStyleSheet(
        "#balance-box { background: rgb(250,252,255); border-radius: 16px;"
        " border: 1px solid rgb(217,224,237); }");
    auto* box = new QVBoxLayout(balanceBox_);
    box->setContentsMargins(16, 16, 16, 16);
    box->setSpacing(8);
    balanceTitle_ = makeLabel("", kMuted, -1);
    balanceValue_ = makeLabel("", kHeadline, 6, true);
    balanceValue_->setObjectName("balance-value");
    balanceLines_ = makeLabel("", kMuted);
    balanceLines_->setObjectName("balance-lines");
    for (QLabel* label : {balanceTitle_, balanceValue_, balanceLines_}) box->addWidget(label);
    content->addWidget(balanceBox_);
    content->addWidget(
        makeLabel("Live credential validation is enabled for Bybit, OKX, Gate, BingX, KuCoin, and Bitget.",
                  kMuted, -1));
    return card;
}

QWidget* ContentView::buildUpdatesCard() {
    auto* card = new SurfaceCard("updates-card", "Updates",
                                 "Check for a new version, download it, then install it when you are ready.");
    auto* row = new QHBoxLayout;
    addActionButton(row, "check-update", "Check for updates", false, [this] { model_.checkUpdate(); });
    addActionButton(row, "download-update", "Download update", false, [this] { model_.downloadUpdate(); });
    addActionButton(row, "apply-update", "Install update", true, [this] { model_.applyUpdate(); });
    updateNote_ = makeLabel("", kMuted);
    updateNote_->setObjectName("update-note");
    row->addWidget(updateNote_, 1);
    card->contentLayout()->addLayout(row);
    return card;
}

QWidget* ContentView::buildLogCard() {
    auto* card = new SurfaceCard("log-card", "Technical log",
                                 "All raw command output lives here and stays hidden by default.");
    auto* content = card->contentLayout();
    content->setSpacing(8);
    auto* row = new QHBoxLayout;
    row->addStretch();
    addActionButton(row, "toggle-logs", "Open technical log", false,
                    [this] { model_.setLogsExpanded(!model_.logsExpanded); });
    content->addLayout(row);
    logSummary_ = makeLabel("", kMuted);
    logSummary_->setObjectName("log-summary");
    content->addWidget(logSummary_);
    logEntries_ = new QWidget;
    logEntriesLayout_ = new QVBoxLayout(logEntries_);
    logEntriesLayout_->setContentsMargins(0, 0, 0, 0);
    logEntriesLayout_->setSpacing(8);
    content->addWidget(logEntries_);
    return card;
}

void ContentView::render() {
    const ConnectorViewModel& m = model_;
    runningLabel_->setText(m.runningTitle().isEmpty() ? QString() : "Running: " + m.runningTitle());
    connectorCard_->setValue(m.connectorStatus, wordColor(m.connectorStatus, "ready"));
    serverCard_->setValue(m.serverStatus, wordColor(m.serverStatus, "reachable"));
    bindingCard_->setValue(m.bindingStatus, wordColor(m.bindingStatus, "authorized"));

    syncField(tokenField_, m.bindToken);
    quickState_->setText("Connector: " + m.connectorStatus + " \u2022 Server: " + m.serverStatus +
                         " \u2022 Binding: " + m.bindingStatus);
    buttons_["toggle-token-details"]->setText(m.tokenDetailsExpanded ? "Hide details" : "Show details");
    detailsHiddenNote_->setVisible(!m.tokenDetailsExpanded);
    detailsPanel_->setVisible(m.tokenDetailsExpanded);
    const QString left =
        m.lastStatusOutput.isEmpty() ? m.lastServerOutput : m.lastStatusOutput + "\n\n" + m.lastServerOutput;
    QStringList right;
    for (const QString& part : {m.lastBindingOutput, m.lastDisconnectOutput}) {
        if (!part.isEmpty()) right << part;
    }
    detailsPanel_->setBodies(left, right.join("\n\n"));

    tabs_->setSelectedId(m.selectedExchangeId);
    const ExchangeCredentialDraft draft = m.selectedDraft();
    syncField(apiKeyField_, draft.apiKey);
    syncField(apiSecretField_, draft.apiSecret);
    syncField(passphraseField_, draft.passphrase);
    passphraseColumn_->setVisible(m.selectedItem().needsPassphrase);
    buttons_["validate-save"]->setText(draft.loadedFromVault ? "Update and save keys"
                                                             : "Validate and save keys");
    buttons_["validate-save"]->setAccessibleName(buttons_["validate-save"]->text());
    buttons_["validate-save"]->updateGeometry();
    draftStatus_->setText("Status: " + draft.status);
    setTextColor(draftStatus_, draft.status == "valid" ? kGreen : QColor::fromRgbF(0.39, 0.43, 0.51));
    renderBalance();

    updateNote_->setText(m.lastUpdateOutput.isEmpty()
                             ? "No update action yet"
                             : "Update action completed. Technical output is available below.");
    buttons_["toggle-logs"]->setText(m.logsExpanded ? "Hide technical log" : "Open technical log");
    renderLogs();

    for (auto it = buttons_.begin(); it != buttons_.end(); ++it) {
        it.value()->setPressedLook(m.pressedButtonId == it.key());
    }
}

void ContentView::renderBalance() {
    const auto summary = model_.balanceSummary(model_.selectedExchangeId);
    balanceMissing_->setVisible(!summary);
    balanceBox_->setVisible(summary.has_value());
    if (!summary) return;
    balanceTitle_->setText(summary->title);
    balanceValue_->setText(summary->value);
    balanceLines_->setText(summary->lines.join("\n"));
}

void ContentView::renderLogs() {
    const QList<CommandLogEntry>& logs = model_.logs;
    if (logs.isEmpty()) {
        logSummary_->setText("No commands run yet");
    } else {
        logSummary_->setText(QString::number(logs.size()) + " command log entries available");
    }
    logSummary_->setVisible(!model_.logsExpanded || logs.isEmpty());
    logEntries_->setVisible(model_.logsExpanded && !logs.isEmpty());
    const int wanted = model_.logsExpanded ? logs.size() : 0;
    if (wanted == renderedLogCount_) return;
    renderedLogCount_ = wanted;
    while (QLayoutItem* item = logEntriesLayout_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (int i = 0; i < wanted; ++i) {
        auto* entry = new QFrame;
        entry->setObjectName("log-entry");
        entry->setStyleSheet(
            "#log-entry { background: rgb(247,249,253); border-radius: 14px;"
            " border: 1px solid rgb(221,227,238); }");
        auto* layout = new QVBoxLayout(entry);
        layout->setContentsMargins(12, 12, 12, 12);
        layout->addWidget(makeLabel(logs[i].title, kHeadline, 1, true));
        QLabel* output = makeLabel(logs[i].output, QColor::fromRgbF(0.16, 0.18, 0.23));
        output->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        output->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(output);
        logEntriesLayout_->addWidget(entry);
    }
}

void ContentView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shownOnce_) return;
    shownOnce_ = true;
    model_.windowShown();
}

void ContentView::closeEvent(QCloseEvent* event) {
    model_.windowClosed();
    QWidget::closeEvent(event);
}

}  // namespace korvane::connector
