#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <map>
#include <optional>

namespace korvane::connector {

// How one run of the program ended.
struct RunResult {
    QString title;
    QString output;               // everything it printed, or the launch-failure text
    std::optional<int> exitCode;  // empty when it did not start or was killed by a signal
    bool started = true;
    QString lane;  // the lane it ran in
};

// Runs korvane-connector children without blocking the interface thread, in lanes: each lane
// runs one child at a time, in the order asked, and hands each result to its callback before
// its next child starts; runs that a callback asks for in its own lane go ahead of everything
// queued there before. Lanes run side by side, so a slow child only delays its own lane.
// Every run belongs to an owner (the button that asked for it, or none), so the window can tell
// which of its buttons has work queued or running.
class CommandQueue : public QObject {
    Q_OBJECT

  public:
    explicit CommandQueue(std::function<QString()> locateProgram, QObject* parent = nullptr);

    // Queues one run of the program with `arguments` in `lane`; `done` receives its result: what it
    // printed (or the launch-failure text) and its exit code. With `standardInput` the child reads
    // those bytes and then end of file; without it, it reads end of file at once.
    void run(const QString& lane, const QString& title, const QStringList& arguments,
             std::function<void(const RunResult&)> done,
             std::optional<QByteArray> standardInput = std::nullopt);

    // Queues `done` in `lane`, to be called once everything queued there so far (and what it
    // leads to in that lane) is done.
    void afterQueuedWork(const QString& lane, std::function<void()> done);
    // Calls `done` once no run of `owner` is queued or running (at the earliest from the event
    // loop, so runs queued right after this call count).
    void whenOwnerIdle(const QString& owner, std::function<void()> done);

    // Calls `queueWork`; the runs it queues, and the runs their results queue, belong to `owner`.
    void queueAs(const QString& owner, const std::function<void()>& queueWork);
    // Drops the runs of `owner` that have not started yet (their callbacks are never called).
    void dropQueued(const QString& owner);

    // Returns true when a run of `owner` is queued or running.
    bool hasWorkFor(const QString& owner) const;
    // Returns true when a run of `owner` is running.
    bool isRunning(const QString& owner) const;
    // Returns true when a run is queued or running in `lane`.
    bool laneBusy(const QString& lane) const;
    // Returns the titles of the runs in progress, in lane order; empty when idle.
    QStringList runningTitles() const;
    bool isIdle() const;

  signals:
    // A run finished, for the technical log.
    void runFinished(const RunResult& result);
    // A run was queued, started or finished.
    void workChanged();

  private:
    struct Job {
        QString title;
        QStringList arguments;
        std::function<void(const RunResult&)> done;
        std::function<void()> marker;  // set for afterQueuedWork entries, which run no program
        QString owner;
        std::optional<QByteArray> standardInput;
    };
    struct Lane {
        std::deque<Job> jobs;
        QList<Job> followUps;  // jobs queued by this lane's callback now running
        bool inCallback = false;
        QProcess* process = nullptr;
        Job current;
        QByteArray captured;
    };

    void enqueue(const QString& lane, Job job);
    void startNext(const QString& lane);
    void finish(const QString& lane, RunResult result);
    void takeFollowUps(Lane& lane);
    void checkIdleOwners();

    std::function<QString()> locateProgram_;
    std::map<QString, Lane> lanes_;
    QString owner_;  // owner of what is queued right now (queueAs, or the callback's run)
    QList<QPair<QString, std::function<void()>>> idleWaiters_;
};

}  // namespace korvane::connector
