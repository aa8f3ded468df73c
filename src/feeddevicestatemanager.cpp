#include "feeddevicestatemanager.h"

#include "feedlog.h"
#include "feednetworkmanager.h"

#include <QMutex>

FeedDeviceStateManager* FeedDeviceStateManager::_single = nullptr;
QMutex FeedDeviceStateManager::_mutex;

namespace {

const char Category[] = "Engine";

} // namespace

FeedDeviceStateManager::FeedDeviceStateManager(QObject* parent)
    : QObject(parent)
    , _state(FeedDeviceState::State(0))
    , _networkManager(nullptr)
    , _usbMode(new Vantor::QmUSBMode(this))
    , _pendingConnected(false)
    , _pending(false)
{
    qRegisterMetaType<FeedDeviceState::State>("FeedDeviceState::State");
    qRegisterMetaType<FeedDeviceState::Change>("FeedDeviceState::Change");
    if (_usbMode->getMode() == Vantor::QmUSBMode::MassStorage)
        _state = FeedDeviceState::MassStorageMode;
    connect(_usbMode, SIGNAL(modeChanged(Vantor::QmUSBMode::Mode)), this,
            SLOT(usbModeChanged(Vantor::QmUSBMode::Mode)));
    connect(_usbMode, SIGNAL(fileSystemWillUnmount(Vantor::QmUSBMode::MountPath)), this,
            SLOT(fileSystemUnmount(Vantor::QmUSBMode::MountPath)));
    _networkManager = FeedNetworkManager::instance();
    connect(_networkManager, SIGNAL(connectionStateChanged(bool)), this, SLOT(connectionStateChanged(bool)));
}

FeedDeviceStateManager* FeedDeviceStateManager::instance()
{
    if (_single)
        return _single;
    _mutex.lock();
    FEED_LOG(debug, Category) << "mutex locked";
    if (!_single) {
        FEED_LOG(debug, Category) << "object init";
        _single = new FeedDeviceStateManager;
    }
    _mutex.unlock();
    FEED_LOG(debug, Category) << "mutex unlocked";
    return _single;
}

void FeedDeviceStateManager::releaseInstance()
{
    if (!_single)
        return;
    _mutex.lock();
    FEED_LOG(debug, Category) << "mutex locked";
    if (_single) {
        FEED_LOG(debug, Category) << "object de-init";
        delete _single;
        _single = nullptr;
    }
    _mutex.unlock();
    FEED_LOG(debug, Category) << "mutex unlocked";
}

void FeedDeviceStateManager::usbModeChanged(Vantor::QmUSBMode::Mode mode)
{
    FEED_LOG(debug, Category) << "********* Entered USB Mode : " << int(mode);
    if (mode == Vantor::QmUSBMode::MassStorage) {
        enterMassStorage("Enter mass storage mode");
        return;
    }
    // A hand-over announced by an unmount notice and then abandoned (another mode chosen, the
    // cable pulled) ends mass storage as the idle mode does.
    if (mode == Vantor::QmUSBMode::Idle || inMassStorage()) {
        leaveMassStorage();
        return;
    }
    FEED_LOG(debug, Category) << "Ignoring usb mode : " << int(mode);
}

void FeedDeviceStateManager::fileSystemUnmount(Vantor::QmUSBMode::MountPath mountPath)
{
    if (mountPath != Vantor::QmUSBMode::DocumentsMountPath)
        return;
    enterMassStorage("Going to unmount filesystem before entering mass storage mode");
}

bool FeedDeviceStateManager::createConnection(const bool& userMode)
{
    return _networkManager->createConnection(userMode);
}

bool FeedDeviceStateManager::isUsingWLAN()
{
    return _networkManager->isUsingWLAN();
}

void FeedDeviceStateManager::connectionStateChanged(const bool& connected)
{
    FEED_LOG(debug, Category) << "Connection state:" << connected;
    _pendingConnected = connected;
    if (inMassStorage()) {
        FEED_LOG(debug, Category) << "State changed while in usb mode, marking as pending";
        _pending = true;
        return;
    }
    setBit(FeedDeviceState::NetworkDisconnected, !connected, FeedDeviceState::NetworkChange);
}

void FeedDeviceStateManager::enterMassStorage(const char* message)
{
    if (inMassStorage())
        return;
    FEED_LOG(debug, Category) << message;
    setBit(FeedDeviceState::MassStorageMode, true, FeedDeviceState::UsbChange);
}

void FeedDeviceStateManager::leaveMassStorage()
{
    if (!inMassStorage())
        return;
    FEED_LOG(debug, Category) << "Exit from mass storage mode";
    setBit(FeedDeviceState::MassStorageMode, false, FeedDeviceState::UsbChange);
    if (!_pending)
        return;
    FEED_LOG(debug, Category) << "Sending penging network state update";
    _pending = false;
    connectionStateChanged(_pendingConnected);
}

// Announces the word only when the bit really turns over.
void FeedDeviceStateManager::setBit(FeedDeviceState::State bit, bool on, FeedDeviceState::Change change)
{
    const FeedDeviceState::State word = FeedDeviceState::State(on ? _state | bit : _state & ~bit);
    if (word == _state)
        return;
    _state = word;
    emit deviceStateChanged(_state, change);
}
