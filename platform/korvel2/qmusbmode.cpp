#include "qmusbmode.h"

#include "korvel2control.h"

namespace Vantor {

// Nothing here lends a file system to a USB host: the mode stays Idle unless a test sets it.
QmUSBMode::QmUSBMode(QObject* parent)
    : QObject(parent)
{
    Korvel2Control* control = Korvel2Control::instance();
    connect(control, &Korvel2Control::usbModeSet, this, [this](int mode) { emit modeChanged(Mode(mode)); });
    connect(control, &Korvel2Control::unmountAnnounced, this,
            [this](int mountPath) { emit fileSystemWillUnmount(MountPath(mountPath)); });
}

QmUSBMode::~QmUSBMode() = default;

QmUSBMode::Mode QmUSBMode::getMode() const
{
    return Mode(Korvel2Control::instance()->usbMode());
}

} // namespace Vantor
