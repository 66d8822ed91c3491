// Where the GUI thread is, and calls carried onto it from a worker.
#pragma once

#include <functional>

class QObject;

// True on the thread that owns the application object.
bool IsGuiThread();

// Runs f on the GUI thread and waits for it to finish: directly when called there, else
// queued while this thread waits. With no application object f is dropped.
void CallOnGuiThread(const std::function<void()> &f);

// Runs f later on the thread of context, from its event loop; dropped if context goes first.
void PostTo(QObject *context, std::function<void()> f);

// ThreadSanitizer sees the locks of instrumented code only; Qt's own, around a thread's queue of
// posted events and a blocking call's wait, are in an uninstrumented library. Posting releases
// that lock and delivery acquires it: these say so to the checker, and do nothing without it.
// Between PostingBegins and PostingEnds Qt builds and queues the event; those writes are Qt's.
#if defined(__SANITIZE_THREAD__)
extern "C" {
void __tsan_acquire(void *addr);
void __tsan_release(void *addr);
void __tsan_ignore_thread_begin();
void __tsan_ignore_thread_end();
}
inline char QtEventQueueLock;
inline void EventPosted() {
    __tsan_release(&QtEventQueueLock);
}
inline void EventDelivered() {
    __tsan_acquire(&QtEventQueueLock);
}
inline void PostingBegins() {
    EventPosted();
    __tsan_ignore_thread_begin();
}
inline void PostingEnds() {
    __tsan_ignore_thread_end();
}
#else
inline void EventPosted() {}
inline void EventDelivered() {}
inline void PostingBegins() {}
inline void PostingEnds() {}
#endif
