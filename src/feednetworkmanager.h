#ifndef FEEDNETWORKMANAGER_H
#define FEEDNETWORKMANAGER_H

#include <QObject>

// The network as the scheduler sees it. There is no connection manager to ask yet, so the
// network counts as up and not WLAN: a fetch without a network still fails with the
// plug-in's own error code.
class FeedNetworkManager : public QObject
{
    Q_OBJECT

public:
    static FeedNetworkManager* instance();
    static void releaseInstance();

    bool isConnected() const;
    bool isUsingWLAN() const;

private:
    FeedNetworkManager();
    ~FeedNetworkManager() override;
    Q_DISABLE_COPY(FeedNetworkManager)
};

#endif
