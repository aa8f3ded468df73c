#include "feedpluginmanager.h"

#include "feedcommunicationfile.h"
#include "feedlog.h"
#include "feedtypes.h"
#include "virelonpaths.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

#include <climits>

static const QString FEED_PLUGIN_INTERFACE_VERSION = QString::fromLatin1(FeedProtocol::InterfaceVersion);

namespace {

QMutex instanceMutex;
FeedPluginManager* managerInstance = nullptr;

// Loads of a plug-in name since the plug-in last answered a download, its first load included:
// only a plug-in that fails again and again in a row is refused.
constexpr int MaximumLoadCount = 5;

// The five signals a plug-in may send, with the exact argument types each carries.
struct SignalRecord
{
    QByteArray name;
    QByteArrayList types;
    bool endsDownload;
};

const QList<SignalRecord>& signalRecords()
{
    static const QList<SignalRecord> records = {
        {"downloadFeedsFinished", {}, true},
        {"downloadFeedsFailed", {"int"}, true},
        {"downloadEnclosureFinished", {"QVariantMap"}, true},
        {"downloadEnclosureFailed", {"int"}, true},
        {"enclosureDownloadProgress", {"qlonglong", "qlonglong"}, false},
    };
    return records;
}

const SignalRecord* signalRecordFor(const FeedMethod& record)
{
    QByteArrayList types;
    for (const FeedArgument& argument : record.actualArguments())
        types.append(argument.typeName());
    for (const SignalRecord& known : signalRecords()) {
        if (known.name == record.name() && known.types == types)
            return &known;
    }
    return nullptr;
}

// The name becomes a program path and a file path: nothing that could leave the directory.
int watchInterval(qint64 milliseconds)
{
    return int(qBound<qint64>(1, milliseconds, INT_MAX));
}

bool isValidPluginName(const QString& name)
{
    static const QRegularExpression valid(QStringLiteral("^[A-Za-z0-9_-]+$"));
    return valid.match(name).hasMatch();
}

QString programPath(const QString& name)
{
    return VirelonPaths::pluginDir() + QLatin1Char('/') + name;
}

} // namespace

FeedPluginManager* FeedPluginManager::instance()
{
    if (managerInstance)
        return managerInstance;
    instanceMutex.lock();
    FEED_LOG(debug, "PluginManager") << "mutex locked";
    if (!managerInstance) {
        FEED_LOG(debug, "PluginManager") << "object init";
        managerInstance = new FeedPluginManager();
    }
    instanceMutex.unlock();
    FEED_LOG(debug, "PluginManager") << "mutex unlocked";
    return managerInstance;
}

void FeedPluginManager::releaseInstance()
{
    if (!managerInstance)
        return;
    instanceMutex.lock();
    FEED_LOG(debug, "PluginManager") << "mutex locked";
    if (managerInstance) {
        FEED_LOG(debug, "PluginManager") << "object de-init";
        delete managerInstance;
    }
    managerInstance = nullptr;
    instanceMutex.unlock();
    FEED_LOG(debug, "PluginManager") << "mutex unlocked";
}

FeedPluginManager::FeedPluginManager()
    : _watch(new QTimer(this))
{
    FeedMethod::registerTypes();
    FeedTypes::registerTypes();
    _watch->setSingleShot(true);
    connect(_watch, &QTimer::timeout, this, &FeedPluginManager::checkHung);
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
                &FeedPluginManager::unloadPlugins);
}

FeedPluginManager::~FeedPluginManager()
{
    unloadPlugins();
    // The processes go with their parent; their last signals must not reach a half-destroyed
    // manager, and none is left running.
    for (QProcess* process : findChildren<QProcess*>(QString(), Qt::FindDirectChildrenOnly)) {
        process->disconnect(this);
        if (!process->waitForFinished(_limits.stopGrace)) {
            process->kill();
            process->waitForFinished(_limits.stopGrace);
        }
    }
}

void FeedPluginManager::setLimits(const Limits& limits)
{
    _limits = limits;
}

