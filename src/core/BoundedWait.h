#pragma once

#include <QObject>
#include <chrono>
#include <functional>

// Reads of files that may sit on a slow or hung medium (a USB stick, a network share), made on
// a thread of their own while the GUI thread waits without freezing. A wait ends when the work
// is done, or when its thread has read nothing for a while: a read that goes on, however slowly,
// is waited for; one that makes no progress fails.
//
// Threads: the work runs on a detached thread of its own, named `threadName`, and must own what
// it uses, since after a stall it goes on alone and cleans up whenever its read returns. The
// waiting side (Run, Start, Waiting, AfterWait) is the calling thread, in the program the GUI
// thread. Progress is the worker's count of bytes read (rchar in /proc/self/task/TID/io).
namespace BoundedWait {

// How long a read may make no progress.
inline constexpr std::chrono::milliseconds kStall{3000};

enum class EResult {
    Done,        // the work finished
    Stalled,     // its thread read nothing for the stall time
    Interrupted, // the program was told to quit meanwhile
};

// Runs `work` and waits for it. On the thread of the application object the wait is a local
// event loop that paints and runs timers but holds the user's input until it ends; elsewhere
// the calling thread sleeps. A few milliseconds of work never enters the loop.
EResult Run(const char* threadName, std::function<void()> work,
            std::chrono::milliseconds stall = kStall);

// Runs `work` without waiting; `done` runs on `context`'s thread with the result once the work
// finished or stalled (never after `context` is destroyed).
void Start(QObject* context, const char* threadName, std::function<void()> work,
           std::function<void(EResult)> done, std::chrono::milliseconds stall = kStall);

// True while Run waits on this thread: handlers that would start another wait, or change what
// the waiting one works on, are put off with AfterWait.
bool Waiting();

// Runs `action` from the event loop, after the caller has returned; while a wait is in progress,
// once it has ended. Dropped when `context` is destroyed first.
void AfterWait(QObject* context, std::function<void()> action);

} // namespace BoundedWait
