#include "gui/content_view.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include "gui/action_button.h"
#include "gui/busy_indicator.h"
#include "gui/card_widgets.h"
#include "gui/exchange_list_reading.h"
#include "gui/log_list_view.h"
#include "gui/validation_reading.h"
#include "gui/wrapping_label.h"

namespace korvane::connector {
namespace {

const QColor kGreen(38, 166, 91);
const QColor kOrange(242, 153, 74);
const QColor kError(196, 54, 48);
const QColor kMuted = QColor::fromRgbF(0.29, 0.33, 0.41);
const QColor kStatusGrey = QColor::fromRgbF(0.39, 0.43, 0.51);
const QColor kHeadline = QColor::fromRgbF(0.12, 0.14, 0.18);
const QColor kNeutralOnDark = QColor::fromRgbF(0.78, 0.81, 0.87);

const QColor kAmber(176, 96, 0);  // amber dark enough for 4.5:1 on white

QColor toneColor(CardTone tone) {
    switch (tone) {
        case CardTone::good: return kGreen;
        case CardTone::warning: return kOrange;
        case CardTone::unknown: return kNeutralOnDark;
        case CardTone::neutral: break;
    }
    return kNeutralOnDark;
}

QString riskBadge(KeyRisk risk) {
    switch (risk) {
        case KeyRisk::withdrawal: return "Can withdraw";
        case KeyRisk::readOnly: return "Read only";
        case KeyRisk::tradeReady: return "Trade, no withdrawal";
        case KeyRisk::unknown: break;
    }
    return "Not checked this session";
}

QColor riskColor(KeyRisk risk) {
    if (risk == KeyRisk::withdrawal) return kError;
    if (risk == KeyRisk::readOnly) return kAmber;
    if (risk == KeyRisk::tradeReady) return kGreen;
    return kStatusGrey;
}

QColor draftStatusColor(const QString& status) {
    if (status == "valid") return kGreen;
    if (status == "invalid" || status == "error") return kError;
    if (status == ConnectorViewModel::kChecking) return ActionButton::accentColor();
    return kStatusGrey;
}

void setTextColor(QLabel* label, const QColor& color) {
    if (label->palette().color(QPalette::WindowText) == color) return;
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

// Changing a label's text re-lays the page out, so unchanged text is left alone.
void setText(QLabel* label, const QString& text) {
    if (label->text() != text) label->setText(text);
}

void showOutcome(WrappingLabel* label, const OutcomeLine& line) {
    label->setText(line.text);
    label->setColor(line.isError ? kError : kMuted);
    label->setVisible(!line.text.isEmpty());
}

// As showOutcome, for a line whose place stays reserved while it is empty, so the page does not
// jump when a message comes and goes.
void showReserved(WrappingLabel* label, const OutcomeLine& line) {
    label->setText(line.text);
    label->setColor(line.isError ? kError : kMuted);
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
        " background: white; } QLineEdit:focus { border: 2px solid rgb(47,111,237); padding: 5px 7px; }");
    return field;
}

// A line for a message that may carry text from outside; hidden until there is one.
WrappingLabel* makeMessageLabel(const QString& objectName) {
    auto* label = new WrappingLabel(objectName, kMuted);
    label->hide();
    return label;
}

}  // namespace

ContentView::ContentView(QWidget* parent) : QWidget(parent) {
    setWindowTitle("Korvane Connector");
    setMinimumSize(kMinimumSize);
    QSize size = kPreferredSize;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        size = size.boundedTo(screen->availableGeometry().size()).expandedTo(kMinimumSize);
    }
    resize(size);
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
    column->addWidget(buildOverviewCard());
    column->addWidget(buildBindCard());
    column->addWidget(buildExchangeCard());
    column->addWidget(buildUpdatesCard());
    column->addWidget(buildLogCard());
    column->addStretch();

    scroll_ = new QScrollArea;
    scroll_->setObjectName("page-scroll");
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The page always fits the window's width; only its height scrolls.
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setWidget(page);
    scroll_->viewport()->setAutoFillBackground(false);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll_);

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

