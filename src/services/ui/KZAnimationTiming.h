#pragma once

// Every duration of the shared widgets passes through here, so that a test
// can shorten them all at once and then check end states instead of frames.
class KZAnimationTiming {
public:
    // Milliseconds for a duration given in seconds, scaled; never below 1 so
    // that a shortened animation still runs through the event loop.
    static int milliseconds(double seconds);
    // 1.0 in the program; tests set e.g. 0.01.
    static double scale();
    static void setScale(double scale);
};
