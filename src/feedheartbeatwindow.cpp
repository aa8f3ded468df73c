#include "feedheartbeatwindow.h"

#include <QtGlobal>

namespace {

unsigned short toWait(int seconds)
{
    return static_cast<unsigned short>(qBound(0, seconds, int(FeedHeartbeatWindow::LongestWait)));
}

} // namespace

FeedHeartbeatWindow::FeedHeartbeatWindow()
    : _minimum(0)
    , _maximum(0)
{
}

FeedHeartbeatWindow::FeedHeartbeatWindow(int minimum, int maximum)
    : _minimum(minimum)
    , _maximum(maximum)
{
}

// The maximum is a tenth more than the interval, in double precision step by step and
// truncated: 61 minutes end at 4025 s, not 4026. This unit is built without contracted
// floating-point operations so that no fused multiply-add changes that.
FeedHeartbeatWindow FeedHeartbeatWindow::forInterval(int minutes)
{
    const double interval = minutes;
    const double tenth = interval * 0.1;
    const double longest = interval + tenth;
    return FeedHeartbeatWindow(minutes * 60, static_cast<int>(longest * 60.0));
}

unsigned short FeedHeartbeatWindow::waitMinimum() const
{
    return fitsOneWait() ? toWait(_minimum) : LongestWait;
}

unsigned short FeedHeartbeatWindow::waitMaximum() const
{
    return fitsOneWait() ? toWait(_maximum) : LongestWait;
}

FeedHeartbeatWindow FeedHeartbeatWindow::rest() const
{
    return FeedHeartbeatWindow(_minimum - LongestWait, _maximum - LongestWait);
}