BusyIndicator* ContentView::addBusyIndicator(QLayout* layout, const QString& objectName,
                                             const QStringList& owners) {
    auto* indicator = new BusyIndicator(objectName);
    layout->addWidget(indicator);
    busyIndicators_.append({indicator, owners});
    return indicator;
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
    row->addWidget(runningLabel_);
    auto* refresh = new QPushButton("Refresh all");
    refresh->setObjectName("refresh-all");
    refresh->setAccessibleName("Refresh all");
    refresh->setStyleSheet(
        "QPushButton { background: rgb(47,111,237); color: white; border-radius: 8px;"
        " padding: 8px 16px; font-weight: 600; border: 2px solid transparent; }"
        " QPushButton:focus { border: 2px solid rgb(20,36,77); } QPushButton:pressed { background: "
        "rgb(36,92,204); }");
    // Through the press so a second click while the refresh is still queued adds nothing.
    connect(refresh, &QPushButton::clicked, this,
            [this] { model_.pressButton("refresh-all", [this] { model_.refreshAll(); }); });
    row->addWidget(refresh);
    return header;
}

QWidget* ContentView::buildBindCard() {
    auto* card =
        new SurfaceCard("bind-card", "Connector bind",
                        "Paste the bind token from the web app, claim it here, then finish the wallet "
                        "signature in the browser.");
    auto* content = card->contentLayout();
    auto* tokenBlock = new QVBoxLayout;
    tokenBlock->setSpacing(6);
    auto* tokenRow = new QHBoxLayout;
    tokenField_ = makeField("bind-token", "Bind token from the web app", false);
    tokenField_->setMinimumWidth(160);
    connect(tokenField_, &QLineEdit::textEdited, &model_, &ConnectorViewModel::setBindToken);
    connect(tokenField_, &QLineEdit::returnPressed, this, [this] { buttons_["claim-token"]->click(); });
    tokenRow->addWidget(tokenField_, 1);
    addActionButton(tokenRow, "claim-token", "Claim token", true, [this] { model_.claimToken(); });
    addActionButton(tokenRow, "disconnect-binding", "Disconnect", false,
                    [this] { model_.disconnectBinding(); });
    addActionButton(tokenRow, "check-server", "Check server", false, [this] { model_.checkServer(); });
    addBusyIndicator(tokenRow, "bind-busy", {"claim-token", "disconnect-binding", "check-server"});
    tokenBlock->addLayout(tokenRow);
    claimMessage_ = new WrappingLabel("claim-message", kMuted);
    claimMessage_->setMinimumHeight(claimMessage_->fontMetrics().lineSpacing() * 2);
    tokenBlock->addWidget(claimMessage_);
    content->addLayout(tokenBlock);

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
    exchangeListMessage_ = makeMessageLabel("exchange-list-message");
    content->addWidget(exchangeListMessage_);

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
    // Enter in any key field submits the form, as the main button would.
    for (QLineEdit* field : {apiKeyField_, apiSecretField_, passphraseField_}) {
        connect(field, &QLineEdit::returnPressed, this, [this] { buttons_["validate-save"]->click(); });
    }
    content->addLayout(fields);

    auto* statusBlock = new QVBoxLayout;
    statusBlock->setSpacing(6);
    auto* actions = new QHBoxLayout;
    addActionButton(actions, "validate-save", "Validate and save keys", true,
                    [this] { model_.validateSelectedExchange(); });
    addActionButton(actions, "load-balance", "Load balance", false, [this] { model_.loadBalance(); });
    addActionButton(actions, "delete-credentials", "Delete", false,
                    [this] { model_.requestDeleteSelected(); });
    addBusyIndicator(actions, "exchange-busy",
                     {"validate-save", "load-balance", "confirm-delete", ConnectorViewModel::kTabsOwner});
    draftStatus_ = makeLabel("", kStatusGrey);
    draftStatus_->setObjectName("draft-status");
    draftStatus_->setMinimumWidth(1);
    draftStatus_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    actions->addWidget(draftStatus_, 1);
    statusBlock->addLayout(actions);
    // The reason sits on its own line under the buttons, where it has the card's whole width.
    draftReason_ = new WrappingLabel("draft-reason", kMuted);
    draftReason_->setMinimumHeight(draftReason_->fontMetrics().lineSpacing());
    statusBlock->addWidget(draftReason_);
    keyRisk_ = makeMessageLabel("key-risk");
    statusBlock->addWidget(keyRisk_);
    content->addLayout(statusBlock);

    // Deleting stored keys cannot be undone: it waits for a second, explicit yes.
    deleteConfirm_ = new QFrame;
    deleteConfirm_->setObjectName("delete-confirm");
    deleteConfirm_->setStyleSheet(
        "#delete-confirm { background: rgb(253,242,241); border-radius: 12px; border: 1px solid "
        "rgb(226,160,156); }");
    auto* confirmRow = new QHBoxLayout(deleteConfirm_);
    confirmRow->setContentsMargins(12, 8, 12, 8);
    deleteQuestion_ = makeLabel("", kError);
    deleteQuestion_->setObjectName("delete-question");
    confirmRow->addWidget(deleteQuestion_, 1);
    addActionButton(confirmRow, "confirm-delete", "Delete keys", true, [this] { model_.confirmDelete(); });
    addActionButton(confirmRow, "cancel-delete", "Keep keys", false, [this] { model_.cancelDelete(); });
    deleteConfirm_->hide();
    content->addWidget(deleteConfirm_);

    balanceMissing_ = makeLabel("Balance not loaded yet", kMuted);
    balanceMissing_->setObjectName("balance-missing");
    content->addWidget(balanceMissing_);
    balanceBox_ = new QFrame;
    balanceBox_->setObjectName("balance-box");
    balanceBox_->setStyleSheet(
        "#balance-box { background: rgb(250,252,255); border-radius: 16px;"
        " border: 1px solid rgb(217,224,237); }");
    // As tall as its lines need, never stretched or squeezed by the card.
    balanceBox_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    balanceLayout_ = new QVBoxLayout(balanceBox_);
    balanceLayout_->setContentsMargins(16, 16, 16, 16);
    balanceLayout_->setSpacing(8);
    balanceTitle_ = new WrappingLabel("balance-title", kMuted, -1);
    balanceValue_ = new WrappingLabel("balance-value", kHeadline, 6, true);
    for (WrappingLabel* label : {balanceTitle_, balanceValue_}) balanceLayout_->addWidget(label);
    content->addWidget(balanceBox_);
    return card;
}

