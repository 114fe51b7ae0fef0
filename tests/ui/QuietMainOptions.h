#pragma once
// Options for a main window in a test that wants no timed check: the worker never wakes meanwhile.
#include "MainUnit.h"
#include "POP3Check.h"

inline TMainOptions quietOptions()
{
    TMainOptions o;
    o.AdjustPop3 = [](TPop3Options &p) {
        p.FirstWakeMs = 3600 * 1000;
        p.WakeMs = 3600 * 1000;
    };
    return o;
}
