#ifndef FEEDDEVICESTATEMANAGER_H
#define FEEDDEVICESTATEMANAGER_H

#include "feeddevicestate.h"

#include <QObject>

// The device state the scheduler follows: USB mass-storage mode and the network. Nothing
// reports either yet, so the state stays normal and a connection counts as open.
class FeedDeviceStateManager : public QObject
{
    Q_OBJECT

public:
    static FeedDeviceStateManager* instance();
    static void releaseInstance();

    FeedDeviceState::State deviceState() const;
    bool createConnection(bool connectInBackground);
    bool isUsingWLAN();

signals:
    void deviceStateChanged(FeedDeviceState::State state, FeedDeviceState::Change change);

private:
    FeedDeviceStateManager();
    ~FeedDeviceStateManager() override;
    Q_DISABLE_COPY(FeedDeviceStateManager)
};

#endif