int FeedPluginManager::processCount() const
{
    return _processes.size();
}

FeedMethod FeedPluginManager::makeFeedMethod(const QByteArray& name, const FeedArgument& a0,
                                             const FeedArgument& a1, const FeedArgument& a2,
                                             const FeedArgument& a3, const FeedArgument& a4,
                                             const FeedArgument& a5, const FeedArgument& a6,
                                             const FeedArgument& a7, const FeedArgument& a8,
                                             const FeedArgument& a9)
{
    FeedMethod method;
    method.setName(name);
    method.setReturnType(QByteArray());
    for (const FeedArgument* argument : {&a0, &a1, &a2, &a3, &a4, &a5, &a6, &a7, &a8, &a9})
        method.addArgument(*argument);
    return method;
}

template<typename T>
FeedArgument FeedPluginManager::toFeedArgument(const T& value)
{
    static const int typeId = qMetaTypeId<T>();
    return FeedArgument::fromValue(typeId, &value);
}

// Requests ----------------------------------------------------------------------------------

void FeedPluginManager::downloadFeeds(const FeedChannel& channel)
{
    FEED_LOG(debug, "PluginManager") << channel;
    if (!setActivePlugin(channel.type())) {
        FEED_LOG(debug, "PluginManager") << "Plugin not loaded: " << channel.type();
        failUnsent(false, channel);
        return;
    }
    startJob(makeFeedMethod("downloadFeeds", toFeedArgument(channel)), false);
}

void FeedPluginManager::downloadEnclosure(const FeedEnclosure& enclosure, bool resume)
{
    if (!_activeProcess || _stopping.contains(_activeProcess))
        setActivePlugin(QStringLiteral("tamsil"));
    FEED_LOG(debug, "PluginManager") << enclosure << ", resuming:" << resume;
    FEED_LOG(debug, "PluginManager") << enclosure.remoteUrl();
    if (!_activeProcess) {
        failUnsent(true);
        return;
    }
    startJob(makeFeedMethod(resume ? "resumeDownloadEnclosure" : "downloadEnclosure",
                            toFeedArgument(enclosure)),
             true);
}

void FeedPluginManager::cancelDownload(bool pause)
{
    if (!_activeProcess) {
        FEED_LOG(critical, "PluginManager") << "Returning: No active plugin !";
        return;
    }
    FEED_LOG(debug, "PluginManager") << _activeProcess->metaObject()->className();
    call(makeFeedMethod(pause ? "pauseDownloadEnclosure" : "cancelDownload"));
}

FeedChannel FeedPluginManager::channel() const
{
    if (!_activeProcess) {
        FEED_LOG(critical, "PluginManager") << "Returning: No active plugin !";
        return _unsentChannel;
    }
    FeedMethod method = makeFeedMethod("channel");
    method.setReturnType(QMetaType::typeName(qMetaTypeId<FeedChannel>()));
    return call<FeedChannel>(method);
}

QString FeedPluginManager::version() const
{
    FEED_LOG(debug, "PluginManager") << "checking version..";
    if (!_activeProcess) {
        FEED_LOG(critical, "PluginManager") << "Returning: No active plugin !";
        return QString();
    }
    FeedMethod method = makeFeedMethod("version");
    method.setReturnType(QMetaType::typeName(qMetaTypeId<QString>()));
    return call<QString>(method);
}

bool FeedPluginManager::isBusy()
{
    // A plug-in on its way out is neither asked nor replaced: its exit is under way.
    if (!_activeProcess || _stopping.contains(_activeProcess))
        return false;
    qlonglong elapsed = 0;
    const bool answered = askElapsedTime(_activeProcess, &elapsed);
    FEED_LOG(debug, "PluginManager") << "Elapsed time = " << elapsed;
    if (answered && elapsed <= _limits.hangLimit)
        return true;
    if (!answered)
        FEED_LOG(critical, "PluginManager") << "No answer to elapsedTime: plugin counts as hung";
    // It may have exited while it was asked.
    if (!_activeProcess)
        return false;
    const QString name = nameOf(_activeProcess);
    countRestart(_activeProcess);
    unloadPluginApplication(name);
    loadPluginApplication(name);
    return false;
}

