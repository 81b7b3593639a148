#include "gui/connector_view_model.h"

#include <QTimer>
#include <QUuid>

#include "gui/balance_summary.h"
#include "gui/program_locator.h"

namespace korvane::connector {

QList<ExchangeItem> defaultExchangeItems() {
    return {{"bybit", "Bybit", false}, {"okx", "OKX", true},       {"gate", "Gate", false},
            {"bingx", "BingX", false}, {"kucoin", "KuCoin", true}, {"bitget", "Bitget", true}};
}

ConnectorViewModel::ConnectorViewModel(QObject* parent)
    : QObject(parent), exchanges(defaultExchangeItems()), queue_(&locateConnectorProgram) {
    for (const ExchangeItem& item : exchanges) exchangeDrafts.insert(item.id, ExchangeCredentialDraft{});
    connect(&queue_, &CommandQueue::runFinished, this, [this](const QString& title, const QString& output) {
        logs.prepend(CommandLogEntry{QUuid::createUuid(), title, output});
        emit changed();
    });
    connect(&queue_, &CommandQueue::runningTitleChanged, this, &ConnectorViewModel::changed);
}

ExchangeCredentialDraft ConnectorViewModel::draftFor(const QString& id) const {
    return exchangeDrafts.value(id, ExchangeCredentialDraft{});
}

void ConnectorViewModel::storeDraft(const QString& id, const ExchangeCredentialDraft& draft) {
    exchangeDrafts.insert(id, draft);
    emit changed();
}

ExchangeCredentialDraft ConnectorViewModel::selectedDraft() const {
    return draftFor(selectedExchangeId);
}

ExchangeItem ConnectorViewModel::selectedItem() const {
    for (const ExchangeItem& item : exchanges) {
        if (item.id == selectedExchangeId) return item;
    }
    return exchanges.value(0);
}

void ConnectorViewModel::setSelectedApiKey(const QString& value) {
    ExchangeCredentialDraft draft = selectedDraft();
    draft.apiKey = value;
    storeDraft(selectedExchangeId, draft);
}

void ConnectorViewModel::setSelectedApiSecret(const QString& value) {
    ExchangeCredentialDraft draft = selectedDraft();
    draft.apiSecret = value;
    storeDraft(selectedExchangeId, draft);
}

void ConnectorViewModel::setSelectedPassphrase(const QString& value) {
    ExchangeCredentialDraft draft = selectedDraft();
    draft.passphrase = value;
    storeDraft(selectedExchangeId, draft);
}

void ConnectorViewModel::setBindToken(const QString& value) {
    bindToken = value;
    emit changed();
}

void ConnectorViewModel::setSelectedExchangeId(const QString& id) {
    if (id == selectedExchangeId) return;
    selectedExchangeId = id;
    emit changed();
    loadSelectedExchangeCredentials();
}

void ConnectorViewModel::setLogsExpanded(bool expanded) {
    logsExpanded = expanded;
    emit changed();
}

void ConnectorViewModel::setTokenDetailsExpanded(bool expanded) {
    tokenDetailsExpanded = expanded;
    emit changed();
}

void ConnectorViewModel::run(const QString& title, const QStringList& arguments,
                             CommandQueue::Callback store) {
    queue_.run(title, arguments, std::move(store));
}

void ConnectorViewModel::refreshConnectorStatus() {
    run("status", {"status"}, [this](const QString& output) {
        lastStatusOutput = output;
        if (output.contains("connector_health=ready")) {
            connectorStatus = "ready";
        } else if (output.contains("connector_health=pairing_required")) {
            connectorStatus = "pairing required";
        } else {
            connectorStatus = "starting";
        }
        emit changed();
    });
}

void ConnectorViewModel::checkServer() {
    run("server-health", {"server-health"}, [this](const QString& output) {
        lastServerOutput = output;
        if (output.contains("\"reachable\":true")) {
            serverStatus = "reachable";
        } else if (output.contains("\"reachable\":false")) {
            serverStatus = "unreachable";
        } else {
            serverStatus = "unknown";
        }
        emit changed();
    });
}

void ConnectorViewModel::checkBindingStatus() {
    run("bind-status", {"bind-status"}, [this](const QString& output) {
        lastBindingOutput = output;
        if (output.contains("\"bindState\":\"authorized\"") ||
            output.contains("\"pairingStatus\":\"bound\"")) {
            bindingStatus = "authorized";
            stopPolling();
        } else if (output.contains("pending_signature")) {
            bindingStatus = "pending signature";
            startPollingIfStopped();
        } else if (output.contains("token_waiting")) {
            bindingStatus = "token waiting";
            stopPolling();
        } else {
            bindingStatus = "not bound";
            stopPolling();
        }
        emit changed();
        refreshConnectorStatus();
    });
}

void ConnectorViewModel::refreshAll() {
    refreshConnectorStatus();
    checkServer();
    checkBindingStatus();
}

void ConnectorViewModel::claimToken() {
    if (bindToken.isEmpty()) return;
    run("claim-token", {"claim-token", bindToken}, [this](const QString& output) {
        lastBindingOutput = output;
        if (output.contains("pending_signature")) {
            bindingStatus = "pending signature";
        } else if (output.contains("\"status\":\"ok\"")) {
            bindingStatus = "claimed";
        } else {
            bindingStatus = "claim failed";
        }
        emit changed();
        startPollingIfStopped();
        refreshConnectorStatus();
    });
}

void ConnectorViewModel::disconnectBinding() {
    run("disconnect-binding", {"disconnect-binding"}, [this](const QString& output) {
        lastDisconnectOutput = output;
        bindingStatus = "not bound";
        bindToken.clear();
        stopPolling();
        emit changed();
        refreshAll();
    });
}

void ConnectorViewModel::loadSelectedExchangeCredentials() {
    const ExchangeItem item = selectedItem();
    run("load-credentials " + item.name, {"load-credentials", item.id},
        [this, id = item.id](const QString& output) {
            ExchangeCredentialDraft draft = draftFor(id);
            if (output.contains("status=ok")) {
                draft.apiKey = extractValue(output, "api_key").value_or(draft.apiKey);
                draft.apiSecret = extractValue(output, "api_secret").value_or(draft.apiSecret);
                draft.passphrase = extractValue(output, "passphrase").value_or(draft.passphrase);
                draft.loadedFromVault = true;
            } else if (!draft.loadedFromVault) {
                // Nothing stored and nothing loaded before: what was typed goes.
                draft = ExchangeCredentialDraft{};
            }
            storeDraft(id, draft);
        });
}

void ConnectorViewModel::validateSelectedExchange() {
    const ExchangeItem item = selectedItem();
    const ExchangeCredentialDraft draft = selectedDraft();
    QStringList arguments = {"validate", item.id, draft.apiKey, draft.apiSecret};
    if (item.needsPassphrase && !draft.passphrase.isEmpty()) arguments << draft.passphrase;
    run("validate " + item.name, arguments, [this, id = item.id, name = item.name](const QString& output) {
        ExchangeCredentialDraft updated = draftFor(id);
        const bool saved = output.contains("credentials_saved=true");
        if (output.contains("status=valid_trade_ready") || output.contains("status=valid_read_only")) {
            updated.status = "valid";
            updated.loadedFromVault = saved;
        } else if (output.contains("status=configured")) {
            updated.status = "adapter exists, live validation pending";
        } else if (output.contains("status=invalid")) {
            updated.status = "invalid";
        } else if (output.contains("status=error")) {
            updated.status = "error";
        } else {
            updated.status = "unknown";
        }
        updated.validationOutput = output;
        storeDraft(id, updated);
        if (updated.status == "valid") loadBalance(id, name);
    });
}

void ConnectorViewModel::deleteSelectedExchangeCredentials() {
    const ExchangeItem item = selectedItem();
    run("delete-credentials " + item.name, {"delete-credentials", item.id},
        [this, id = item.id](const QString&) {
            ExchangeCredentialDraft cleared;
            cleared.status = "not configured";
            cleared.validationOutput = "credentials deleted";
            storeDraft(id, cleared);
        });
}

void ConnectorViewModel::loadBalance(std::optional<QString> forId, std::optional<QString> title) {
    const QString id = forId.value_or(selectedItem().id);
    run("balance " + title.value_or(selectedItem().name), {"balance", id}, [this, id](const QString& output) {
        ExchangeCredentialDraft draft = draftFor(id);
        draft.balance = output;
        storeDraft(id, draft);
    });
}

void ConnectorViewModel::runUpdateCommand(const QString& command) {
    // The update answers are only shown in the technical log; the window notes that one came.
    run(command, {command}, [this](const QString& output) {
        lastUpdateOutput = output;
        emit changed();
    });
}

void ConnectorViewModel::checkUpdate() {
    runUpdateCommand("update-check");
}

void ConnectorViewModel::downloadUpdate() {
    runUpdateCommand("update-download");
}

void ConnectorViewModel::applyUpdate() {
    runUpdateCommand("update-apply");
}

std::optional<ParsedBalanceView> ConnectorViewModel::balanceSummary(const QString& forId) const {
    if (!exchangeDrafts.contains(forId)) return std::nullopt;
    return summarizeBalance(forId, exchangeDrafts.value(forId).balance);
}

void ConnectorViewModel::windowShown() {
    refreshAll();
    startPollingIfStopped();
    loadSelectedExchangeCredentials();
}

void ConnectorViewModel::windowClosed() {
    stopPolling();
}

void ConnectorViewModel::pressButton(const QString& buttonId, const std::function<void()>& action) {
    pressedButtonId = buttonId;
    emit changed();
    action();
    queue_.afterQueuedWork([this, buttonId] {
        QTimer::singleShot(150, this, [this, buttonId] {
            if (pressedButtonId == buttonId) {
                pressedButtonId.reset();
                emit changed();
            }
        });
    });
}

std::optional<QString> ConnectorViewModel::extractValue(const QString& output, const QString& key) {
    const QString prefix = key + "=";
    for (const QString& line : output.split('\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(prefix)) return line.mid(prefix.size());
    }
    return std::nullopt;
}

void ConnectorViewModel::startPollingIfStopped() {
    if (statusPollTask) return;
    statusPollTask = std::make_shared<PollTask>();
    // The first iteration follows whatever the caller is queueing right now.
    QTimer::singleShot(0, this, [this, task = statusPollTask] { pollIteration(task); });
}

void ConnectorViewModel::stopPolling() {
    if (statusPollTask) statusPollTask->cancelled = true;
    statusPollTask.reset();
}

void ConnectorViewModel::pollIteration(const std::shared_ptr<PollTask>& task) {
    if (task->cancelled) return;
    refreshAll();
    // The three seconds start once this iteration's runs, and what they led to, are done.
    queue_.afterQueuedWork([this, task] {
        if (task->cancelled) return;
        QTimer::singleShot(3000, this, [this, task] { pollIteration(task); });
    });
}

}  // namespace korvane::connector
