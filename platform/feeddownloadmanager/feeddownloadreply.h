#ifndef FEEDDOWNLOADREPLY_H
#define FEEDDOWNLOADREPLY_H

#include <QNetworkReply>

// The finished state of one download: status, headers and error of the last response, with
// the body already written to the caller's device. It holds no data of its own to read.
class FeedDownloadReply : public QNetworkReply
{
    Q_OBJECT

public:
    // A copy of what the network reply answered.
    explicit FeedDownloadReply(const QNetworkReply& source, QObject* parent = nullptr);
    // A request that never reached the network.
    FeedDownloadReply(const QUrl& url, QObject* parent = nullptr);

    void setFailure(NetworkError error, const QString& text, bool limitExceeded = false);
    // The request ended past its deadline or its size limit: what it wrote is no start to go on from.
    bool limitExceeded() const { return _limitExceeded; }
    void setTotalLength(qint64 length);
    // The server had nothing left to send: the device already holds all "length" bytes.
    void setAlreadyComplete(qint64 length);

    void abort() override {}
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char*, qint64) override { return -1; }

private:
    Q_DISABLE_COPY(FeedDownloadReply)

    bool _limitExceeded = false;
};

#endif