void FeedPluginManager::resetActivePlugin()
{
    _activeProcess = nullptr;
    endJob();
}

// Processes ---------------------------------------------------------------------------------

bool FeedPluginManager::isInstalled(const QString& name)
{
    const QFileInfo program(programPath(name));
    return isValidPluginName(name) && program.isFile() && program.isExecutable();
}

bool FeedPluginManager::setActivePlugin(const QString& name)
{
    if (name.isEmpty()) {
        FEED_LOG(critical, "PluginManager") << "plugin name empty!";
        return false;
    }
    QProcess* process = _processes.value(name.toLower());
    if (process && !_stopping.contains(process)) {
        _activeProcess = process;
        return true;
    }
    _activeProcess = nullptr;
    return loadPluginApplication(name);
}

bool FeedPluginManager::loadPluginApplication(const QString& name)
{
    FEED_LOG(debug, "PluginManager") << name;
    const QString key = name.toLower();
    if (!isValidPluginName(name)) {
        FEED_LOG(critical, "PluginManager") << "Invalid plugin name: " << name;
        return false;
    }
    if (!_loadCount.contains(key)) {
        _loadCount.insert(key, 1);
    } else if (_loadCount.value(key) > MaximumLoadCount) {
        FEED_LOG(critical, "PluginManager") << "Cannot load plugin. Max allowed limit reached !";
        return false;
    }
    if (QProcess* previous = _processes.value(key)) {
        if (!_stopping.contains(previous)) {
            FEED_LOG(debug, "PluginManager") << "Plugin already loaded: " << name;
            return false;
        }
        // A replacement starts only once its predecessor has gone.
        stopAndWait(previous);
        if (_processes.contains(key)) {
            FEED_LOG(critical, "PluginManager") << "Previous process did not end: " << name;
            return false;
        }
    }

    const QString path = VirelonPaths::communicationDir() + QLatin1Char('/') + name
                         + QStringLiteral(".data");
    QFile* file = openCommunicationFile(path);
    if (!file) {
        FEED_LOG(critical, "PluginManager") << "Unable to open communication file!! ";
        return false;
    }
    QProcess* process = new QProcess(this);
    _activeProcess = process;
    process->setObjectName(key);
    // The plug-in logs to standard error; it goes straight to ours, nothing piles up here.
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QString program = programPath(name);
    FEED_LOG(debug, "PluginManager") << program;
    process->start(program, {path}, QIODevice::ReadWrite);
    if (!process->waitForStarted(_limits.startTimeout)) {
        FEED_LOG(critical, "PluginManager") << "Process for Plugin " << program << " not started";
        delete process;
        delete file;
        _activeProcess = nullptr;
        return false;
    }
    _processes.insert(key, process);
    FEED_LOG(debug, "PluginManager") << "Successfully loaded: " << name;
    connect(process, &QIODevice::readyRead, this, &FeedPluginManager::slotPluginResponse,
            Qt::UniqueConnection);
    connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            &FeedPluginManager::cleanupPluginFinished);
    _communicationFiles.insert(key, file);
    FEED_LOG(debug, "PluginManager") << "Storing file object: " << path
                                     << " for Process ID : " << process->processId();

    QPointer<QProcess> started(process);
    const QString answer = version();
    FEED_LOG(debug, "PluginManager") << "FEED_PLUGIN_INTERFACE_VERSION: " << FEED_PLUGIN_INTERFACE_VERSION;
    FEED_LOG(debug, "PluginManager") << "interfaceVersion: " << answer;
    if (!started || _processes.value(key) != process) {
        FEED_LOG(critical, "PluginManager") << "version check fail, plugin exited !";
        return false;
    }
    if (answer == FEED_PLUGIN_INTERFACE_VERSION) {
        FEED_LOG(debug, "PluginManager") << "version check successful !";
        return true;
    }
    FEED_LOG(critical, "PluginManager") << "version check fail, unloading plugin !";
    forgetProcess(process);
    return false;
}

