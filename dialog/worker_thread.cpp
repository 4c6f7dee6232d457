#include "worker_thread.h"

#include <utility>

WorkerThread::WorkerThread() : context_(new QObject) {
    thread_.setObjectName(QStringLiteral("worker"));
    context_->moveToThread(&thread_);
    thread_.start();
}

WorkerThread::~WorkerThread() {
    thread_.quit();
    thread_.wait();
    delete context_;
}

void WorkerThread::Post(std::function<void()> job) {
    QMetaObject::invokeMethod(context_, std::move(job), Qt::QueuedConnection);
}
