#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>

namespace korvane::connector {

// Runs korvane-connector children one at a time, in the order asked, without blocking the
// interface thread. Each result is handed to its callback before the next child starts, and
// runs that a callback asks for go ahead of everything queued before it.
class CommandQueue : public QObject {
    Q_OBJECT

  public:
    using Callback = std::function<void(const QString& output)>;

    explicit CommandQueue(std::function<QString()> locateProgram, QObject* parent = nullptr);

    // Queues one run of the program with `arguments`; `done` receives everything it printed
    // (or the launch-failure text).
    void run(const QString& title, const QStringList& arguments, Callback done);

    // Queues `done` to be called once everything queued so far (and what it leads to) is done.
    void afterQueuedWork(std::function<void()> done);

    // Returns the title of the run in progress; empty when idle.
    QString runningTitle() const { return runningTitle_; }
    bool isIdle() const { return !process_ && jobs_.empty(); }

  signals:
    // A run finished: its title and output, for the technical log.
    void runFinished(const QString& title, const QString& output);
    void runningTitleChanged(const QString& title);

  private:
    struct Job {
        QString title;
        QStringList arguments;
        Callback done;
        std::function<void()> marker;  // set for afterQueuedWork entries, which run no program
    };

    void enqueue(Job job);
    void startNext();
    void finish(const QString& output);
    void setRunningTitle(const QString& title);

    std::function<QString()> locateProgram_;
    std::deque<Job> jobs_;
    QList<Job> followUps_;  // jobs queued by the callback now running
    bool inCallback_ = false;
    QProcess* process_ = nullptr;
    Job current_;
    QString currentProgram_;
    QByteArray captured_;
    QString runningTitle_;
};

}  // namespace korvane::connector