bool FeedPluginManager::unloadPluginApplication(const QString& name)
{
    QProcess* process = _processes.value(name.toLower());
    if (!process) {
        FEED_LOG(debug, "PluginManager") << "Plugin not loaded. Can not unload.";
        return false;
    }
    forgetProcess(process);
    return true;
}

void FeedPluginManager::unloadPlugins()
{
    FEED_LOG(debug, "PluginManager") << "Unload all plugins";
    for (QProcess* process : _processes)
        stopProcess(process);
}

QFile* FeedPluginManager::openCommunicationFile(const QString& path)
{
    QFile* file = new QFile(path, this);
    QString error;
    if (!FeedCommunicationFile::open(*file, &error)) {
        FEED_LOG(critical, "PluginManager") << "Open failed : " << error;
        delete file;
        return nullptr;
    }
    return file;
}

void FeedPluginManager::cleanupPluginFinished(int exitCode)
{
    FEED_LOG(critical, "PluginManager") << "Exit code: " << exitCode;
    QProcess* process = qobject_cast<QProcess*>(sender());
    if (!process) {
        FEED_LOG(critical, "PluginManager") << "Failed type conversion. Returning...";
        return;
    }
    FEED_LOG(debug, "PluginManager") << "Exited process object name: " << process->objectName();
    if (_activeProcess == process)
        _activeProcess = nullptr;
    else if (_activeProcess)
        FEED_LOG(critical, "PluginManager") << "Active process name: " << _activeProcess->objectName();
    const QString name = nameOf(process);
    FEED_LOG(debug, "PluginManager") << "pluginName = " << name;
    if (!name.isEmpty()) {
        _processes.remove(name);
        delete _communicationFiles.take(name);
    }
    _stopping.remove(process);
    process->deleteLater();

    // Only the end of the process that runs the open download concerns the scheduler.
    if (!_jobOpen || _jobProcess != process)
        return;
    const quint32 sequence = _jobSequence;
    const QString type = process->objectName();
    QMetaObject::invokeMethod(this, [this, process, sequence, type]() {
        if (!_jobOpen || _jobProcess != process || _jobSequence != sequence)
            return;
        endJob();
        emit pluginExited(type);
    }, Qt::QueuedConnection);
}

QString FeedPluginManager::nameOf(QProcess* process) const
{
    return _processes.key(process);
}

void FeedPluginManager::countRestart(QProcess* process)
{
    const QString key = process->objectName();
    const int count = _loadCount.value(key) + 1;
    _loadCount.insert(key, count);
    FEED_LOG(debug, "PluginManager") << "Load count for plugin: " << key << " = " << count;
}

void FeedPluginManager::countAnswer(const QProcess* process)
{
    const QString key = process->objectName();
    if (_loadCount.value(key) > 0)
        FEED_LOG(debug, "PluginManager") << "Plugin answered, load count for plugin: " << key << " = 0";
    _loadCount.insert(key, 0);
}

// An ended process has had its clean-up; kept as stopping it would outlive its object and
// stand for whatever process is created at its address later.
bool FeedPluginManager::markStopping(QProcess* process)
{
    if (process->state() == QProcess::NotRunning)
        return false;
    _stopping.insert(process);
    return true;
}

void FeedPluginManager::stopProcess(QProcess* process)
{
    if (_stopping.contains(process) || !markStopping(process))
        return;
    process->terminate();
    QTimer::singleShot(_limits.stopGrace, process, [process]() { process->kill(); });
}

void FeedPluginManager::stopAndWait(QProcess* process)
{
    QPointer<QProcess> guard(process);
    if (!markStopping(process))
        return;
    process->terminate();
    if (!process->waitForFinished(_limits.stopGrace) && guard && guard->state() != QProcess::NotRunning) {
        guard->kill();
        guard->waitForFinished(_limits.stopGrace);
    }
}

