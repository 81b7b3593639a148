#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>

namespace korvane::connector {

// How one run of the program ended.
struct RunResult {
    QString title;
    QString output;               // everything it printed, or the launch-failure text
    std::optional<int> exitCode;  // empty when it did not start or was killed by a signal
    bool started = true;
};

// Runs korvane-connector children one at a time, in the order asked, without blocking the
// interface thread. Each result is handed to its callback before the next child starts, and
// runs that a callback asks for go ahead of everything queued before it. Every run belongs to
// an owner (the button that asked for it, or none), so the window can tell which of its
// buttons has work queued or running.
class CommandQueue : public QObject {
    Q_OBJECT

  public:
    using Callback = std::function<void(const QString& output)>;

    explicit CommandQueue(std::function<QString()> locateProgram, QObject* parent = nullptr);

    // Queues one run of the program with `arguments`; `done` receives everything it printed
    // (or the launch-failure text). With `standardInput` the child reads those bytes and then
    // end of file; without it, it reads end of file at once.
    void run(const QString& title, const QStringList& arguments, Callback done,
             std::optional<QByteArray> standardInput = std::nullopt);

    // Queues `done` to be called once everything queued so far (and what it leads to) is done.
    void afterQueuedWork(std::function<void()> done);

    // Calls `queueWork`; the runs it queues, and the runs their results queue, belong to `owner`.
    void queueAs(const QString& owner, const std::function<void()>& queueWork);

    // Returns true when a run of `owner` is queued or running.
    bool hasWorkFor(const QString& owner) const;
    // Returns the owner of the run in progress; empty when idle or when it has none.
    QString runningOwner() const { return process_ ? current_.owner : QString(); }
    // Returns the title of the run in progress; empty when idle.
    QString runningTitle() const { return runningTitle_; }
    bool isIdle() const { return !process_ && jobs_.empty(); }

  signals:
    // A run finished, for the technical log.
    void runFinished(const RunResult& result);
    void runningTitleChanged(const QString& title);
    // A run was queued, started or finished.
    void workChanged();

  private:
    struct Job {
        QString title;
        QStringList arguments;
        Callback done;
        std::function<void()> marker;  // set for afterQueuedWork entries, which run no program
        QString owner;
        std::optional<QByteArray> standardInput;
    };

    void enqueue(Job job);
    void startNext();
    void finish(RunResult result);
    void takeFollowUps();
    void setRunningTitle(const QString& title);

    std::function<QString()> locateProgram_;
    std::deque<Job> jobs_;
    QList<Job> followUps_;  // jobs queued by the callback now running
    bool inCallback_ = false;
    QString owner_;  // owner of what is queued right now (queueAs, or the callback's run)
    QProcess* process_ = nullptr;
    Job current_;
    QByteArray captured_;
    QString runningTitle_;
};

}  // namespace korvane::connector
