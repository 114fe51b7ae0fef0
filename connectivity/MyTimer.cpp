#include "MyTimer.h"

TMyTimer32::TMyTimer32(QObject *parent) : QObject(parent)
{
    m_step.setTimerType(Qt::PreciseTimer);
    connect(&m_step, &QTimer::timeout, this, &TMyTimer32::StepElapsed);
    m_sleepStep = SleepStepFor(m_interval);
}

TMyTimer32::~TMyTimer32()
{
    m_step.stop();
}

unsigned TMyTimer32::SleepStepFor(unsigned interval)
{
    if (interval < 500)
        return interval;
    if (interval % 500 == 0)
        return 500;
    return interval / (interval / 500);
}

void TMyTimer32::SetEnabled(bool enabled)
{
    m_wantEnabled = enabled;
    apply();
}

void TMyTimer32::SetInterval(unsigned ms)
{
    m_interval = ms;
    m_sleepStep = SleepStepFor(ms);
    apply();
}

void TMyTimer32::SetOnTimer(std::function<void()> handler)
{
    m_onTimer = std::move(handler);
    apply();
}

void TMyTimer32::apply()
{
    const bool run = m_wantEnabled && m_interval > 0 && m_onTimer;
    if (!run) {
        m_step.stop();
        m_enabled = false;
        return;
    }
    if (!m_step.isActive() || m_step.interval() != int(m_sleepStep)) {
        // A fresh start counts a whole interval from now.
        m_elapsed = 0;
        m_step.start(int(m_sleepStep));
    }
    m_enabled = true;
}

void TMyTimer32::StepElapsed()
{
    if (!m_enabled || m_inHandler)
        return;
    m_elapsed += m_sleepStep;
    if (m_elapsed < m_interval)
        return;
    m_elapsed = 0;
    m_inHandler = true;
    try {
        if (m_onTimer)
            m_onTimer();
    } catch (...) {
        // A failing handler must not stop the timer.
    }
    m_inHandler = false;
}
