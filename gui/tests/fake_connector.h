#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace korvane::connector {

// The "exchanges" answer every fake prints unless a test sets another: six live exchanges and
// one name-only one.
extern const QByteArray kExchangeList;

// A stand-in for korvane-connector written by the test: it prints the canned output set for
// its command word, optionally sleeps first, exits with the code set for it (0 otherwise), and
// records every argument vector it was given and everything it read on standard input (to end
// of file, so a run whose input is never closed hangs and fails the test by its time limit).
// While it lives, KORVANE_CONNECTOR_PATH points the window at it.
class FakeConnector {
  public:
    FakeConnector();
    ~FakeConnector();

    // The next runs of `command` print `output` (an "exchanges" list from the start); a
    // `command` of two words ("balance okx") sets the output for that first operand only.
    void setOutput(const QString& command, const QByteArray& output);
    // The next runs of `command` sleep `seconds` before printing.
    void setDelay(const QString& command, double seconds);
    // The next runs of `command` exit with `code`.
    void setExitCode(const QString& command, int code);
    // Forgets the runs so far (calls() and inputs() start again).
    void forgetCalls();
    // Returns the argument vectors of every run so far, oldest first.
    QList<QStringList> calls() const;
    // Returns what each run so far read on its standard input, in the order of calls().
    QList<QByteArray> inputs() const;
    QString path() const;

  private:
    QTemporaryDir dir_;
};

// Returns the environment lines printed by a freshly started sandbox, after starting it; the
// sandbox stops when `stop` is called with the returned handle.
struct SandboxProcess {
    qint64 pid = 0;
    QMap<QString, QString> env;
};
SandboxProcess startSandbox();
void stopSandbox(const SandboxProcess& sandbox);

}  // namespace korvane::connector
