#pragma once

#include <QMap>
#include <QWidget>

#include "gui/connector_view_model.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace korvane::connector {

class ActionButton;
class DualPanel;
class ExchangeTabs;
class StatusCard;

// The one window: header, status cards, and the bind, exchange, updates and log cards. It holds
// no state of its own; everything shown is recomputed from the view model on every change.
class ContentView : public QWidget {
    Q_OBJECT

  public:
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
    QWidget* buildHeader();
    QWidget* buildBindCard();
    QWidget* buildExchangeCard();
    QWidget* buildUpdatesCard();
    QWidget* buildLogCard();
    void render();
    void renderBalance();
    void renderLogs();

    ConnectorViewModel model_;
    bool shownOnce_ = false;
    QMap<QString, ActionButton*> buttons_;
    QLabel* runningLabel_ = nullptr;
    StatusCard* connectorCard_ = nullptr;
    StatusCard* serverCard_ = nullptr;
    StatusCard* bindingCard_ = nullptr;
    QLineEdit* tokenField_ = nullptr;
    QLabel* quickState_ = nullptr;
    QLabel* detailsHiddenNote_ = nullptr;
    DualPanel* detailsPanel_ = nullptr;
    ExchangeTabs* tabs_ = nullptr;
    QLineEdit* apiKeyField_ = nullptr;
    QLineEdit* apiSecretField_ = nullptr;
    QLineEdit* passphraseField_ = nullptr;
    QWidget* passphraseColumn_ = nullptr;
    QLabel* draftStatus_ = nullptr;
    QWidget* balanceBox_ = nullptr;
    QLabel* balanceTitle_ = nullptr;
    QLabel* balanceValue_ = nullptr;
    QLabel* balanceLines_ = nullptr;
    QLabel* balanceMissing_ = nullptr;
    QLabel* updateNote_ = nullptr;
    QLabel* logSummary_ = nullptr;
    QWidget* logEntries_ = nullptr;
    QVBoxLayout* logEntriesLayout_ = nullptr;
    int renderedLogCount_ = -1;
};

}  // namespace korvane::connector
