// Drives the window's own validation, headless, against the connector that
// KORVANE_CONNECTOR_PATH names: picks the exchange's tab, types the credential, presses validate
// and waits for the window to settle. The credential comes from the environment
// (KORVANE_DRIVE_EXCHANGE, _KEY, _SECRET, _PASSPHRASE), never from this program's arguments, so a
// test sampling every process's arguments sees only what the window itself puts there.
// Prints the tab's status and balance; exits 0 when the keys were found valid.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <QThread>

#include "gui/connector_view_model.h"

namespace {

// Returns once the view model has no work queued or running; false after `limit_ms`.
bool wait_until_idle(korvane::connector::ConnectorViewModel& model, qint64 limit_ms) {
    QElapsedTimer timer;
    timer.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    } while (!model.isIdle() && timer.elapsed() < limit_ms);
    return model.isIdle();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    korvane::connector::ConnectorViewModel model;
    // The tabs come from the connector's list; a connector without one still validates.
    model.loadExchangeList();
    if (!wait_until_idle(model, 60000)) return 2;
    if (!model.exchangeListMessage.text.isEmpty())
        QTextStream(stderr) << model.exchangeListMessage.text << "\n";
    model.setSelectedExchangeId(qEnvironmentVariable("KORVANE_DRIVE_EXCHANGE"));
    // Choosing a tab looks up stored keys first; typing waits for that, as a person would.
    if (!wait_until_idle(model, 60000)) return 2;
    model.setSelectedApiKey(qEnvironmentVariable("KORVANE_DRIVE_KEY"));
    model.setSelectedApiSecret(qEnvironmentVariable("KORVANE_DRIVE_SECRET"));
    model.setSelectedPassphrase(qEnvironmentVariable("KORVANE_DRIVE_PASSPHRASE"));
    model.validateSelectedExchange();
    if (!wait_until_idle(model, 120000)) return 2;
    const auto draft = model.selectedDraft();
    QTextStream(stdout) << "status=" << draft.status << "\nbalance=" << draft.balance << "\n";
    return draft.status == "valid" ? 0 : 1;
}
