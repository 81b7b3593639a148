#pragma once

#include <QMap>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "gui/command_queue.h"
#include "gui/gui_records.h"

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
    static inline const QString kChecking = "checking...";

    explicit ConnectorViewModel(QObject* parent = nullptr);

    // Published state (read-only for the window; changed through the operations below).
    QString bindToken;
    QString selectedExchangeId = "bybit";
    QMap<QString, ExchangeCredentialDraft> exchangeDrafts;
    QString connectorStatus = kChecking;
    QString serverStatus = kChecking;
    QString bindingStatus = kChecking;
    QString lastStatusOutput;
    QString lastServerOutput;
    QString lastBindingOutput;
    QString lastUpdateOutput;
    QList<CommandLogEntry> logs;  // newest first, at most kLogLimit
    bool logsExpanded = false;
    bool tokenDetailsExpanded = false;
    QString lastDisconnectOutput;
    std::optional<QString> pressedButtonId;
    std::shared_ptr<PollTask> statusPollTask;
    QList<ExchangeItem> exchanges;
    // The line under the bind-token field: the last claim's result, or why nothing was claimed;
    // it stays until the user does something else. Empty text when there is none.
    OutcomeLine claimMessage;
    // What the last update command found; empty text before the first one.
    OutcomeLine updateOutcome;

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
    void deleteSelectedExchangeCredentials();
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
    // Returns the owner of the run in progress; empty when none or when it has no owner.
    QString runningOwner() const { return queue_.runningOwner(); }

    // Adds a finished run to the technical log: secrets masked, newest first, oldest dropped
    // beyond kLogLimit.
    void recordRun(const RunResult& result);

    // Returns the title of the command now running; empty when none.
    QString runningTitle() const { return queue_.runningTitle(); }
    // Returns true when no run is queued or running.
    bool isIdle() const { return queue_.isIdle(); }

    // Returns the value after "key=" on the first line of `output` that starts so.
    static std::optional<QString> extractValue(const QString& output, const QString& key);

  signals:
    void changed();

  private:
    void run(const QString& title, const QStringList& arguments, CommandQueue::Callback store = {},
             std::optional<QByteArray> standardInput = std::nullopt);
    void runUpdateCommand(const QString& command);
    void noteUserAction();
    ExchangeCredentialDraft draftFor(const QString& id) const;
    void storeDraft(const QString& id, const ExchangeCredentialDraft& draft);
    void editSelectedDraft(const std::function<void(ExchangeCredentialDraft&)>& edit);
    void startPollingIfStopped();
    void stopPolling();
    void pollIteration(const std::shared_ptr<PollTask>& task);

    CommandQueue queue_;
};

}  // namespace korvane::connector