void FeedPluginManager::forgetProcess(QProcess* process)
{
    const QString name = nameOf(process);
    if (!name.isEmpty()) {
        _processes.remove(name);
        delete _communicationFiles.take(name);
    }
    if (_activeProcess == process)
        _activeProcess = nullptr;
    stopAndWait(process);
}

void FeedPluginManager::breakProcess(QProcess* process, const char* reason)
{
    FEED_LOG(critical, "PluginManager") << reason << process->objectName();
    process->readAllStandardOutput();
    countRestart(process);
    if (markStopping(process))
        process->kill();
}

// Downloads ---------------------------------------------------------------------------------

void FeedPluginManager::startJob(const FeedMethod& request, bool enclosure)
{
    const quint32 sequence = send(_activeProcess, request);
    if (!sequence) {
        failUnsent(enclosure);
        return;
    }
    _jobSequence = sequence;
    _jobProcess = _activeProcess;
    _jobOpen = true;
    _unsentChannel = FeedChannel();
    _watch->start(watchInterval(_limits.hangLimit));
}

void FeedPluginManager::failUnsent(bool enclosure, const FeedChannel& channel)
{
    FEED_LOG(critical, "PluginManager") << "Download not sent to any plugin, reporting failure";
    _jobSequence = ++_sequence;
    _jobProcess = nullptr;
    _jobOpen = true;
    _unsentChannel = channel;
    _watch->stop();
    const QByteArray name = enclosure ? "downloadEnclosureFailed" : "downloadFeedsFailed";
    const quint32 sequence = _jobSequence;
    QMetaObject::invokeMethod(this, [this, sequence, name]() {
        deliver(nullptr, sequence, name, {NotSentError});
    }, Qt::QueuedConnection);
}

void FeedPluginManager::endJob()
{
    _jobOpen = false;
    _jobProcess = nullptr;
    _watch->stop();
}

void FeedPluginManager::checkHung()
{
    QProcess* process = _jobProcess;
    if (!_jobOpen || !process || _stopping.contains(process))
        return;
    // Progress may be waiting unread behind a long synchronous request.
    if (!readRecords(process) || _watch->isActive() || _jobProcess != process)
        return;
    qlonglong elapsed = 0;
    if (askElapsedTime(process, &elapsed) && elapsed <= _limits.hangLimit) {
        _watch->start(watchInterval(_limits.hangLimit - elapsed));
        return;
    }
    // A process that ended while it was asked did not hang; its exit ends the download.
    if (!_jobOpen || _jobProcess != process || _stopping.contains(process)
        || process->state() == QProcess::NotRunning)
        return;
    FEED_LOG(critical, "PluginManager") << "Plugin hung in a download, restarting: " << process->objectName();
    countRestart(process);
    stopProcess(process);
}

bool FeedPluginManager::askElapsedTime(QProcess* process, qlonglong* elapsed)
{
    FeedMethod request = makeFeedMethod("elapsedTime");
    request.setReturnType(QMetaType::typeName(qMetaTypeId<qlonglong>()));
    FeedArgument answer;
    if (!exchange(process, request, &answer))
        return false;
    const QVariant value = answer.toVariant();
    if (value.userType() != qMetaTypeId<qlonglong>())
        return false;
    *elapsed = value.toLongLong();
    return true;
}

// Wire --------------------------------------------------------------------------------------

void FeedPluginManager::call(const FeedMethod& method) const
{
    // Sending changes only the protocol's own bookkeeping (sequence numbers).
    const_cast<FeedPluginManager*>(this)->send(_activeProcess, method);
}

