#include "feedsignalcatcher.h"

#include "toolframe.h"

#include <QDateTime>

namespace {

// Qt's own form of a time would add milliseconds; the watch shows whole seconds.
void printTimeAndSeparator()
{
    const QString time = QDateTime::currentDateTime().time().toString(QStringLiteral("HH:mm:ss"));
    output().noquote() << QStringLiteral("QTime(\"%1\")").arg(time);
    output() << "************************";
}

} // namespace

FeedSignalCatcher::FeedSignalCatcher()
    : QObject(nullptr)
{
}

void FeedSignalCatcher::refreshStarted(const QString& channelUri)
{
    output() << "void FeedSignalCatcher::refreshStarted(const QString&)" << ":" << channelUri;
    printTimeAndSeparator();
}

void FeedSignalCatcher::refreshCompleted(const QString& channelUri)
{
    output() << "void FeedSignalCatcher::refreshCompleted(const QString&)" << ":" << channelUri;
    printTimeAndSeparator();
}

void FeedSignalCatcher::refreshError(const QString& channelUri, int errorCode)
{
    output() << "void FeedSignalCatcher::refreshError(const QString&, int)" << ":" << channelUri;
    output() << "Error: " << errorCode;
    printTimeAndSeparator();
}

// The value is a refresh state, though labelled as an error.
void FeedSignalCatcher::refreshState(int errorCode)
{
    output() << "void FeedSignalCatcher::refreshState(int)";
    output() << "Error: " << errorCode;
    printTimeAndSeparator();
}

void FeedSignalCatcher::editChannelStatus(const QString& channelUri, int errorCode)
{
    output() << "void FeedSignalCatcher::editChannelStatus(const QString&, int)" << ":" << channelUri;
    output() << "Error: " << errorCode;
    printTimeAndSeparator();
}

void FeedSignalCatcher::enclosureDownloadCompleted(const QString& enclosureUri, qlonglong timeElapsed)
{
    const char* const signature = "void FeedSignalCatcher::enclosureDownloadCompleted(const QString&, qlonglong)";
    output() << signature << ":" << enclosureUri;
    output() << signature << ":" << timeElapsed;
    printTimeAndSeparator();
}

void FeedSignalCatcher::enclosureDownloadError(const QStringList& enclosureUriList, int errorCode,
                                               qlonglong timeElapsed)
{
    output() << "void FeedSignalCatcher::enclosureDownloadError(const QStringList&, int, qlonglong)" << ":"
             << enclosureUriList;
    output() << "Error: " << errorCode;
    output() << "Time elapsed: " << timeElapsed;
    printTimeAndSeparator();
}

void FeedSignalCatcher::enclosureDownloadStarted(const QString& enclosureUri)
{
    output() << "void FeedSignalCatcher::enclosureDownloadStarted(const QString&)" << ":" << enclosureUri;
    printTimeAndSeparator();
}

void FeedSignalCatcher::enclosureDownloadProgress(const QString& enclosureUri, qlonglong totalSize,
                                                  qlonglong downloadedSize, qlonglong timeRemaining)
{
    output() << "void FeedSignalCatcher::enclosureDownloadProgress(const QString&, qlonglong, qlonglong, qlonglong)"
             << ":" << enclosureUri;
    output() << "Total size(Bytes): " << totalSize;
    output() << "Downloaded size(Bytes): " << downloadedSize;
    output() << "Time remaining(seconds): " << timeRemaining;
    printTimeAndSeparator();
}
