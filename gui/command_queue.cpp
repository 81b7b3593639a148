#include "gui/command_queue.h"

#include <QTimer>
#include <algorithm>

namespace korvane::connector {

CommandQueue::CommandQueue(std::function<QString()> locateProgram, QObject* parent)
    : QObject(parent), locateProgram_(std::move(locateProgram)) {}

void CommandQueue::run(const QString& lane, const QString& title, const QStringList& arguments,
                       std::function<void(const RunResult&)> done, std::optional<QByteArray> standardInput) {
    enqueue(lane, Job{title, arguments, std::move(done), {}, owner_, std::move(standardInput)});
}

void CommandQueue::afterQueuedWork(const QString& lane, std::function<void()> done) {
    enqueue(lane, Job{{}, {}, {}, std::move(done), owner_, {}});
}

void CommandQueue::whenOwnerIdle(const QString& owner, std::function<void()> done) {
    idleWaiters_.append({owner, std::move(done)});
    QTimer::singleShot(0, this, &CommandQueue::checkIdleOwners);
}

void CommandQueue::queueAs(const QString& owner, const std::function<void()>& queueWork) {
    const QString outer = owner_;
    owner_ = owner;
    queueWork();
    owner_ = outer;
}

void CommandQueue::dropQueued(const QString& owner) {
    const auto owned = [&owner](const Job& job) { return !job.marker && job.owner == owner; };
    for (auto& [name, lane] : lanes_) {
        lane.jobs.erase(std::remove_if(lane.jobs.begin(), lane.jobs.end(), owned), lane.jobs.end());
        lane.followUps.removeIf(owned);
    }
    emit workChanged();
    QTimer::singleShot(0, this, &CommandQueue::checkIdleOwners);
}

bool CommandQueue::hasWorkFor(const QString& owner) const {
    if (owner.isEmpty()) return false;
    const auto owned = [&owner](const Job& job) { return !job.marker && job.owner == owner; };
    for (const auto& [name, lane] : lanes_) {
        if (lane.process && lane.current.owner == owner) return true;
        if (std::any_of(lane.jobs.begin(), lane.jobs.end(), owned) ||
            std::any_of(lane.followUps.begin(), lane.followUps.end(), owned))
            return true;
    }
    return false;
}

bool CommandQueue::isRunning(const QString& owner) const {
    if (owner.isEmpty()) return false;
    return std::any_of(lanes_.begin(), lanes_.end(), [&owner](const auto& entry) {
        return entry.second.process && entry.second.current.owner == owner;
    });
}

bool CommandQueue::laneBusy(const QString& lane) const {
    const auto found = lanes_.find(lane);
    return found != lanes_.end() && (found->second.process || !found->second.jobs.empty());
}

QStringList CommandQueue::runningTitles() const {
    QStringList titles;
    for (const auto& [name, lane] : lanes_) {
        if (lane.process) titles << lane.current.title;
    }
    return titles;
}

bool CommandQueue::isIdle() const {
    return std::none_of(lanes_.begin(), lanes_.end(),
                        [](const auto& entry) { return entry.second.process || !entry.second.jobs.empty(); });
}

void CommandQueue::enqueue(const QString& laneName, Job job) {
    Lane& lane = lanes_[laneName];
    if (lane.inCallback) {
        lane.followUps.append(std::move(job));
        return;
    }
    lane.jobs.push_back(std::move(job));
    // Started from the event loop so a caller can queue several runs before the first begins.
    if (!lane.process) QTimer::singleShot(0, this, [this, laneName] { startNext(laneName); });
    emit workChanged();
}

void CommandQueue::takeFollowUps(Lane& lane) {
    for (auto it = lane.followUps.rbegin(); it != lane.followUps.rend(); ++it)
        lane.jobs.push_front(std::move(*it));
    lane.followUps.clear();
}

void CommandQueue::startNext(const QString& laneName) {
    Lane& lane = lanes_[laneName];
    if (lane.process || lane.jobs.empty()) return;
    lane.current = std::move(lane.jobs.front());
    lane.jobs.pop_front();
    if (lane.current.marker) {
        lane.inCallback = true;
        owner_ = lane.current.owner;
        const std::function<void()> marker = std::move(lane.current.marker);
        lane.current = Job{};
        marker();
        owner_.clear();
        lane.inCallback = false;
        takeFollowUps(lane);
        checkIdleOwners();
        startNext(laneName);
        return;
    }
    lane.captured.clear();
    QProcess* process = new QProcess(this);
    lane.process = process;
    // One stream in the order the child wrote it, read while the child runs so a long answer
    // can never fill the pipe and stall it.
    process->setProcessChannelMode(QProcess::MergedChannels);
    if (lane.current.standardInput) {
        // The bytes go through a pipe that is closed once written, so the child sees their end.
        connect(process, &QProcess::started, this, [process, input = *lane.current.standardInput] {
            process->write(input);
            process->closeWriteChannel();
        });
    } else {
        // Nothing to read: a child that reads anyway gets end of file instead of waiting.
        process->setStandardInputFile(QProcess::nullDevice());
    }
    connect(process, &QProcess::readyRead, this,
            [this, laneName, process] { lanes_[laneName].captured += process->readAll(); });
    connect(process, &QProcess::finished, this,
            [this, laneName, process](int exitCode, QProcess::ExitStatus status) {
                Lane& owner = lanes_[laneName];
                owner.captured += process->readAll();
                RunResult result{owner.current.title, QString::fromUtf8(owner.captured), std::nullopt, true,
                                 laneName};
                if (status == QProcess::NormalExit) result.exitCode = exitCode;
                finish(laneName, std::move(result));
            });
    connect(process, &QProcess::errorOccurred, this, [this, laneName, process](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        finish(laneName, RunResult{lanes_[laneName].current.title,
                                   "failed to run connector: " + process->errorString() +
                                       "\nresolved_path=" + locateProgram_(),
                                   std::nullopt, false, laneName});
    });
    emit workChanged();
    process->start(locateProgram_(), lane.current.arguments);
}

void CommandQueue::finish(const QString& laneName, RunResult result) {
    Lane& lane = lanes_[laneName];
    QProcess* finished = lane.process;
    lane.process = nullptr;
    finished->disconnect(this);
    finished->deleteLater();

    Job job = std::move(lane.current);
    lane.current = Job{};
    // Credentials written to the child are not kept around once it has them.
    job.standardInput.reset();
    emit runFinished(result);
    lane.inCallback = true;
    owner_ = job.owner;
    if (job.done) job.done(result);
    owner_.clear();
    lane.inCallback = false;
    // What the result asked for runs next, in the order it asked.
    takeFollowUps(lane);
    emit workChanged();
    checkIdleOwners();
    QTimer::singleShot(0, this, [this, laneName] { startNext(laneName); });
}

void CommandQueue::checkIdleOwners() {
    for (qsizetype i = 0; i < idleWaiters_.size();) {
        if (hasWorkFor(idleWaiters_[i].first)) {
            ++i;
            continue;
        }
        const std::function<void()> done = idleWaiters_.takeAt(i).second;
        done();
        i = 0;  // the call may have queued or resolved others
    }
}

}  // namespace korvane::connector