template<typename T>
T FeedPluginManager::call(const FeedMethod& method) const
{
    FEED_LOG(debug, "PluginManager") << "call with returnval..";
    FeedArgument answer;
    // A request changes only the protocol's own bookkeeping: sequence numbers, records read.
    if (!const_cast<FeedPluginManager*>(this)->exchange(_activeProcess, method, &answer))
        return T();
    const QVariant value = answer.toVariant();
    if (value.userType() != qMetaTypeId<T>()) {
        FEED_LOG(critical, "PluginManager") << "Answer of unexpected type: " << answer.typeName();
        return T();
    }
    return value.value<T>();
}

template QString FeedPluginManager::call<QString>(const FeedMethod&) const;
template FeedChannel FeedPluginManager::call<FeedChannel>(const FeedMethod&) const;
template qlonglong FeedPluginManager::call<qlonglong>(const FeedMethod&) const;

quint32 FeedPluginManager::send(QProcess* process, FeedMethod method)
{
    FEED_LOG(debug, "PluginManager") << method.name();
    if (!process) {
        FEED_LOG(critical, "PluginManager") << "Not calling, No active process";
        return 0;
    }
    method.setSequence(++_sequence);
    const QByteArray bytes = FeedMethod::toByteArray(method);
    const qint64 written = process->write(bytes);
    FEED_LOG(debug, "PluginManager") << method.name() << " call sent:" << written;
    if (written != bytes.size()) {
        FEED_LOG(critical, "PluginManager") << "Cannot call plugin application";
        return 0;
    }
    return method.sequence();
}

bool FeedPluginManager::exchange(QProcess* process, FeedMethod request, FeedArgument* result)
{
    if (!process) {
        FEED_LOG(debug, "PluginManager") << "not calling, No active process";
        return false;
    }
    if (_stopping.contains(process)) {
        FEED_LOG(debug, "PluginManager") << "not calling, process is stopping";
        return false;
    }
    QFile* file = _communicationFiles.value(nameOf(process));
    if (!file) {
        FEED_LOG(critical, "PluginManager") << "Invalid File object!! ";
        return false;
    }
    // Whatever an earlier, timed-out request left there must not pass for this answer.
    file->resize(0);

    QPointer<QProcess> guard(process);
    _waitingProcess = process;
    const quint32 sequence = send(process, request);
    request.setSequence(sequence);
    bool answered = false;
    const QDeadlineTimer deadline(_limits.callTimeout);
    while (sequence && guard && readRecords(process, sequence, &answered) && !answered) {
        if (deadline.hasExpired() || process->state() == QProcess::NotRunning)
            break;
        if (!process->waitForReadyRead(int(deadline.remainingTime()))) {
            if (guard && !_stopping.contains(process))
                readRecords(process, sequence, &answered);
            break;
        }
    }
    _waitingProcess = nullptr;
    if (!answered) {
        FEED_LOG(debug, "PluginManager") << "No data received";
        return false;
    }
    return readAnswer(process, request, result);
}

bool FeedPluginManager::readAnswer(QProcess* process, const FeedMethod& request, FeedArgument* result)
{
    const QString name = nameOf(process);
    FEED_LOG(debug, "PluginManager") << "Plugin name: " << name;
    QFile* file = _communicationFiles.value(name);
    if (!file) {
        FEED_LOG(critical, "PluginManager") << "Invalid File object!! ";
        return false;
    }
    FEED_LOG(debug, "PluginManager") << "Read : " << file->size() << "bytes";
    FeedMethod answer;
    QString error;
    const bool read = FeedCommunicationFile::readRecord(*file, &answer, &error);
    file->resize(0);
    if (!error.isEmpty())
        FEED_LOG(critical, "PluginManager") << "Answer refused:" << error;
    if (!read || answer.sequence() != request.sequence()
        || answer.name() != request.name()) {
        FEED_LOG(critical, "PluginManager") << "No valid answer in the communication file";
        return false;
    }
    const QList<FeedArgument> values = answer.actualArguments();
    if (values.isEmpty()) {
        FEED_LOG(critical, "PluginManager") << "Plugin gave no answer to " << request.name();
        return false;
    }
    *result = values.first();
    return true;
}