QWidget* ContentView::buildOverviewCard() {
    auto* card =
        new SurfaceCard("overview-card", "Overview",
                        "Every exchange with stored keys. Equity is the account's value including "
                        "unrealised profit and loss; available is what new orders can use. Both are in "
                        "the account's settlement coin.");
    auto* row = new QHBoxLayout;
    overviewEmpty_ = makeLabel("No stored keys yet", kMuted);
    overviewEmpty_->setObjectName("overview-empty");
    row->addWidget(overviewEmpty_);
    row->addStretch();
    addActionButton(row, "refresh-overview", "Refresh balances", false, [this] { model_.refreshOverview(); });
    card->contentLayout()->addLayout(row);
    overviewGrid_ = new QGridLayout;
    overviewGrid_->setHorizontalSpacing(18);
    overviewGrid_->setVerticalSpacing(8);
    card->contentLayout()->addLayout(overviewGrid_);
    return card;
}

QWidget* ContentView::buildUpdatesCard() {
    auto* card = new SurfaceCard("updates-card", "Updates",
                                 "Check for a new version, download it, then install it when you are ready.");
    auto* row = new QHBoxLayout;
    addActionButton(row, "check-update", "Check for updates", false, [this] { model_.checkUpdate(); });
    addActionButton(row, "download-update", "Download update", false, [this] { model_.downloadUpdate(); });
    addActionButton(row, "apply-update", "Install update", true, [this] { model_.applyUpdate(); });
    addBusyIndicator(row, "updates-busy", {"check-update", "download-update", "apply-update"});
    updateNote_ = new WrappingLabel("update-note", kMuted);
    row->addWidget(updateNote_, 1, Qt::AlignVCenter);
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
    addActionButton(row, "log-filter-all", "All", false, [this] { model_.setLogProblemsOnly(false); });
    addActionButton(row, "log-filter-problems", "Problems", false,
                    [this] { model_.setLogProblemsOnly(true); });
    addActionButton(row, "toggle-logs", "Open technical log", false,
                    [this] { model_.setLogsExpanded(!model_.logsExpanded); });
    content->addLayout(row);
    logSummary_ = makeLabel("", kMuted);
    logSummary_->setObjectName("log-summary");
    content->addWidget(logSummary_);
    logList_ = new LogListView;
    content->addWidget(logList_);
    return card;
}

