#ifndef FEEDDOWNLOADMANAGER_H
#define FEEDDOWNLOADMANAGER_H

#include "feedcontentdecoder.h"

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QTimer>
#include <QUrl>

class FeedDownloadReply;
class QIODevice;

// Downloads one URL at a time over HTTP(S) into a device, with pause and resume.
// Every request ends with exactly one finished() or, when paused, one paused(); a request
// replaced by a newer one ends silently. The reply handed out by finished() is the
// receiver's to delete. The device is opened (and a file created or truncated) only once a
// successful answer has begun, so a refused or failed request leaves it as it was. A
// compressed body is inflated here, piece by piece, so that the size limit holds for what it
// inflates to and memory stays bounded whatever its ratio.
class FeedDownloadManager : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultStallTimeout = 60000;
    // A transfer that receives less than this in one stall time-out counts as stalled.
    static constexpr qint64 MinimumStallProgress = 1024;
    // Redirects are followed up to this many hops, never from https to http.
    static constexpr int MaximumRedirects = 8;
    // What a reply may hold before it is read.
    static constexpr qint64 ReadBufferSize = 256 * 1024;

    explicit FeedDownloadManager(QObject* parent = nullptr);
    ~FeedDownloadManager() override;

    // Sent with every request that follows.
    void setAcceptHeader(const QString& accept);
    // Sent with the next request only; an empty value, or one with a line break, is not sent.
    void setRawHeader(const QByteArray& name, const QByteArray& value);
    // What the device may hold after the next request only, in bytes; 0 means no limit. A request
    // that passes it ends with UnknownContentError and a reply whose limitExceeded() is true.
    void setMaximumSize(qint64 bytes);
    // A transfer that receives less than MinimumStallProgress bytes in this long fails with
    // TimeoutError.
    void setStallTimeout(int milliseconds);
    // The next request fails with TimeoutError, and a reply whose limitExceeded() is true, when it
    // has not ended in this long; 0: never.
    void setDeadline(int milliseconds);

    // GET into the device, which must be closed; it is opened truncated once the answer has
    // begun with success, and closed at the end. What progress() reports is in the device.
    void start(const QUrl& url, QIODevice* device);
    // Continues a download whose first part the device already holds (asks for the rest
    // with a Range header; a server that ignores it sends the whole body again).
    void resume(const QUrl& url, QIODevice* device);
    void pause();
    void stop();

signals:
    void finished(QNetworkReply* reply);
    void progress(qint64 received, qint64 total);
    void paused();

private:
    struct Failure
    {
        QNetworkReply::NetworkError error = QNetworkReply::NoError;
        QString text;
        bool limitExceeded = false;
    };

    void request(const QUrl& url, QIODevice* device, qint64 offset);
    void refuse(const QUrl& url, QNetworkReply::NetworkError error, const QString& text);
    void handleMetaData();
    bool beginBody();
    void handleData();
    bool store(const QByteArray& data);
    void handleFinished();
    void handleStall();
    void fail(QNetworkReply::NetworkError error, const QString& text, bool limitExceeded = false);
    void complete(FeedDownloadReply* result);
    void discard();
    bool accepted() const;

    // Made at the first request: the plug-in builds this object before its application exists,
    // and Qt's network set-up needs the application.
    QNetworkAccessManager* _network = nullptr;
    QTimer _stallTimer;
    QTimer _deadlineTimer;
    QByteArray _accept;
    QList<QPair<QByteArray, QByteArray>> _rawHeaders;
    qint64 _maximumSize = 0;
    int _nextDeadline = 0;

    QPointer<QNetworkReply> _reply;
    QIODevice* _device = nullptr;
    qint64 _offset = 0;
    qint64 _received = 0;
    qint64 _receivedInWindow = 0;
    qint64 _limit = 0;
    bool _bodyBegun = false;
    FeedContentDecoder _decoder;
    Failure _storeFailure;
    quint64 _generation = 0;
};

#endif
