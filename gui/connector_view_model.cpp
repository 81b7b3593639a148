#include "gui/connector_view_model.h"

#include <QJsonObject>
#include <QTimer>
#include <QUuid>
#include <algorithm>

#include "gui/balance_summary.h"
#include "gui/claim_reading.h"
#include "gui/exchange_list_reading.h"
#include "gui/health_reading.h"
#include "gui/log_reading.h"
#include "gui/output_text.h"
#include "gui/program_locator.h"
#include "gui/secret_masking.h"
#include "gui/validation_reading.h"

namespace korvane::connector {
namespace {

bool hasLineBreak(const QString& value) {
    return value.contains('\n') || value.contains('\r');
}

bool ranCleanly(const RunResult& result) {
    return result.started && result.exitCode == 0;
}

}  // namespace

ConnectorViewModel::ConnectorViewModel(QObject* parent) : QObject(parent), queue_(&locateConnectorProgram) {
    connect(&queue_, &CommandQueue::runFinished, this, &ConnectorViewModel::recordRun);
    connect(&queue_, &CommandQueue::runFinished, this, &ConnectorViewModel::checkSoonAfterFailure);
    connect(&queue_, &CommandQueue::workChanged, this, &ConnectorViewModel::changed);
    connect(&healthTimer_, &QTimer::timeout, this, &ConnectorViewModel::healthCheck);
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
    const ExchangeItem item = itemFor(exchanges, selectedExchangeId);
    return item.known || exchanges.isEmpty() ? item : exchanges.first();
}

void ConnectorViewModel::editSelectedDraft(const std::function<void(ExchangeCredentialDraft&)>& edit) {
    noteUserAction();
    ExchangeCredentialDraft draft = selectedDraft();
    edit(draft);
    ++draft.editRevision;
    draft.unsavedEdits = true;
    // Whatever was said about the earlier text does not hold for this one.
    if (draft.status != kChecking) {
        draft.status = "not checked";
        draft.statusReason.clear();
        draft.statusReasonIsError = false;
    }
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
    pendingDeleteId.reset();
    emit changed();
    // Only the latest tab's lookup matters: one still waiting for an earlier tab is dropped.
    queue_.dropQueued(kTabsOwner);
    queue_.queueAs(kTabsOwner, [this] { loadSelectedExchangeCredentials(); });
}

void ConnectorViewModel::setLogsExpanded(bool expanded) {
    logsExpanded = expanded;
    emit changed();
}

void ConnectorViewModel::setLogProblemsOnly(bool problemsOnly) {
    logProblemsOnly = problemsOnly;
    emit changed();
}

QList<CommandLogEntry> ConnectorViewModel::visibleLogs() const {
    return logProblemsOnly ? problemsOnly(logs) : logs;
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

void ConnectorViewModel::run(const QString& lane, const QString& title, const QStringList& arguments,
                             std::function<void(const RunResult&)> store,
                             std::optional<QByteArray> standardInput) {
    queue_.run(lane, title, arguments, std::move(store), std::move(standardInput));
}

void ConnectorViewModel::recordRun(const RunResult& result) {
    const QDateTime now = QDateTime::currentDateTime();
    CommandLogEntry entry{QUuid::createUuid(),
                          result.title,
                          maskSecrets(result.output),
                          now,
                          result.exitCode,
                          result.started,
                          1,
                          now};
    // Only the checks that polling repeats fold; every run the user asked for keeps its entry.
    static const QStringList kRepeatedChecks = {"status", "server-health", "bind-status"};
    if (result.lane == kPairingLane && kRepeatedChecks.contains(result.title)) {
        addToLog(logs, entry, kLogLimit);
    } else {
        logs.prepend(entry);
        while (logs.size() > kLogLimit) logs.removeLast();
    }
    emit changed();
}

void ConnectorViewModel::checkSoonAfterFailure(const RunResult& result) {
    // A failure elsewhere may mean the connection went; the cards find out at once instead of
    // at the next idle check. The checks' own failures only mark their cards.
    if (result.lane == kPairingLane || result.lane == kCatalogLane) return;
    CommandLogEntry entry;
    entry.output = result.output;
    entry.exitCode = result.exitCode;
    entry.started = result.started;
    if (!runIsProblem(entry) || failureCheckPending_ || !healthTimer_.isActive()) return;
    failureCheckPending_ = true;
    QTimer::singleShot(0, this, [this] {
        failureCheckPending_ = false;
        healthCheck();
    });
}

void ConnectorViewModel::refreshConnectorStatus() {
    run(kPairingLane, "status", {"status"}, [this](const RunResult& result) {
        lastStatusOutput = result.output;
        const CheckReading reading = readConnectorHealth(result.output, ranCleanly(result));
        connectorProblem = reading.detail;
        if (reading.confirmed) {
            connectorStatus = reading.word;
            connectorConfirmedAt = QDateTime::currentDateTime();
            noteStoredExchanges(result.output);
        } else {
            connectorStatus = "unknown";
        }
        emit changed();
    });
}

void ConnectorViewModel::noteStoredExchanges(const QString& statusOutput) {
    QStringList stored;
    for (const QString& line : statusOutput.split('\n')) {
        if (!line.startsWith("exchange=") || !line.contains(" credentials_present=true")) continue;
        stored << line.mid(9).section(' ', 0, 0);
    }
    const bool added = std::any_of(stored.begin(), stored.end(),
                                   [this](const QString& id) { return !storedExchanges.contains(id); });
    storedExchanges = stored;
    // A newly stored exchange gets its overview row filled without a click.
    if (added) refreshOverview();
}

void ConnectorViewModel::checkServer() {
    run(kPairingLane, "server-health", {"server-health"}, [this](const RunResult& result) {
        lastServerOutput = result.output;
        const CheckReading reading = readServerHealth(result.output, ranCleanly(result));
        serverStatus = reading.word;
        serverProblem = reading.confirmed ? QString() : reading.detail;
        if (reading.confirmed) serverConfirmedAt = QDateTime::currentDateTime();
        emit changed();
    });
}

void ConnectorViewModel::applyBinding(const QString& output, bool cleanly) {
    const BindingReading reading = readBindingStatus(output, cleanly);
    if (reading.confirmed) {
        bindingStatus = reading.word;
        bindingProblem.clear();
        bindingConfirmedAt = QDateTime::currentDateTime();
    } else {
        bindingStatus = "unknown";
        bindingProblem = "The relay could not be asked";
    }
    if (!reading.message.text.isEmpty()) claimMessage = reading.message;
    if (reading.polling == BindingReading::Polling::start) startPollingIfStopped();
    if (reading.polling == BindingReading::Polling::stop) stopPolling();
}

void ConnectorViewModel::checkBindingStatus() {
    run(kPairingLane, "bind-status", {"bind-status"}, [this](const RunResult& result) {
        lastBindingOutput = result.output;
        applyBinding(result.output, ranCleanly(result));
        emit changed();
        refreshConnectorStatus();
    });
}

void ConnectorViewModel::refreshAll() {
    refreshConnectorStatus();
    checkServer();
    checkBindingStatus();
}

void ConnectorViewModel::healthCheck() {
    // A check already waiting or running answers the same question.
    if (queue_.laneBusy(kPairingLane)) return;
    refreshAll();
}

void ConnectorViewModel::claimToken() {
    // A pasted token often carries a stray space or line end; the relay never issues one.
    const QString token = bindToken.trimmed();
    if (token.isEmpty()) {
        claimMessage = {"Paste the bind token from the web app first", true};
        emit changed();
        return;
    }
    if (hasLineBreak(token)) {
        claimMessage = {"The token holds a line break; paste it again without it", true};
        emit changed();
        return;
    }
    // The token goes on the child's standard input, where other local users cannot read it.
    run(
        kPairingLane, "claim-token", {"claim-token", "-"},
        [this](const RunResult& result) {
            const ClaimReading reading = readClaim(result.output);
            lastBindingOutput = result.output;
            bindingStatus = reading.bindingStatus;
            claimMessage = reading.message;
            const OutcomeLine refusal =
                finalTokenRefusal(jsonIn(result.output).toObject().value("reason").toString());
            if (!refusal.text.isEmpty()) claimMessage = refusal;
            emit changed();
            // A failed claim leaves nothing pending, and a poll would only paint over its message.
            if (!reading.message.isError) startPollingIfStopped();
            refreshConnectorStatus();
        },
        token.toUtf8() + '\n');
}

void ConnectorViewModel::disconnectBinding() {
    run(kPairingLane, "disconnect-binding", {"disconnect-binding"}, [this](const RunResult& result) {
        lastDisconnectOutput = result.output;
        bindingStatus = "not bound";
        bindingProblem.clear();
        bindingConfirmedAt = QDateTime::currentDateTime();
        bindToken.clear();
        stopPolling();
        emit changed();
        refreshAll();
    });
}

void ConnectorViewModel::loadExchangeList() {
    run(kCatalogLane, "exchanges", {"exchanges"}, [this](const RunResult& result) {
        const std::optional<ExchangeList> list =
            ranCleanly(result) ? readExchangeList(result.output) : std::nullopt;
        if (!list) {
            exchangeListMessage = {
                "This connector cannot list its exchanges (it may be an older version): "
                "install the current version to get the exchange tabs",
                true};
            emit changed();
            return;
        }
        exchangeListMessage = {};
        exchanges = list->live;
        nameOnlyExchanges = list->nameOnly;
        for (const ExchangeItem& item : exchanges) {
            if (!exchangeDrafts.contains(item.id)) exchangeDrafts.insert(item.id, ExchangeCredentialDraft{});
        }
        const bool offered = itemFor(exchanges, selectedExchangeId).known;
        emit changed();
        if (!offered) setSelectedExchangeId(exchanges.first().id);
    });
}

void ConnectorViewModel::loadSelectedExchangeCredentials() {
    const ExchangeItem item = selectedItem();
    if (item.id.isEmpty()) return;
    run(exchangeLane(item.id), "load-credentials " + item.name, {"load-credentials", item.id},
        [this, id = item.id, revision = draftFor(item.id).editRevision](const RunResult& result) {
            const QString& output = result.output;
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
    if (item.id.isEmpty()) return;
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
        exchangeLane(item.id), "validate " + item.name, arguments,
        [this, id = item.id, name = item.name, revision = draft.editRevision](const RunResult& result) {
            const ValidationReading reading = readValidation(result.output);
            ExchangeCredentialDraft updated = draftFor(id);
            updated.status = reading.status;
            updated.statusReason = reading.reason;
            updated.statusReasonIsError = reading.reasonIsError;
            if (reading.status == "valid") {
                updated.loadedFromVault = reading.saved;
                if (reading.saved) {
                    updated.risk = reading.risk;
                    updated.balanceFromSavedKeys = false;
                }
                // Saved exactly what was sent: nothing typed is left unconfirmed.
                if (reading.saved && updated.editRevision == revision) updated.unsavedEdits = false;
            } else if (updated.loadedFromVault) {
                // A rejected key is never stored: the keys saved earlier stay in use.
                updated.statusReason = oneShortLine(updated.statusReason + ". Saved keys unchanged.", 220);
                updated.balanceFromSavedKeys = updated.balance != "not loaded";
            }
            updated.validationOutput = result.output;
            storeDraft(id, updated);
            if (updated.status == "valid") loadBalance(id, name);
        },
        input);
}

void ConnectorViewModel::requestDeleteSelected() {
    const ExchangeItem item = selectedItem();
    if (item.id.isEmpty()) return;
    pendingDeleteId = item.id;
    emit changed();
}

void ConnectorViewModel::cancelDelete() {
    pendingDeleteId.reset();
    emit changed();
}

void ConnectorViewModel::confirmDelete() {
    // Only the exchange the user confirmed for, even if the tab changed meanwhile.
    if (!pendingDeleteId || *pendingDeleteId != selectedItem().id) {
        cancelDelete();
        return;
    }
    pendingDeleteId.reset();
    emit changed();
    deleteSelectedExchangeCredentials();
}

void ConnectorViewModel::deleteSelectedExchangeCredentials() {
    const ExchangeItem item = selectedItem();
    if (item.id.isEmpty()) return;
    run(exchangeLane(item.id), "delete-credentials " + item.name, {"delete-credentials", item.id},
        [this, id = item.id, revision = draftFor(item.id).editRevision](const RunResult& result) {
            const QString& output = result.output;
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
            storedExchanges.removeAll(id);
            storeDraft(id, cleared);
        });
}

void ConnectorViewModel::loadBalance(std::optional<QString> forId, std::optional<QString> title) {
    const QString id = forId.value_or(selectedItem().id);
    if (id.isEmpty()) return;
    run(exchangeLane(id), "balance " + title.value_or(itemFor(exchanges, id).name), {"balance", id},
        [this, id](const RunResult& result) {
            ExchangeCredentialDraft draft = draftFor(id);
            draft.balance = result.output;
            draft.balanceFromSavedKeys = false;
            storeDraft(id, draft);
        });
}

void ConnectorViewModel::refreshOverview() {
    for (const QString& id : storedExchanges) {
        // One balance per exchange in flight is enough; each runs in its exchange's own lane.
        if (queue_.laneBusy(exchangeLane(id))) continue;
        loadBalance(id);
    }
}

QList<OverviewRow> ConnectorViewModel::overview() const {
    QList<OverviewRow> rows;
    for (const ExchangeItem& item : exchanges) {
        if (!storedExchanges.contains(item.id)) continue;
        const ExchangeCredentialDraft draft = draftFor(item.id);
        OverviewRow row{item.id, item.name, {}, {}, {}, queue_.laneBusy(exchangeLane(item.id)), draft.risk};
        if (const std::optional<AccountFigures> figures = accountFigures(item.id, draft.balance)) {
            row.equity = figures->equity;
            row.available = figures->available;
            row.problem = figures->problem;
        }
        rows.append(row);
    }
    return rows;
}

StatusCards ConnectorViewModel::statusCards() const {
    return composeStatusCards({connectorStatus, connectorConfirmedAt, connectorProblem},
                              {serverStatus, serverConfirmedAt, serverProblem},
                              {bindingStatus, bindingConfirmedAt, bindingProblem});
}

QString ConnectorViewModel::statusSummary() const {
    QStringList kept;
    for (const QString& line : lastStatusOutput.split('\n')) {
        const QString name = line.startsWith("exchange=") ? line.mid(9).section(' ', 0, 0) : QString();
        if (!name.isEmpty() && nameOnlyExchanges.contains(name)) continue;
        kept << line;
    }
    return kept.join('\n');
}

void ConnectorViewModel::runUpdateCommand(const QString& command) {
    updateOutcome = updateInProgress(command);
    if (command != "update-apply") updateReadyToInstall = false;
    emit changed();
    run(kUpdatesLane, command, {command}, [this, command](const RunResult& result) {
        lastUpdateOutput = result.output;
        const UpdateReading reading = readUpdate(command, result.output, updatePlatform);
        updateOutcome = reading.line;
        if (command == "update-download") updateReadyToInstall = reading.readyToInstall;
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
    loadExchangeList();
    refreshAll();
    startPollingIfStopped();
    // With the tabs already known the lookup need not wait for the list.
    if (!exchanges.isEmpty()) queue_.queueAs(kTabsOwner, [this] { loadSelectedExchangeCredentials(); });
    healthTimer_.start(healthIntervalMs);
}

void ConnectorViewModel::windowClosed() {
    stopPolling();
    healthTimer_.stop();
}

void ConnectorViewModel::pressButton(const QString& buttonId, const std::function<void()>& action) {
    noteUserAction();
    // A second click on a button whose work is still waiting or running would only repeat it.
    if (queue_.hasWorkFor(buttonId)) return;
    pressedButtonId = buttonId;
    emit changed();
    queue_.queueAs(buttonId, action);
    queue_.whenOwnerIdle(buttonId, [this, buttonId] {
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
    // The pause starts once this iteration's runs, and what they led to, are done.
    queue_.afterQueuedWork(kPairingLane, [this, task] {
        if (task->cancelled) return;
        QTimer::singleShot(pollIntervalMs, this, [this, task] { pollIteration(task); });
    });
}

}  // namespace korvane::connector
