#include "feedpluginapplication.h"

#include "feedcommunicationfile.h"
#include "feedlog.h"
#include "feedmethod.h"
#include "feedplugininterface.h"
#include "feedtypes.h"

#include <QBuffer>
#include <QDataStream>
#include <QMetaMethod>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <unistd.h>

namespace {

const QByteArray VersionRequest = QByteArrayLiteral("version");
const QByteArray ElapsedTimeRequest = QByteArrayLiteral("elapsedTime");

bool startsJob(const QByteArray& name)
{
    return name == "downloadFeeds" || name == "downloadEnclosure"
           || name == "resumeDownloadEnclosure";
}

// Only the interface's own public slots may be called: a request must never reach what
// QObject or the plug-in class offers besides them (deleteLater, private slots, ...).
bool isInterfaceSlot(const QByteArray& signature)
{
    const QMetaObject& interface = FeedPluginInterface::staticMetaObject;
    const int index = interface.indexOfMethod(signature.constData());
    if (index < QObject::staticMetaObject.methodCount())
        return false;
    const QMetaMethod method = interface.method(index);
    return method.methodType() == QMetaMethod::Slot && method.access() == QMetaMethod::Public;
}

} // namespace

FeedPluginApplication::FeedPluginApplication(FeedPluginInterface* plugin, int& argc, char** argv)
    : QCoreApplication(argc, argv)
    , _plugin(plugin)
    , _interfaceVersion(QString::fromLatin1(FeedProtocol::InterfaceVersion))
{
    FeedTypes::registerTypes();
    FeedMethod::registerTypes();
    // Keep the real standard output for records; stray prints go to standard error.
    _output = ::dup(STDOUT_FILENO);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);

    const QStringList arguments = QCoreApplication::arguments();
    _communicationFile.setFileName(arguments.value(1));
    QString error;
    if (!FeedCommunicationFile::open(_communicationFile, &error)) {
        fail(QStringLiteral("Cannot open communication file \"%1\": %2")
                 .arg(arguments.value(1), error));
        return;
    }
    if (!_plugin) {
        fail(QStringLiteral("No plugin object"));
        return;
    }
    connectSignals();
    _inputNotifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(_inputNotifier, &QSocketNotifier::activated, this, &FeedPluginApplication::readInput);
}

FeedPluginApplication::~FeedPluginApplication()
{
    if (_output >= 0)
        ::close(_output);
}

qint64 FeedPluginApplication::elapsedTime() const
{
    return _busy ? _progress.elapsed() : 0;
}

