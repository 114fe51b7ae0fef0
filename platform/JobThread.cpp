#include "JobThread.h"

#include <QMutexLocker>

TJobThread::TJobThread(QObject *parent) : QThread(parent) {}

TJobThread::~TJobThread()
{
    std::function<void()> abort;
    {
        QMutexLocker lock(&m_mutex);
        m_stop = true;
        m_jobs.clear();
        abort = m_abort;
        m_wake.wakeAll();
    }
    if (abort)
        abort();
    wait();
}

void TJobThread::Post(std::function<void()> job)
{
    QMutexLocker lock(&m_mutex);
    if (m_stop)
        return;
    m_jobs.enqueue(std::move(job));
    m_wake.wakeAll();
    if (!isRunning())
        start(QThread::LowPriority);
}

void TJobThread::SetAbort(std::function<void()> abort)
{
    QMutexLocker lock(&m_mutex);
    m_abort = std::move(abort);
}

bool TJobThread::Busy() const
{
    QMutexLocker lock(&m_mutex);
    return m_running || !m_jobs.isEmpty();
}

void TJobThread::run()
{
    for (;;) {
        std::function<void()> job;
        {
            QMutexLocker lock(&m_mutex);
            m_running = false;
            while (!m_stop && m_jobs.isEmpty())
                m_wake.wait(&m_mutex);
            if (m_stop)
                return;
            job = m_jobs.dequeue();
            m_running = true;
        }
        job();
    }
}
