#pragma once

#include <QMap>
#include <QWidget>

#include "gui/connector_view_model.h"

class QFrame;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace korvane::connector {

class ActionButton;
class BusyIndicator;
class DualPanel;
class ExchangeTabs;
class LogListView;
class StatusCard;
class WrappingLabel;

// The one window: header, status cards, and the bind, exchange, updates and log cards. It holds
// no state of its own; everything shown is recomputed from the view model on every change.
class ContentView : public QWidget {
    Q_OBJECT

  public:
    // Small enough for a 1366 x 768 screen once the title bar and the system's bars are taken;
    // the page scrolls for the rest.
    static constexpr QSize kMinimumSize{900, 600};
    static constexpr QSize kPreferredSize{1120, 760};

    explicit ContentView(QWidget* parent = nullptr);

    ConnectorViewModel& model() { return model_; }
    // Returns the action button with `id` (for example "claim-token"); null when none.
    ActionButton* actionButton(const QString& id) const { return buttons_.value(id); }

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    ActionButton* addActionButton(QLayout* layout, const QString& id, const QString& title, bool prominent,
                                  std::function<void()> action);
    BusyIndicator* addBusyIndicator(QLayout* layout, const QString& objectName, const QStringList& owners);
    QWidget* buildHeader();
    QWidget* buildBindCard();
    QWidget* buildExchangeCard();
    QWidget* buildUpdatesCard();
    QWidget* buildOverviewCard();
    QWidget* buildLogCard();
    void render();
    void renderDraft();
    void renderBalance();
    void renderLogs();
    void renderOverview();
    void renderBusy();

    ConnectorViewModel model_;
    bool shownOnce_ = false;
    QMap<QString, ActionButton*> buttons_;
    QList<QPair<BusyIndicator*, QStringList>> busyIndicators_;  // each with the owners it watches
    QScrollArea* scroll_ = nullptr;
    QLabel* runningLabel_ = nullptr;
    StatusCard* connectorCard_ = nullptr;
    StatusCard* serverCard_ = nullptr;
    StatusCard* bindingCard_ = nullptr;
    QLineEdit* tokenField_ = nullptr;
    WrappingLabel* claimMessage_ = nullptr;
    QLabel* quickState_ = nullptr;
    QLabel* detailsHiddenNote_ = nullptr;
    DualPanel* detailsPanel_ = nullptr;
    ExchangeTabs* tabs_ = nullptr;
    QLineEdit* apiKeyField_ = nullptr;
    QLineEdit* apiSecretField_ = nullptr;
    QLineEdit* passphraseField_ = nullptr;
    QWidget* passphraseColumn_ = nullptr;
    QLabel* draftStatus_ = nullptr;
    WrappingLabel* draftReason_ = nullptr;
    QWidget* balanceBox_ = nullptr;
    QVBoxLayout* balanceLayout_ = nullptr;
    WrappingLabel* balanceTitle_ = nullptr;
    WrappingLabel* balanceValue_ = nullptr;
    QList<WrappingLabel*> balanceLines_;
    QLabel* balanceMissing_ = nullptr;
    WrappingLabel* exchangeListMessage_ = nullptr;
    WrappingLabel* keyRisk_ = nullptr;
    QFrame* deleteConfirm_ = nullptr;
    QLabel* deleteQuestion_ = nullptr;
    QLabel* overviewEmpty_ = nullptr;
    QGridLayout* overviewGrid_ = nullptr;
    QList<QList<QLabel*>> overviewLabels_;
    WrappingLabel* updateNote_ = nullptr;
    QLabel* logSummary_ = nullptr;
    LogListView* logList_ = nullptr;
};

}  // namespace korvane::connector
