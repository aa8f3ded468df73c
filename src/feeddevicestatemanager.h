#ifndef FEEDDEVICESTATEMANAGER_H
#define FEEDDEVICESTATEMANAGER_H

#include "feeddevicestate.h"

#include <QObject>
#include <qmusbmode.h>

class FeedNetworkManager;
class QMutex;

// One word for USB mass-storage mode and network loss, announced on every change; forwards the
// connection requests of the scheduler and the service to the network manager.
class FeedDeviceStateManager : public QObject
{
    Q_OBJECT

public:
    static FeedDeviceStateManager* instance();
    static void releaseInstance();

    FeedDeviceState::State deviceState() const { return _state; }

signals:
    void deviceStateChanged(FeedDeviceState::State, FeedDeviceState::Change);

public slots:
    void usbModeChanged(Vantor::QmUSBMode::Mode mode);
    void fileSystemUnmount(Vantor::QmUSBMode::MountPath mountPath);
    bool createConnection(const bool& userMode);
    bool isUsingWLAN();
    void connectionStateChanged(const bool& connected);

private:
    Q_DISABLE_COPY(FeedDeviceStateManager)

    explicit FeedDeviceStateManager(QObject* parent = nullptr);

    bool inMassStorage() const { return _state & FeedDeviceState::MassStorageMode; }
    void setBit(FeedDeviceState::State bit, bool on, FeedDeviceState::Change change);
    void enterMassStorage(const char* message);
    void leaveMassStorage();

    static FeedDeviceStateManager* _single;
    static QMutex _mutex;

    FeedDeviceState::State _state;
    FeedNetworkManager* _networkManager;
    Vantor::QmUSBMode* _usbMode;
    bool _pendingConnected;
    bool _pending;
};

#endif
