#ifndef FEEDDEVICESTATE_H
#define FEEDDEVICESTATE_H

#include <QMetaType>

// The device state word and the kind of change, shared by the daemon's managers and the
// transfer-list library through the device-state signal.
namespace FeedDeviceState {

// Bits of one word: 0 to 3.
enum State {
    MassStorageMode = 1,
    NetworkDisconnected = 2
};

enum Change {
    NetworkChange = 0,
    UsbChange = 1
};

} // namespace FeedDeviceState

Q_DECLARE_METATYPE(FeedDeviceState::State)
Q_DECLARE_METATYPE(FeedDeviceState::Change)

#endif