void FeedPluginManager::slotPluginResponse()
{
    QProcess* process = qobject_cast<QProcess*>(sender());
    if (!process)
        process = _activeProcess;
    if (!process) {
        FEED_LOG(critical, "PluginManager") << "Returning: No active process";
        return;
    }
    // A synchronous request reads its process's records itself.
    if (process == _waitingProcess)
        return;
    FEED_LOG(debug, "PluginManager") << "Received signal data from Plugin, available data:"
                                     << process->bytesAvailable();
    readRecords(process);
}

bool FeedPluginManager::readRecords(QProcess* process, quint32 awaitedAnswer, bool* answered)
{
    if (_stopping.contains(process)) {
        process->readAllStandardOutput();
        return true;
    }
    QDataStream stream(process);
    while (process->bytesAvailable() > 0) {
        stream.startTransaction();
        FeedMethod record;
        stream >> record;
        if (!stream.commitTransaction()) {
            // A record split across writes waits for its rest.
            if (stream.status() == QDataStream::ReadPastEnd)
                return true;
            breakProcess(process, "Broken record, killing plugin: ");
            return false;
        }
        FEED_LOG(debug, "PluginManager") << "Signal call received:" << record.name();
        if (record.name() != FeedProtocol::AnswerName)
            dispatchSignal(process, record);
        else if (answered && record.sequence() == awaitedAnswer)
            *answered = true;
        else
            FEED_LOG(debug, "PluginManager") << "Dropped late answer #" << record.sequence();
    }
    return true;
}

void FeedPluginManager::dispatchSignal(QProcess* process, const FeedMethod& record)
{
    const SignalRecord* known = signalRecordFor(record);
    if (!known) {
        FEED_LOG(critical, "PluginManager") << "Dropped unknown record: " << record.signature();
        FEED_LOG(debug, "PluginManager") << record.name() << " call:" << false;
        return;
    }
    QVariantList values;
    for (const FeedArgument& argument : record.actualArguments()) {
        const QVariant value = argument.toVariant();
        if (!value.isValid()) {
            FEED_LOG(critical, "PluginManager") << "Dropped undecodable record: " << record.signature();
            FEED_LOG(debug, "PluginManager") << record.name() << " call:" << false;
            return;
        }
        values.append(value);
    }
    if (!_jobOpen || process != _jobProcess || record.sequence() != _jobSequence) {
        FEED_LOG(debug, "PluginManager") << "Dropped stale record: " << record.name() << record.sequence();
        return;
    }
    if (_watch->isActive())
        _watch->start(watchInterval(_limits.hangLimit));
    if (known->endsDownload)
        countAnswer(process);
    const quint32 sequence = record.sequence();
    const QByteArray name = known->name;
    QMetaObject::invokeMethod(this, [this, process, sequence, name, values]() {
        deliver(process, sequence, name, values);
    }, Qt::QueuedConnection);
    FEED_LOG(debug, "PluginManager") << record.name() << " call:" << true;
}

void FeedPluginManager::deliver(QProcess* process, quint32 sequence, const QByteArray& name,
                                const QVariantList& values)
{
    if (!_jobOpen || process != _jobProcess || sequence != _jobSequence) {
        FEED_LOG(debug, "PluginManager") << "Dropped record of an ended download: " << name;
        return;
    }
    const SignalRecord* known = nullptr;
    for (const SignalRecord& record : signalRecords()) {
        if (record.name == name)
            known = &record;
    }
    if (known->endsDownload)
        endJob();
    if (name == "downloadFeedsFinished")
        emit downloadFeedsFinished();
    else if (name == "downloadFeedsFailed")
        emit downloadFeedsFailed(values.at(0).toInt());
    else if (name == "downloadEnclosureFinished")
        emit downloadEnclosureFinished(values.at(0).toMap());
    else if (name == "downloadEnclosureFailed")
        emit downloadEnclosureFailed(values.at(0).toInt());
    else
        emit enclosureDownloadProgress(values.at(0).toLongLong(), values.at(1).toLongLong());
}
