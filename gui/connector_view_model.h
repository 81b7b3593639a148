#pragma once

#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include "gui/command_queue.h"
#include "gui/gui_records.h"
#include "gui/status_cards.h"
#include "gui/update_reading.h"

namespace korvane::connector {

// All of the window's state, and every run of korvane-connector the window asks for. The
// window reads the public fields, edits a few through the setters, and re-renders on changed().
class ConnectorViewModel : public QObject {
    Q_OBJECT

  public:
    // A running status-polling loop; cancelling it ends the loop at its next check.
    struct PollTask {
        bool cancelled = false;
    };

    // The technical log keeps this many of the newest entries.
    static constexpr int kLogLimit = 200;
    // The owner of the lookups that choosing a tab starts (buttons own runs under their ids).
    static inline const QString kTabsOwner = "exchange-tabs";
    // The word every status shows until its first answer arrives.
    static inline const QString kChecking = kCheckingWord;

    explicit ConnectorViewModel(QObject* parent = nullptr);

    // Lanes: runs in one lane go one at a time, in order; lanes run side by side.
    static inline const QString kPairingLane = "pairing";  // status, server, binding checks and changes
    static inline const QString kUpdatesLane = "updates";
    static inline const QString kCatalogLane = "catalog";  // the connector's exchange list
    // Returns the lane of everything that talks to the exchange `id`.
    static QString exchangeLane(const QString& id) { return "exchange:" + id; }

    // Published state (read-only for the window; changed through the operations below).
    QString bindToken;
    QString selectedExchangeId;
    QMap<QString, ExchangeCredentialDraft> exchangeDrafts;
    QString connectorStatus = kChecking;
    QString serverStatus = kChecking;
    QString bindingStatus = kChecking;
    // When each card's word was last confirmed by an answer (invalid before the first), and why
    // its last check failed (empty when it did not).
    QDateTime connectorConfirmedAt;
    QDateTime serverConfirmedAt;
    QDateTime bindingConfirmedAt;
    QString connectorProblem;
    QString serverProblem;
    QString bindingProblem;
    QString lastStatusOutput;
    QString lastServerOutput;
    QString lastBindingOutput;
    QString lastUpdateOutput;
    QList<CommandLogEntry> logs;  // newest first, at most kLogLimit; repeated results folded
    bool logsExpanded = false;
    bool logProblemsOnly = false;
    bool tokenDetailsExpanded = false;
    QString lastDisconnectOutput;
    std::optional<QString> pressedButtonId;
    std::shared_ptr<PollTask> statusPollTask;
    // The live exchanges the connector offers, in its order; empty until "exchanges" answered.
    QList<ExchangeItem> exchanges;
    QStringList nameOnlyExchanges;
    // Why the exchange list could not be read (an older connector); empty text when it was.
    OutcomeLine exchangeListMessage;
    // The exchanges with stored keys, as the last "status" listed them.
    QStringList storedExchanges;
    // The line under the bind-token field: the last claim's result, or why nothing was claimed;
    // it stays until the user does something else. Empty text when there is none.
    OutcomeLine claimMessage;
    // What the last update command found; empty text before the first one.
    OutcomeLine updateOutcome;
    // The platform the update advice is for, and whether a verified download waits to be installed.
    UpdatePlatform updatePlatform = currentUpdatePlatform();
    bool updateReadyToInstall = false;
    // The exchange whose stored keys wait for the user's confirmation to be deleted.
    std::optional<QString> pendingDeleteId;
    // Pauses between status checks while idle, and between polls while a signature is pending.
    int healthIntervalMs = 30000;
    int pollIntervalMs = 3000;

    // Returns the draft of the selected tab, or the default draft.
    ExchangeCredentialDraft selectedDraft() const;
    // Returns the selected exchange item, or the first one when the id matches none.
    ExchangeItem selectedItem() const;
    QString selectedApiKey() const { return selectedDraft().apiKey; }
    QString selectedApiSecret() const { return selectedDraft().apiSecret; }
    QString selectedPassphrase() const { return selectedDraft().passphrase; }
    // The user's edits of the selected tab's fields.
    void setSelectedApiKey(const QString& value);
    void setSelectedApiSecret(const QString& value);
    void setSelectedPassphrase(const QString& value);
    void setBindToken(const QString& value);
    // Selects a tab; choosing another tab loads that exchange's stored credentials.
    void setSelectedExchangeId(const QString& id);
    void setLogsExpanded(bool expanded);
    void setTokenDetailsExpanded(bool expanded);

