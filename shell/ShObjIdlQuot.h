// The shell's cancellable-task interface, and a place for one task reference that the thread
// doing an extraction fills while another thread may take it to cancel the work.
#pragma once

#include <mutex>

#include "ShellApi.h"

// IRunnableTask (Run, Kill, Suspend, Resume, IsRunning), its id and its IRTIR_TASK_* states
// come from the shell layer.
using ::IID_IRunnableTask;
using ::IRunnableTask;

// Filled by the extracting thread, taken by a canceller on any thread. Once killed, the slot
// stays closed: a task stored afterwards is killed at once, so a cancel that comes between two
// extractions is not lost.
class TRunnableTaskSlot {
public:
    void Set(ComPtr<IRunnableTask> task) {
        std::unique_lock lock(FMutex);
        if (FKilled) {
            lock.unlock();
            if (task)
                task->Kill(0);
            return;
        }
        FTask = std::move(task);
    }
    void Clear() { Take(); }
    ComPtr<IRunnableTask> Take() {
        std::lock_guard lock(FMutex);
        ComPtr<IRunnableTask> task = std::move(FTask);
        return task;
    }
    bool Empty() {
        std::lock_guard lock(FMutex);
        return !FTask;
    }
    // Closes the slot and kills the task it holds (without waiting); the reference is released.
    void Kill() {
        ComPtr<IRunnableTask> task;
        {
            std::lock_guard lock(FMutex);
            FKilled = true;
            task = std::move(FTask);
        }
        if (task)
            task->Kill(0);
    }

private:
    std::mutex FMutex;
    ComPtr<IRunnableTask> FTask;
    bool FKilled = false;
};
