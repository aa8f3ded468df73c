#include "feedprocesslauncher.h"

#include "feedlog.h"
#include "feedtaskmanager.h"
#include "virelonpaths.h"

#include <QFile>
#include <QMutex>
#include <QTextStream>

FeedProcessLauncher* FeedProcessLauncher::_single = nullptr;
QMutex FeedProcessLauncher::_mutex;

FeedProcessLauncher::FeedProcessLauncher()
{
    if (createProcessList())
        connect(FeedTaskManager::instance(), SIGNAL(awake()), this, SLOT(executeProcess()));
}

FeedProcessLauncher* FeedProcessLauncher::instance()
{
    if (_single)
        return _single;
    _mutex.lock();
    FEED_LOG(debug, "Engine") << "mutex locked";
    if (!_single) {
        FEED_LOG(debug, "Engine") << "object init";
        _single = new FeedProcessLauncher;
    }
    _mutex.unlock();
    FEED_LOG(debug, "Engine") << "mutex unlocked";
    return _single;
}

void FeedProcessLauncher::releaseInstance()
{
    if (!_single)
        return;
    _mutex.lock();
    FEED_LOG(debug, "Engine") << "mutex locked";
    if (_single) {
        FEED_LOG(debug, "Engine") << "object de-init";
        delete _single;
        _single = nullptr;
    }
    _mutex.unlock();
    FEED_LOG(debug, "Engine") << "mutex unlocked";
}

// Lines are taken as written; "#" in the first column makes a comment, and a line with
// nothing but blanks holds no command.
bool FeedProcessLauncher::createProcessList()
{
    QFile file(VirelonPaths::configDir() + QStringLiteral("/launch.conf"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream stream(&file);
    while (!stream.atEnd()) {
        const QString line = stream.readLine();
        if (!line.startsWith(QLatin1Char('#')) && !line.trimmed().isEmpty())
            _processList.insert(line, false);
    }
    FEED_LOG(debug, "Engine") << _processList;
    return !_processList.isEmpty();
}

void FeedProcessLauncher::executeProcess()
{
    for (auto it = _processList.cbegin(); it != _processList.cend(); ++it) {
        if (it.value())
            FEED_LOG(debug, "Engine") << "Returning: process is already active:" << it.key();
        else
            startProcess(it.key());
    }
}

// A companion reads nothing and writes where the daemon writes, so that none of its output
// piles up here and none of it waits on input. The line is split as a shell would split
// plain words and quotes, but no shell runs it.
void FeedProcessLauncher::startProcess(const QString& command)
{
    FEED_LOG(debug, "Engine") << "Starting:" << command;
    auto process = new QProcess(this);
    process->setObjectName(command);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    _processList[command] = true;
    connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &FeedProcessLauncher::terminateProcess);
    // Before start(): a program that cannot start may fail inside it.
    connect(process, &QProcess::errorOccurred, this, &FeedProcessLauncher::processError);
    QStringList arguments = QProcess::splitCommand(command);
    const QString program = arguments.isEmpty() ? QString() : arguments.takeFirst();
    process->start(program, arguments);
}

void FeedProcessLauncher::terminateProcess(int exitCode)
{
    FEED_LOG(debug, "Engine") << "Exit code:" << exitCode;
    auto process = qobject_cast<QProcess*>(sender());
    if (!process) {
        FEED_LOG(critical, "Engine") << "Failed type conversion. Returning...";
        return;
    }
    FEED_LOG(debug, "Engine") << "Exited process:" << process->objectName();
    releaseProcess(process);
}

// A program that never started sends no finished(): free its entry here, so that the next
// wake-up tries again.
void FeedProcessLauncher::processError(QProcess::ProcessError error)
{
    auto process = qobject_cast<QProcess*>(sender());
    if (error != QProcess::FailedToStart || !process)
        return;
    FEED_LOG(critical, "Engine") << "Failed to start:" << process->objectName() << process->errorString();
    releaseProcess(process);
}

void FeedProcessLauncher::releaseProcess(QProcess* process)
{
    const auto entry = _processList.find(process->objectName());
    if (entry != _processList.end())
        entry.value() = false;
    process->deleteLater();
}