    // Commands; each queues its run(s) of korvane-connector.
    void refreshConnectorStatus();
    void checkServer();
    void checkBindingStatus();
    void refreshAll();
    void claimToken();
    void disconnectBinding();
    void loadSelectedExchangeCredentials();
    void validateSelectedExchange();
    // Asks for confirmation before deleting the selected exchange's stored keys; confirmDelete
    // deletes them, cancelDelete forgets the request.
    void requestDeleteSelected();
    void confirmDelete();
    void cancelDelete();
    void deleteSelectedExchangeCredentials();
    // Runs "exchanges" and builds the tabs from its answer.
    void loadExchangeList();
    // Loads the balance of every exchange with stored keys, each in its own lane.
    void refreshOverview();
    // Runs the idle status checks ("status", "server-health" and "bind-status") unless the pairing
    // lane is busy.
    void healthCheck();
    void setLogProblemsOnly(bool problemsOnly);
    // Returns the log entries the window shows under the current filter.
    QList<CommandLogEntry> visibleLogs() const;
    // Returns the overview rows: one per stored live exchange, in tab order.
    QList<OverviewRow> overview() const;
    // Returns the three status cards as the window draws them.
    StatusCards statusCards() const;
    // Returns the status output as the details panel shows it: without the lines of exchanges
    // the window does not offer.
    QString statusSummary() const;
    void loadBalance(std::optional<QString> forId = std::nullopt,
                     std::optional<QString> title = std::nullopt);
    void checkUpdate();
    void downloadUpdate();
    void applyUpdate();

    // Returns the balance card's reading of the stored balance of `forId`; empty when none.
    std::optional<ParsedBalanceView> balanceSummary(const QString& forId) const;

    // Window lifecycle.
    void windowShown();
    void windowClosed();

    // A press of the button `buttonId`: ignored while runs it asked for are still queued or
    // running. Otherwise shows it pressed, runs `action` (its runs belong to the button), and
    // lifts the pressed look 0.15 seconds after the work it queued is done (unless another
    // button was pressed meanwhile).
    void pressButton(const QString& buttonId, const std::function<void()>& action);
    // Returns true when runs that `owner` (a button id, or kTabsOwner) asked for are queued or running.
    bool isBusy(const QString& owner) const { return queue_.hasWorkFor(owner); }
    // Returns true when a run that `owner` asked for is running now.
    bool isRunning(const QString& owner) const { return queue_.isRunning(owner); }
    // Returns true when a run is queued or running in `lane`.
    bool laneBusy(const QString& lane) const { return queue_.laneBusy(lane); }

    // Adds a finished run to the technical log: secrets masked, newest first, a repeat of a
    // recent identical result counted in that entry, oldest dropped beyond kLogLimit.
    void recordRun(const RunResult& result);

    // Returns the titles of the commands now running, joined; empty when none.
    QString runningTitle() const { return queue_.runningTitles().join(", "); }
    // Returns true when no run is queued or running.
    bool isIdle() const { return queue_.isIdle(); }

    // Returns the value after "key=" on the first line of `output` that starts so.
    static std::optional<QString> extractValue(const QString& output, const QString& key);

  signals:
    void changed();

  private:
    void run(const QString& lane, const QString& title, const QStringList& arguments,
             std::function<void(const RunResult&)> store = {},
             std::optional<QByteArray> standardInput = std::nullopt);
    void applyBinding(const QString& output, bool ranCleanly);
    void noteStoredExchanges(const QString& statusOutput);
    void checkSoonAfterFailure(const RunResult& result);
    void runUpdateCommand(const QString& command);
    void noteUserAction();
    ExchangeCredentialDraft draftFor(const QString& id) const;
    void storeDraft(const QString& id, const ExchangeCredentialDraft& draft);
    void editSelectedDraft(const std::function<void(ExchangeCredentialDraft&)>& edit);
    void startPollingIfStopped();
    void stopPolling();
    void pollIteration(const std::shared_ptr<PollTask>& task);

    CommandQueue queue_;
    QTimer healthTimer_;
    bool failureCheckPending_ = false;
};

}  // namespace korvane::connector
