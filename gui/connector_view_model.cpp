#include "gui/connector_view_model.h"

#include <QTimer>
#include <QUuid>

#include "gui/balance_summary.h"
#include "gui/claim_reading.h"
#include "gui/output_text.h"
#include "gui/program_locator.h"
#include "gui/secret_masking.h"
#include "gui/update_reading.h"
#include "gui/validation_reading.h"

namespace korvane::connector {
namespace {

bool hasLineBreak(const QString& value) {
    return value.contains('\n') || value.contains('\r');
}

}  // namespace

QList<ExchangeItem> defaultExchangeItems() {
    return {{"bybit", "Bybit", false}, {"okx", "OKX", true},       {"gate", "Gate", false},
            {"bingx", "BingX", false}, {"kucoin", "KuCoin", true}, {"bitget", "Bitget", true}};
}

ConnectorViewModel::ConnectorViewModel(QObject* parent)
    : QObject(parent), exchanges(defaultExchangeItems()), queue_(&locateConnectorProgram) {
    for (const ExchangeItem& item : exchanges) exchangeDrafts.insert(item.id, ExchangeCredentialDraft{});
    connect(&queue_, &CommandQueue::runFinished, this, &ConnectorViewModel::recordRun);
    connect(&queue_, &CommandQueue::runningTitleChanged, this, &ConnectorViewModel::changed);
    connect(&queue_, &CommandQueue::workChanged, this, &ConnectorViewModel::changed);
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

void ConnectorViewModel::editSelectedDraft(const std::function<void(ExchangeCredentialDraft&)>& edit) {
    noteUserAction();
    ExchangeCredentialDraft draft = selectedDraft();
    edit(draft);
    ++draft.editRevision;
    draft.unsavedEdits = true;
    storeDraft(selectedExchangeId, draft);
}

void ConnectorViewModel::setSelectedApiKey(const QString& value) {
    editSelectedDraft([&value](ExchangeCredentialDraft& draft) { draft.apiKey = value; });
}

void ConnectorViewModel::setSelectedApiSecret(const QString& value) {
    editSelectedDraft([&value](ExchangeCredentialDraft& draft) { draft.apiSecret = value; });
}

void ConnectorViewModel::setSelectedPassphrase(const QString& value) {
    editSelectedDraft([&value](ExchangeCredentialDraft& draft) { draft.passphrase = value; });
}

void ConnectorViewModel::setBindToken(const QString& value) {
    noteUserAction();
    bindToken = value;
    emit changed();
}

void ConnectorViewModel::setSelectedExchangeId(const QString& id) {
    if (id == selectedExchangeId) return;
    noteUserAction();
    selectedExchangeId = id;
    emit changed();
    queue_.queueAs(kTabsOwner, [this] { loadSelectedExchangeCredentials(); });
}

void ConnectorViewModel::setLogsExpanded(bool expanded) {
    logsExpanded = expanded;
    emit changed();
}

void ConnectorViewModel::setTokenDetailsExpanded(bool expanded) {
    tokenDetailsExpanded = expanded;
    emit changed();
}

void ConnectorViewModel::noteUserAction() {
    // A claim's message answers the click that asked for it; whatever the user does next
    // makes it stale.
    if (claimMessage.text.isEmpty()) return;
    claimMessage = {};
    emit changed();
}

void ConnectorViewModel::run(const QString& title, const QStringList& arguments, CommandQueue::Callback store,
                             std::optional<QByteArray> standardInput) {
    queue_.run(title, arguments, std::move(store), std::move(standardInput));
}

void ConnectorViewModel::recordRun(const RunResult& result) {
    logs.prepend(CommandLogEntry{QUuid::createUuid(), result.title, maskSecrets(result.output),
                                 QDateTime::currentDateTime(), result.exitCode, result.started});
    while (logs.size() > kLogLimit) logs.removeLast();
    emit changed();
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
    // A pasted token often carries a stray space or line end; the relay never issues one.
    const QString token = bindToken.trimmed();
    if (token.isEmpty()) {
        claimMessage = {"Paste the bind token from the web app first", true};
        emit changed();
        return;
    }
    run("claim-token", {"claim-token", token}, [this](const QString& output) {
        const ClaimReading reading = readClaim(output);
        lastBindingOutput = output;
        bindingStatus = reading.bindingStatus;
        claimMessage = reading.message;
        emit changed();
        // A failed claim leaves nothing pending, and a poll would only paint over its message.
        if (!reading.message.isError) startPollingIfStopped();
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
        [this, id = item.id, revision = draftFor(item.id).editRevision](const QString& output) {
            ExchangeCredentialDraft draft = draftFor(id);
            if (!output.contains("status=ok")) return;  // nothing stored: what was typed stays
            draft.loadedFromVault = true;
            // Typing that the store has not confirmed, or that came after this lookup was
            // asked for, is the user's and wins over the stored values.
            if (!draft.unsavedEdits && draft.editRevision == revision) {
                draft.apiKey = extractValue(output, "api_key").value_or(draft.apiKey);
                draft.apiSecret = extractValue(output, "api_secret").value_or(draft.apiSecret);
                draft.passphrase = extractValue(output, "passphrase").value_or(draft.passphrase);
            }
            storeDraft(id, draft);
        });
}

void ConnectorViewModel::validateSelectedExchange() {
    const ExchangeItem item = selectedItem();
    ExchangeCredentialDraft draft = selectedDraft();
    const bool sendPassphrase = item.needsPassphrase && !draft.passphrase.isEmpty();
    // The credentials travel one per line on the child's standard input, never in its
    // arguments, where any local user could read them while it runs.
    if (hasLineBreak(draft.apiKey) || hasLineBreak(draft.apiSecret) ||
        (sendPassphrase && hasLineBreak(draft.passphrase))) {
        draft.status = "invalid";
        draft.statusReason = "A field holds a line break; paste the value again without it";
        draft.statusReasonIsError = true;
        storeDraft(item.id, draft);
        return;
    }
    QStringList arguments = {"validate", item.id, "-", "-"};
    QByteArray input = draft.apiKey.toUtf8() + '\n' + draft.apiSecret.toUtf8() + '\n';
    if (sendPassphrase) {
        arguments << "-";
        input += draft.passphrase.toUtf8() + '\n';
    }
    draft.status = kChecking;
    draft.statusReason.clear();
    draft.statusReasonIsError = false;
    storeDraft(item.id, draft);
    run(
        "validate " + item.name, arguments,
        [this, id = item.id, name = item.name, revision = draft.editRevision](const QString& output) {
            const ValidationReading reading = readValidation(output);
            ExchangeCredentialDraft updated = draftFor(id);
            updated.status = reading.status;
            updated.statusReason = reading.reason;
            updated.statusReasonIsError = reading.reasonIsError;
            if (reading.status == "valid") {
                updated.loadedFromVault = reading.saved;
                // Saved exactly what was sent: nothing typed is left unconfirmed.
                if (reading.saved && updated.editRevision == revision) updated.unsavedEdits = false;
            }
            updated.validationOutput = output;
            storeDraft(id, updated);
            if (updated.status == "valid") loadBalance(id, name);
        },
        input);
}

void ConnectorViewModel::deleteSelectedExchangeCredentials() {
    const ExchangeItem item = selectedItem();
    run("delete-credentials " + item.name, {"delete-credentials", item.id},
        [this, id = item.id, revision = draftFor(item.id).editRevision](const QString& output) {
            ExchangeCredentialDraft current = draftFor(id);
            const std::optional<QString> removed = extractValue(output, "removed");
            if (removed != QString("true")) {
                // Something still holds the keys (or the connector did not run): say so and
                // keep the draft as it is.
                QString detail = firstShortLine(output, 100);
                if (removed) detail = "a store still holds them";
                if (output.startsWith("failed to run connector: ")) detail = "could not run the connector";
                if (detail.isEmpty()) detail = "no answer";
                current.status = "error";
                current.statusReason = "Could not delete the stored keys: " + detail;
                current.statusReasonIsError = true;
                storeDraft(id, current);
                return;
            }
            ExchangeCredentialDraft cleared;
            cleared.status = "not configured";
            cleared.validationOutput = "credentials deleted";
            cleared.editRevision = current.editRevision;
            if (current.editRevision != revision) {
                // Typed after pressing Delete: that is a new draft, not the deleted keys.
                cleared.apiKey = current.apiKey;
                cleared.apiSecret = current.apiSecret;
                cleared.passphrase = current.passphrase;
                cleared.unsavedEdits = true;
            }
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
    updateOutcome = updateInProgress(command);
    emit changed();
    run(command, {command}, [this, command](const QString& output) {
        lastUpdateOutput = output;
        updateOutcome = readUpdateOutcome(command, output);
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
    queue_.queueAs(kTabsOwner, [this] { loadSelectedExchangeCredentials(); });
}

void ConnectorViewModel::windowClosed() {
    stopPolling();
}

void ConnectorViewModel::pressButton(const QString& buttonId, const std::function<void()>& action) {
    noteUserAction();
    // A second click on a button whose work is still waiting or running would only repeat it.
    if (queue_.hasWorkFor(buttonId)) return;
    pressedButtonId = buttonId;
    emit changed();
    queue_.queueAs(buttonId, action);
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
    return lineValue(output, key);
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
