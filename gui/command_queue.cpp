#include "gui/command_queue.h"

#include <QTimer>
#include <algorithm>

namespace korvane::connector {

CommandQueue::CommandQueue(std::function<QString()> locateProgram, QObject* parent)
    : QObject(parent), locateProgram_(std::move(locateProgram)) {}

void CommandQueue::run(const QString& title, const QStringList& arguments, Callback done,
                       std::optional<QByteArray> standardInput) {
    enqueue(Job{title, arguments, std::move(done), {}, owner_, std::move(standardInput)});
}

void CommandQueue::afterQueuedWork(std::function<void()> done) {
    enqueue(Job{{}, {}, {}, std::move(done), owner_, {}});
}

void CommandQueue::queueAs(const QString& owner, const std::function<void()>& queueWork) {
    const QString outer = owner_;
    owner_ = owner;
    queueWork();
    owner_ = outer;
}

bool CommandQueue::hasWorkFor(const QString& owner) const {
    if (owner.isEmpty()) return false;
    if (process_ && current_.owner == owner) return true;
    const auto owned = [&owner](const Job& job) { return !job.marker && job.owner == owner; };
    return std::any_of(jobs_.begin(), jobs_.end(), owned) ||
           std::any_of(followUps_.begin(), followUps_.end(), owned);
}

void CommandQueue::enqueue(Job job) {
    if (inCallback_) {
        followUps_.append(std::move(job));
        return;
    }
    jobs_.push_back(std::move(job));
    // Started from the event loop so a caller can queue several runs before the first begins.
    if (!process_) QTimer::singleShot(0, this, &CommandQueue::startNext);
    emit workChanged();
}

void CommandQueue::takeFollowUps() {
    for (auto it = followUps_.rbegin(); it != followUps_.rend(); ++it) jobs_.push_front(std::move(*it));
    followUps_.clear();
}

void CommandQueue::startNext() {
    if (process_ || jobs_.empty()) return;
    current_ = std::move(jobs_.front());
    jobs_.pop_front();
    if (current_.marker) {
        inCallback_ = true;
        owner_ = current_.owner;
        current_.marker();
        owner_.clear();
        inCallback_ = false;
        takeFollowUps();
        startNext();
        return;
    }
    captured_.clear();
    process_ = new QProcess(this);
    // One stream in the order the child wrote it, read while the child runs so a long answer
    // can never fill the pipe and stall it.
    process_->setProcessChannelMode(QProcess::MergedChannels);
    if (current_.standardInput) {
        // The bytes go through a pipe that is closed once written, so the child sees their end.
        connect(process_, &QProcess::started, this, [this] {
            process_->write(*current_.standardInput);
            process_->closeWriteChannel();
        });
    } else {
        // Nothing to read: a child that reads anyway gets end of file instead of waiting.
        process_->setStandardInputFile(QProcess::nullDevice());
    }
    connect(process_, &QProcess::readyRead, this, [this] { captured_ += process_->readAll(); });
    connect(process_, &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus status) {
        captured_ += process_->readAll();
        RunResult result{current_.title, QString::fromUtf8(captured_), std::nullopt, true};
        if (status == QProcess::NormalExit) result.exitCode = exitCode;
        finish(std::move(result));
    });
    connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        finish(RunResult{
            current_.title,
            "failed to run connector: " + process_->errorString() + "\nresolved_path=" + locateProgram_(),
            std::nullopt, false});
    });
    setRunningTitle(current_.title);
    emit workChanged();
    process_->start(locateProgram_(), current_.arguments);
}

void CommandQueue::finish(RunResult result) {
    QProcess* finished = process_;
    process_ = nullptr;
    finished->disconnect(this);
    finished->deleteLater();
    setRunningTitle({});

    Job job = std::move(current_);
    current_ = Job{};
    // Credentials written to the child are not kept around once it has them.
    job.standardInput.reset();
    emit runFinished(result);
    inCallback_ = true;
    owner_ = job.owner;
    if (job.done) job.done(result.output);
    owner_.clear();
    inCallback_ = false;
    // What the result asked for runs next, in the order it asked.
    takeFollowUps();
    emit workChanged();
    QTimer::singleShot(0, this, &CommandQueue::startNext);
}

void CommandQueue::setRunningTitle(const QString& title) {
    if (runningTitle_ == title) return;
    runningTitle_ = title;
    emit runningTitleChanged(title);
}

}  // namespace korvane::connector
