#include "core/BoundedWait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace BoundedWait {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Most reads end within this; the wait then never runs events.
constexpr auto kQuick = 10ms;
// How often a longer wait looks at the worker's progress.
constexpr auto kCheck = 100ms;

// Told when the work is done, on its own thread.
class TWakeTarget : public QObject {
public:
    using QObject::QObject;
    std::function<void()> OnWake;
};

// What the waiting side and the worker share; the worker may outlive the wait.
struct TShared {
    std::mutex Lock;
    std::condition_variable Finished;
    bool Done = false;
    TWakeTarget* Wake = nullptr; // set and cleared under Lock
    std::atomic<pid_t> Tid{0};
};

void StartWorker(const std::shared_ptr<TShared>& shared, const char* threadName,
                 std::function<void()> work) {
    std::thread([shared, threadName, work = std::move(work)] {
        pthread_setname_np(pthread_self(), threadName);
        shared->Tid.store(gettid());
        work();
        std::lock_guard lock(shared->Lock);
        shared->Done = true;
        shared->Finished.notify_all();
        // A posted call is dropped with its receiver, so the target is alive when it runs.
        if (TWakeTarget* wake = shared->Wake)
            QMetaObject::invokeMethod(
                wake,
                [wake] {
                    if (wake->OnWake)
                        wake->OnWake();
                },
                Qt::QueuedConnection);
    }).detach();
}

// Bytes the thread has read so far, or -1 where the system does not say.
int64_t BytesRead(pid_t tid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/io", static_cast<int>(tid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char text[512];
    const ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (got <= 0)
        return -1;
    text[got] = '\0';
    const char* rchar = std::strstr(text, "rchar:");
    return rchar != nullptr ? std::strtoll(rchar + 6, nullptr, 10) : -1;
}

// Whether the worker has read nothing for the stall time. Where the system does not count a
// thread's reads, the stall time runs from the start.
class TProgress {
public:
    TProgress(std::shared_ptr<TShared> shared, std::chrono::milliseconds stall)
        : mShared(std::move(shared)), mStall(stall), mSince(Clock::now()) {}

    bool Stalled() {
        const auto now = Clock::now();
        if (const pid_t tid = mShared->Tid.load(); tid != 0) {
            const int64_t bytes = BytesRead(tid);
            if (bytes >= 0 && bytes != mBytes) {
                mBytes = bytes;
                mSince = now;
            }
        }
        return now - mSince >= mStall;
    }

private:
    std::shared_ptr<TShared> mShared;
    std::chrono::milliseconds mStall;
    Clock::time_point mSince;
    int64_t mBytes = -1;
};

bool IsDone(TShared& shared) {
    std::lock_guard lock(shared.Lock);
    return shared.Done;
}

void SetWake(TShared& shared, TWakeTarget* wake) {
    std::lock_guard lock(shared.Lock);
    shared.Wake = wake;
}

// The GUI thread's waits in progress, and what was put off until they end.
int gWaiting = 0;
struct TDeferred {
    QPointer<QObject> Context;
    std::function<void()> Action;
};
std::vector<TDeferred> gDeferred;

void RunDeferred() {
    for (TDeferred& deferred : std::exchange(gDeferred, {}))
        if (deferred.Context)
            AfterWait(deferred.Context, std::move(deferred.Action));
}

bool OnApplicationThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && app->thread() == QThread::currentThread();
}

// Watches one Start: reports once, then deletes itself.
class TWatcher : public TWakeTarget {
public:
    TWatcher(QObject* context, std::shared_ptr<TShared> shared, std::function<void(EResult)> done,
             std::chrono::milliseconds stall)
        : TWakeTarget(context), mShared(shared), mProgress(shared, stall), mDone(std::move(done)) {
        OnWake = [this] { Check(); };
        mTimer.setInterval(kCheck);
        connect(&mTimer, &QTimer::timeout, this, &TWatcher::Check);
        mTimer.start();
        SetWake(*mShared, this);
    }
    ~TWatcher() override { SetWake(*mShared, nullptr); }

private:
    void Check() {
        if (!mDone)
            return;
        if (IsDone(*mShared))
            Finish(EResult::Done);
        else if (mProgress.Stalled())
            Finish(EResult::Stalled);
    }

    // From the event loop: `done` may destroy the context, and this with it.
    void Finish(EResult result) {
        mTimer.stop();
        SetWake(*mShared, nullptr);
        QMetaObject::invokeMethod(
            parent(), [done = std::exchange(mDone, nullptr), result] { done(result); },
            Qt::QueuedConnection);
        deleteLater();
    }

    std::shared_ptr<TShared> mShared;
    TProgress mProgress;
    std::function<void(EResult)> mDone;
    QTimer mTimer;
};

} // namespace

EResult Run(const char* threadName, std::function<void()> work,
            std::chrono::milliseconds stall) {
    auto shared = std::make_shared<TShared>();
    StartWorker(shared, threadName, std::move(work));
    {
        std::unique_lock lock(shared->Lock);
        if (shared->Finished.wait_for(lock, kQuick, [&] { return shared->Done; }))
            return EResult::Done;
    }
    TProgress progress(shared, stall);
    if (!OnApplicationThread()) {
        std::unique_lock lock(shared->Lock);
        while (!shared->Finished.wait_for(lock, kCheck, [&] { return shared->Done; })) {
            lock.unlock();
            const bool stalled = progress.Stalled();
            lock.lock();
            if (stalled && !shared->Done)
                return EResult::Stalled;
        }
        return EResult::Done;
    }

    // The window paints and the timers tick meanwhile; clicks and keys wait until it ends, and
    // the handlers that would start another wait put themselves off (Waiting).
    QEventLoop loop;
    TWakeTarget wake;
    wake.OnWake = [&loop] { loop.quit(); };
    QTimer check;
    check.setInterval(kCheck);
    bool stalled = false;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (IsDone(*shared)) {
            loop.quit();
        } else if (progress.Stalled()) {
            stalled = true;
            loop.quit();
        }
    });
    SetWake(*shared, &wake);
    EResult result = EResult::Done;
    if (!IsDone(*shared)) {
        ++gWaiting;
        check.start();
        // ended by the worker, by the check, or by the program quitting (which ends every loop)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        check.stop();
        --gWaiting;
        result = IsDone(*shared) ? EResult::Done
                 : stalled       ? EResult::Stalled
                                 : EResult::Interrupted;
    }
    SetWake(*shared, nullptr);
    if (gWaiting == 0)
        RunDeferred();
    return result;
}

void Start(QObject* context, const char* threadName, std::function<void()> work,
           std::function<void(EResult)> done, std::chrono::milliseconds stall) {
    auto shared = std::make_shared<TShared>();
    new TWatcher(context, shared, std::move(done), stall);
    StartWorker(shared, threadName, std::move(work));
}

bool Waiting() {
    return gWaiting > 0;
}

void AfterWait(QObject* context, std::function<void()> action) {
    QMetaObject::invokeMethod(
        context,
        [context, action = std::move(action)]() mutable {
            if (Waiting())
                gDeferred.push_back({context, std::move(action)});
            else
                action();
        },
        Qt::QueuedConnection);
}

} // namespace BoundedWait
