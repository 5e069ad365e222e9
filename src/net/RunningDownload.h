#pragma once

#include <QObject>

#include <atomic>
#include <exception>
#include <functional>
#include <thread>

// One transfer on a thread of its own, so that the GUI thread can go on painting and ticking
// while it waits for it.
//
// Threading: construction, Wait, Cancel, the getters and destruction belong to the GUI thread.
// The job runs on the worker thread and reaches this object only through SetProgress and
// CancelRequested, which touch nothing but atomics. `finished` is emitted on the GUI thread.
// The worker never outlives the object: the destructor cancels the job and joins it.
class RunningDownload : public QObject {
    Q_OBJECT
public:
    // Starts `job` on the worker thread at once.
    explicit RunningDownload(std::function<void(RunningDownload&)> job);
    ~RunningDownload() override;

    RunningDownload(const RunningDownload&) = delete;
    RunningDownload& operator=(const RunningDownload&) = delete;

    // The job has returned (or raised).
    bool Finished() const { return finished_.load(std::memory_order_acquire); }
    // Asks the job to stop; a transfer does so at its next progress report.
    void Cancel() { cancel_.store(true, std::memory_order_relaxed); }
    bool CancelRequested() const { return cancel_.load(std::memory_order_relaxed); }

    // Bytes received so far and the size the server announced (0 while unknown).
    qint64 Received() const { return received_.load(std::memory_order_relaxed); }
    qint64 Total() const { return total_.load(std::memory_order_relaxed); }
    // Worker thread.
    void SetProgress(qint64 received, qint64 total);

    // Waits in a local event loop that keeps painting and timers going but holds the user's
    // input until the job has finished; the held input is delivered afterwards. Returns early
    // when the program is told to quit meanwhile.
    void WaitHoldingInput();

    // Waits for the worker thread to end (blocking), then raises whatever the job raised.
    void Join();

signals:
    void finished();

private:
    std::atomic<bool> finished_{false};
    std::atomic<bool> cancel_{false};
    std::atomic<qint64> received_{0};
    std::atomic<qint64> total_{0};
    std::exception_ptr error_;
    std::thread worker_;
};
