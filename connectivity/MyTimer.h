#pragma once
// A timer that calls its handler on the thread that owns it, once per interval. Time is counted in
// sleep steps (500 ms, or the interval itself when shorter), so a handler always runs whole and alone:
// a handler that disables its own timer is not called again, and one that re-enables it starts a fresh
// interval after it has returned. The counting is done by a QTimer on the owner's thread; there is no
// worker thread to stop.
#include <QObject>
#include <QTimer>

#include <functional>

class TMyTimer32 : public QObject {
    Q_OBJECT
public:
    explicit TMyTimer32(QObject *parent = nullptr);
    ~TMyTimer32() override;

    // True only while the timer really runs: enabled, with a non-zero interval and a handler.
    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool enabled);
    unsigned Interval() const { return m_interval; }
    void SetInterval(unsigned ms);
    void SetOnTimer(std::function<void()> handler);
    unsigned SleepStep() const { return m_sleepStep; }
    bool InHandler() const { return m_inHandler; }

    // The step for an interval: an interval below 500 ms is its own step; otherwise 500 ms, or, when
    // the interval is not a multiple of 500, the interval divided evenly into whole steps near 500.
    static unsigned SleepStepFor(unsigned interval);

    // One sleep step has passed (the step timer's tick; tests call it to step without waiting).
    void StepElapsed();

private:
    void apply();

    QTimer m_step;
    std::function<void()> m_onTimer;
    bool m_wantEnabled = false;
    bool m_enabled = false;
    unsigned m_interval = 1000;
    unsigned m_sleepStep = 500;
    unsigned m_elapsed = 0;
    bool m_inHandler = false;
};
