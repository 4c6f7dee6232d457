// One long-lived thread that runs jobs one after another, so that whatever a
// job leaves in thread-local state (such as the OpenMP runtime's thread count
// and its pool of threads) is still there for the next job.
#pragma once

#include <QThread>
#include <functional>

class WorkerThread {
public:
    WorkerThread();
    // Waits for the job at hand to end; jobs not yet started are dropped.
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Queues `job`; it runs on the worker thread after the jobs before it.
    void Post(std::function<void()> job);

private:
    QThread thread_;
    QObject* context_;  // lives in thread_; jobs are delivered to it
};
