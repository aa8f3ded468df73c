#ifndef REFRESHDAEMON_H
#define REFRESHDAEMON_H

#include "storeendpoint.h"

#include <QProcess>
#include <QString>

// The built daemon on a store of its own, its folders below a root, with the settings, the
// logger configuration and the transfer-list library as the package installs them: its log
// holds warnings and failures only.
class RefreshDaemon
{
public:
    explicit RefreshDaemon(const QString& root);
    ~RefreshDaemon();
    RefreshDaemon(const RefreshDaemon&) = delete;
    RefreshDaemon& operator=(const RefreshDaemon&) = delete;

    // Starts the store and the daemon and waits for its first answer; false, said on standard
    // error with the end of its log, when either did not come up.
    bool start();
    // False, said as start() says it, with the reason given.
    bool fail(const QString& why) const;
    qint64 processId() const { return _daemon.processId(); }

private:
    QString _root;
    StoreEndpoint _endpoint;
    QProcess _daemon;
};

// HOME and the XDG folders below the root, for a program this benchmark starts.
QProcessEnvironment homeIn(const QString& root);

#endif
