#ifndef QMUSBMODE_H
#define QMUSBMODE_H

#include <QObject>

namespace Vantor {

// The USB mode of the device and the notice that a file system is about to go to a USB host.
class QmUSBMode : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(QmUSBMode)

public:
    enum Mode {
        Undefined = 0,
        Attached = 1,
        Idle = 2,        // no file system is lent to a USB host
        MassStorage = 3, // the file system is the host's
        ChargingOnly = 4
    };
    Q_ENUM(Mode)

    enum MountPath {
        DocumentsMountPath = 0,
        MemoryCardMountPath = 1
    };
    Q_ENUM(MountPath)

    explicit QmUSBMode(QObject* parent = nullptr);
    ~QmUSBMode() override;

    Mode getMode() const;

signals:
    void modeChanged(Vantor::QmUSBMode::Mode mode);
    void fileSystemWillUnmount(Vantor::QmUSBMode::MountPath mountPath);
};

} // namespace Vantor

#endif
