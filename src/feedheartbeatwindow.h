#ifndef FEEDHEARTBEATWINDOW_H
#define FEEDHEARTBEATWINDOW_H

// The window in seconds of one automatic-refresh wait, from the interval in minutes. The
// heartbeat takes 16-bit second counts: a window that starts beyond them is waited out in
// legs of the longest wait, each leaving the rest of the window.
class FeedHeartbeatWindow
{
public:
    static const int LongestWait = 65535;

    FeedHeartbeatWindow();
    FeedHeartbeatWindow(int minimum, int maximum);
    static FeedHeartbeatWindow forInterval(int minutes);

    int minimum() const { return _minimum; }
    int maximum() const { return _maximum; }

    // False when this window needs a leg of the longest wait first.
    bool fitsOneWait() const { return _minimum <= LongestWait; }
    // The bounds of the next wait to ask for.
    unsigned short waitMinimum() const;
    unsigned short waitMaximum() const;
    // What is left once a leg has passed.
    FeedHeartbeatWindow rest() const;

private:
    int _minimum;
    int _maximum;
};

#endif