void ContentView::render() {
    const ConnectorViewModel& m = model_;
    setText(runningLabel_, m.runningTitle().isEmpty() ? QString() : "Running: " + m.runningTitle());
    const StatusCards cards = m.statusCards();
    const QList<QPair<StatusCard*, CardView>> shown = {
        {connectorCard_, cards.connector}, {serverCard_, cards.server}, {bindingCard_, cards.binding}};
    for (const auto& [widget, cardView] : shown) {
        widget->setValue(cardView.word, toneColor(cardView.tone));
        widget->setDetail(cardView.detail);
    }

    syncField(tokenField_, m.bindToken);
    showReserved(claimMessage_, m.claimMessage);
    setText(quickState_, "Connector: " + cards.connector.word + " \u2022 Server: " + cards.server.word +
                             " \u2022 Binding: " + cards.binding.word);
    buttons_["toggle-token-details"]->setText(m.tokenDetailsExpanded ? "Hide details" : "Show details");
    detailsHiddenNote_->setVisible(!m.tokenDetailsExpanded);
    detailsPanel_->setVisible(m.tokenDetailsExpanded);
    const QString status = m.statusSummary();
    const QString left = status.isEmpty() ? m.lastServerOutput : status + "\n\n" + m.lastServerOutput;
    QStringList right;
    for (const QString& part : {m.lastBindingOutput, m.lastDisconnectOutput}) {
        if (!part.isEmpty()) right << part;
    }
    detailsPanel_->setBodies(left, right.join("\n\n"));

    renderDraft();
    renderBalance();
    renderOverview();

    showOutcome(updateNote_, m.updateOutcome.text.isEmpty() ? OutcomeLine{"No update action yet", false}
                                                            : m.updateOutcome);
    // Linux installs the package by hand (the note says how); the disk image is for macOS only.
    buttons_["download-update"]->setVisible(!m.updatePlatform.isLinux);
    buttons_["apply-update"]->setVisible(!m.updatePlatform.isLinux);
    buttons_["apply-update"]->setEnabled(m.updateReadyToInstall);
    buttons_["apply-update"]->setProminent(m.updateReadyToInstall);
    buttons_["log-filter-all"]->setProminent(!m.logProblemsOnly);
    buttons_["log-filter-problems"]->setProminent(m.logProblemsOnly);
    buttons_["toggle-logs"]->setText(m.logsExpanded ? "Hide technical log" : "Open technical log");
    renderLogs();
    renderBusy();

    for (auto it = buttons_.begin(); it != buttons_.end(); ++it) {
        it.value()->setPressedLook(m.pressedButtonId == it.key());
    }
}

void ContentView::renderDraft() {
    const ConnectorViewModel& m = model_;
    tabs_->setExchanges(m.exchanges);
    tabs_->setSelectedId(m.selectedItem().id);
    showOutcome(exchangeListMessage_, m.exchangeListMessage);
    const ExchangeCredentialDraft draft = m.selectedDraft();
    syncField(apiKeyField_, draft.apiKey);
    syncField(apiSecretField_, draft.apiSecret);
    syncField(passphraseField_, draft.passphrase);
    passphraseColumn_->setVisible(m.selectedItem().needsPassphrase);
    ActionButton* main = buttons_["validate-save"];
    const QString title = draft.loadedFromVault ? "Update and save keys" : "Validate and save keys";
    if (main->text() != title) {
        main->setText(title);
        main->setAccessibleName(title);
        main->updateGeometry();
    }
    setText(draftStatus_, "Status: " + draft.status);
    setTextColor(draftStatus_, draftStatusColor(draft.status));
    showReserved(draftReason_, {draft.statusReason, draft.statusReasonIsError});
    const OutcomeLine risk = keyRiskLine(draft.risk);
    showOutcome(keyRisk_, risk);
    keyRisk_->setColor(risk.isError ? kError : kAmber);
    const bool confirming = m.pendingDeleteId.has_value();
    deleteConfirm_->setVisible(confirming);
    if (confirming) {
        setText(deleteQuestion_, "Delete the stored keys for " +
                                     itemFor(m.exchanges, *m.pendingDeleteId).name +
                                     "? This cannot be undone.");
    }
}

