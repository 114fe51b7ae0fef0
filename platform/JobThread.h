#pragma once
// A thread of its own for blocking work that the window's thread must never wait for (an HTTP request,
// say): jobs run one after the other, in the order posted. Ending the object drops the jobs not begun,
// calls the abort set for the one under way and waits for it to give up.
#include <QMutex>
#include <QQueue>
#include <QThread>
#include <QWaitCondition>

#include <functional>

class TJobThread : public QThread {
public:
    explicit TJobThread(QObject *parent = nullptr);
    ~TJobThread() override;

    // Runs job on the thread after the jobs posted before it (starting the thread when needed).
    void Post(std::function<void()> job);
    // How to make the job under way give up (called from the thread that ends this object).
    void SetAbort(std::function<void()> abort);
    // True while a job is queued or running.
    bool Busy() const;

protected:
    void run() override;

private:
    mutable QMutex m_mutex;
    QWaitCondition m_wake;
    QQueue<std::function<void()>> m_jobs;
    std::function<void()> m_abort;
    bool m_running = false;
    bool m_stop = false;
};
