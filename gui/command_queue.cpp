#include "gui/command_queue.h"

#include <QTimer>

namespace korvane::connector {

CommandQueue::CommandQueue(std::function<QString()> locateProgram, QObject* parent)
    : QObject(parent), locateProgram_(std::move(locateProgram)) {}

void CommandQueue::run(const QString& title, const QStringList& arguments, Callback done) {
    enqueue(Job{title, arguments, std::move(done), {}});
}

void CommandQueue::afterQueuedWork(std::function<void()> done) {
    enqueue(Job{{}, {}, {}, std::move(done)});
}

void CommandQueue::enqueue(Job job) {
    if (inCallback_) {
        followUps_.append(std::move(job));
        return;
    }
    jobs_.push_back(std::move(job));
    // Started from the event loop so a caller can queue several runs before the first begins.
    if (!process_) QTimer::singleShot(0, this, &CommandQueue::startNext);
}

void CommandQueue::startNext() {
    if (process_ || jobs_.empty()) return;
    current_ = std::move(jobs_.front());
    jobs_.pop_front();
    if (current_.marker) {
        inCallback_ = true;
        current_.marker();
        inCallback_ = false;
        for (auto it = followUps_.rbegin(); it != followUps_.rend(); ++it) jobs_.push_front(std::move(*it));
        followUps_.clear();
        startNext();
        return;
    }
    currentProgram_ = locateProgram_();
    captured_.clear();
    process_ = new QProcess(this);
    // One stream in the order the child wrote it, read while the child runs so a long answer
    // can never fill the pipe and stall it.
    process_->setProcessChannelMode(QProcess::MergedChannels);
    connect(process_, &QProcess::readyRead, this, [this] { captured_ += process_->readAll(); });
    connect(process_, &QProcess::finished, this, [this] {
        captured_ += process_->readAll();
        finish(QString::fromUtf8(captured_));
    });
    connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        finish("failed to run connector: " + process_->errorString() + "\nresolved_path=" + locateProgram_());
    });
    setRunningTitle(current_.title);
    process_->start(currentProgram_, current_.arguments);
}

void CommandQueue::finish(const QString& output) {
    QProcess* finished = process_;
    process_ = nullptr;
    finished->disconnect(this);
    finished->deleteLater();
    setRunningTitle({});

    const Job job = std::move(current_);
    emit runFinished(job.title, output);
    inCallback_ = true;
    if (job.done) job.done(output);
    inCallback_ = false;
    // What the result asked for runs next, in the order it asked.
    for (auto it = followUps_.rbegin(); it != followUps_.rend(); ++it) jobs_.push_front(std::move(*it));
    followUps_.clear();
    QTimer::singleShot(0, this, &CommandQueue::startNext);
}

void CommandQueue::setRunningTitle(const QString& title) {
    if (runningTitle_ == title) return;
    runningTitle_ = title;
    emit runningTitleChanged(title);
}

}  // namespace korvane::connector