void ContentView::renderBalance() {
    const auto summary = model_.balanceSummary(model_.selectedExchangeId);
    balanceMissing_->setVisible(!summary);
    balanceBox_->setVisible(summary.has_value());
    if (!summary) return;
    const bool saved = model_.selectedDraft().balanceFromSavedKeys;
    balanceTitle_->setText(saved ? summary->title + " (from the saved keys)" : summary->title);
    balanceValue_->setText(summary->value);
    // One label per line, spaced like the rest of the box.
    while (balanceLines_.size() < summary->lines.size()) {
        auto* line = new WrappingLabel("balance-line", kMuted);
        balanceLayout_->addWidget(line);
        balanceLines_.append(line);
    }
    for (int i = 0; i < balanceLines_.size(); ++i) {
        const bool used = i < summary->lines.size();
        if (used) balanceLines_[i]->setText(summary->lines[i]);
        balanceLines_[i]->setVisible(used);
    }
}

void ContentView::renderOverview() {
    const QList<OverviewRow> rows = model_.overview();
    overviewEmpty_->setVisible(rows.isEmpty());
    // Each row is name, equity, available and key badge; labels are made once and reused.
    while (overviewLabels_.size() < rows.size() + 1) {
        const int line = int(overviewLabels_.size());
        QList<QLabel*> cells;
        for (int column = 0; column < 4; ++column) {
            QLabel* cell = makeLabel("", line == 0 ? kMuted : kHeadline, 0, line == 0 || column == 0);
            cell->setObjectName(QString("overview-%1-%2").arg(line).arg(column));
            overviewGrid_->addWidget(cell, line, column);
            cells.append(cell);
        }
        overviewLabels_.append(cells);
    }
    const QStringList heading = {"Exchange", "Equity", "Available", "Key"};
    for (int line = 0; line < overviewLabels_.size(); ++line) {
        const bool used = !rows.isEmpty() && line <= rows.size();
        for (int column = 0; column < 4; ++column) {
            QLabel* cell = overviewLabels_[line][column];
            cell->setVisible(used);
            if (!used) continue;
            if (line == 0) {
                setText(cell, heading[column]);
                continue;
            }
            const OverviewRow& row = rows[line - 1];
            const QString pending = row.loading ? QString("loading") + QChar(0x2026) : QString("not loaded");
            QString text;
            if (column == 0) text = row.name;
            if (column == 1)
                text = !row.problem.isEmpty() ? row.problem : row.equity.isEmpty() ? pending : row.equity;
            if (column == 2)
                text = row.problem.isEmpty() ? (row.available.isEmpty() ? pending : row.available) : "";
            if (column == 3) text = riskBadge(row.risk);
            setText(cell, text);
            if (column == 1) setTextColor(cell, row.problem.isEmpty() ? kHeadline : kError);
            if (column == 3) setTextColor(cell, riskColor(row.risk));
        }
    }
}

void ContentView::renderLogs() {
    const QList<CommandLogEntry> logs = model_.visibleLogs();
    QString summary = QString::number(model_.logs.size()) + " command log entries available";
    if (model_.logs.isEmpty())
        summary = "No commands run yet";
    else if (model_.logProblemsOnly && logs.isEmpty())
        summary = "No problems among the log's entries";
    setText(logSummary_, summary);
    logSummary_->setVisible(!model_.logsExpanded || logs.isEmpty());
    // The list follows the log whether or not it is shown, one entry at a time, so opening it
    // costs nothing more than drawing what is in view.
    logList_->setEntries(logs);
    logList_->setVisible(model_.logsExpanded && !logs.isEmpty());
}

void ContentView::renderBusy() {
    for (const auto& [indicator, owners] : busyIndicators_) {
        BusyIndicator::State state = BusyIndicator::State::idle;
        for (const QString& owner : owners) {
            if (model_.isRunning(owner)) {
                state = BusyIndicator::State::running;
                break;
            }
            if (model_.isBusy(owner)) state = BusyIndicator::State::queued;
        }
        indicator->setState(state);
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
