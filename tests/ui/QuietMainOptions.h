#pragma once
// Options for a main window in a test that wants no timed check: the worker never wakes meanwhile. The
// desktop has a tray area, as the offscreen platform has not: without one the window would stay in the
// task bar (test_tray.cpp covers that).
#include "MainUnit.h"
#include "POP3Check.h"

inline TMainOptions quietOptions()
{
    TMainOptions o;
    o.TrayAvailable = [] { return true; };
    o.AdjustPop3 = [](TPop3Options &p) {
        p.FirstWakeMs = 3600 * 1000;
        p.WakeMs = 3600 * 1000;
    };
    return o;
}
