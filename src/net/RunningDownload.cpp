#include "net/RunningDownload.h"

#include <QEventLoop>

#include <utility>

RunningDownload::RunningDownload(std::function<void(RunningDownload&)> job) {
    worker_ = std::thread([this, job = std::move(job)] {
        try {
            job(*this);
        } catch (...) {
            // raised again on the GUI thread by Join
            error_ = std::current_exception();
        }
        finished_.store(true, std::memory_order_release);
        // Queued, so the signal reaches its receivers on the GUI thread. Should this object be
        // gone before the call is delivered, Qt drops the call with it.
        QMetaObject::invokeMethod(
            this, [this] { emit finished(); }, Qt::QueuedConnection);
    });
}

RunningDownload::~RunningDownload() {
    if (worker_.joinable()) {
        Cancel();
        worker_.join();
    }
}

void RunningDownload::SetProgress(qint64 received, qint64 total) {
    received_.store(received, std::memory_order_relaxed);
    total_.store(total, std::memory_order_relaxed);
}

void RunningDownload::WaitHoldingInput() {
    QEventLoop loop;
    connect(this, &RunningDownload::finished, &loop, &QEventLoop::quit);
    if (!Finished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void RunningDownload::Join() {
    if (worker_.joinable())
        worker_.join();
    if (error_)
        std::rethrow_exception(std::exchange(error_, nullptr));
}