bool FeedPluginApplication::writeOutput(const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(_output, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            FEED_LOG(critical, "Plugin") << "Cannot write to standard output";
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

void FeedPluginApplication::readInput()
{
    char chunk[65536];
    const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (count < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (count <= 0) {
        FEED_LOG(debug, "Plugin") << "Standard input closed, quitting";
        _inputNotifier->setEnabled(false);
        quit();
        return;
    }
    _input.append(chunk, int(count));
    handleRecords();
}

void FeedPluginApplication::handleRecords()
{
    while (!_input.isEmpty()) {
        QBuffer buffer(&_input);
        buffer.open(QIODevice::ReadOnly);
        QDataStream stream(&buffer);
        FeedMethod request;
        stream >> request;
        if (stream.status() == QDataStream::ReadPastEnd)
            return;
        if (stream.status() != QDataStream::Ok) {
            fail(QStringLiteral("Broken request record"));
            return;
        }
        _input.remove(0, int(buffer.pos()));
        handleRequest(request);
    }
}

void FeedPluginApplication::handleRequest(const FeedMethod& request)
{
    const QByteArray name = request.name();
    if (name == VersionRequest) {
        answer(request, FeedArgument::fromValue(_interfaceVersion));
        return;
    }
    if (name == ElapsedTimeRequest) {
        answer(request, FeedArgument::fromValue(qlonglong(elapsedTime())));
        return;
    }
    FeedArgument result;
    if (!invokePlugin(request, &result))
        FEED_LOG(warning, "Plugin") << "Refused call" << request.signature();
    if (!request.returnType().isEmpty())
        answer(request, result);
}

bool FeedPluginApplication::invokePlugin(const FeedMethod& request, FeedArgument* result)
{
    const QByteArray signature = request.signature();
    if (!isInterfaceSlot(signature) || !request.hasDecodableArguments())
        return false;
    const QMetaObject* meta = _plugin->metaObject();
    const QMetaMethod method = meta->method(meta->indexOfMethod(signature.constData()));
    const QByteArray returnType = request.returnType();
    if (!returnType.isEmpty() && QMetaType::type(returnType.constData()) != method.returnType())
        return false;
    if (startsJob(request.name()))
        startJob(request.sequence());

    QVariant value;
    QGenericReturnArgument returned;
    if (!returnType.isEmpty()) {
        value = QVariant(method.returnType(), nullptr);
        returned = QGenericReturnArgument(method.typeName(), value.data());
    }
    const QList<QGenericArgument> a = request.genericArguments();
    if (!method.invoke(_plugin, Qt::DirectConnection, returned, a[0], a[1], a[2], a[3], a[4],
                       a[5], a[6], a[7], a[8], a[9]))
        return false;
    if (!returnType.isEmpty())
        *result = FeedArgument::fromValue(value.userType(), value.constData());
    return true;
}

void FeedPluginApplication::answer(const FeedMethod& request, const FeedArgument& result)
{
    FeedMethod record(request.name(), request.sequence());
    record.setReturnType(request.returnType());
    if (!result.isEmpty())
        record.addArgument(result);
    // The whole answer is in the file before the wake-up is written.
    if (!FeedCommunicationFile::writeRecord(_communicationFile, record))
        FEED_LOG(critical, "Plugin") << "Cannot write answer:" << _communicationFile.errorString();
    writeOutput(FeedMethod::toByteArray(FeedMethod(FeedProtocol::AnswerName, request.sequence())));
}

void FeedPluginApplication::sendSignal(const FeedMethod& record)
{
    writeOutput(FeedMethod::toByteArray(record));
}

void FeedPluginApplication::connectSignals()
{
    auto record = [this](const char* name) { return FeedMethod(name, _jobSequence); };
    auto failed = [this, record](const char* name) {
        return [this, record, name](int code) {
            endJob();
            FeedMethod method = record(name);
            method.addArgument(FeedArgument::fromValue(code));
            sendSignal(method);
        };
    };
    connect(_plugin, &FeedPluginInterface::downloadFeedsFinished, this, [this, record]() {
        endJob();
        sendSignal(record("downloadFeedsFinished"));
    });
    connect(_plugin, &FeedPluginInterface::downloadFeedsFailed, this, failed("downloadFeedsFailed"));
    connect(_plugin, &FeedPluginInterface::downloadEnclosureFinished, this,
            [this, record](const QVariantMap& result) {
                endJob();
                FeedMethod method = record("downloadEnclosureFinished");
                method.addArgument(FeedArgument::fromValue(result));
                sendSignal(method);
            });
    connect(_plugin, &FeedPluginInterface::downloadEnclosureFailed, this, failed("downloadEnclosureFailed"));
    connect(_plugin, &FeedPluginInterface::enclosureDownloadProgress, this,
            [this, record](qint64 received, qint64 total) {
                if (_busy)
                    _progress.restart();
                FeedMethod method = record("enclosureDownloadProgress");
                method.addArgument(FeedArgument::fromValue(qlonglong(received)));
                method.addArgument(FeedArgument::fromValue(qlonglong(total)));
                sendSignal(method);
            });
}

void FeedPluginApplication::startJob(quint32 sequence)
{
    _jobSequence = sequence;
    _busy = true;
    _progress.start();
}

void FeedPluginApplication::endJob()
{
    _busy = false;
}

void FeedPluginApplication::fail(const QString& reason)
{
    FEED_LOG(critical, "Plugin") << reason;
    if (_inputNotifier)
        _inputNotifier->setEnabled(false);
    QTimer::singleShot(0, this, []() { QCoreApplication::exit(1); });
}
