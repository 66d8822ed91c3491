// Where the GUI thread is, and calls carried onto it from a worker.
#pragma once

#include <functional>

// True on the thread that owns the application object.
bool IsGuiThread();

// Runs f on the GUI thread and waits for it to finish: directly when called there, else
// queued while this thread waits. With no application object f is dropped.
void CallOnGuiThread(const std::function<void()> &f);
