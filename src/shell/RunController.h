#pragma once

#include "engine/RunHooks.h"
#include "engine/Task.h"

#include <QObject>
#include <QThread>

#include <memory>

namespace zyl {

/// Runs a step on the GUI thread while the calling worker waits (a blocking queued call); on
/// the GUI thread itself the step simply runs. An exception of the step is thrown again in
/// the worker, as if the step had run there.
class QtSynchronizer : public Synchronizer {
public:
    explicit QtSynchronizer(QObject* guiObject) : m_guiObject(guiObject) {}
    void run(const std::function<void()>& step) override;

private:
    QObject* m_guiObject;
};

/// The worker thread of one run. It owns its Task; the owner connects `finished` to its
/// end-of-run handling and deletes the thread afterwards (deleteLater).
class TaskThread : public QThread {
    Q_OBJECT
public:
    TaskThread(RunContext context, QObject* guiObject, RunObserver& observer,
               QObject* parent = nullptr);

    /// Stops the loop before the next individual.
    void terminateRun() { m_task.terminate(); }
    /// Also ends a running external program at once.
    void abortRun() { m_task.abort(); }
    /// Starts nothing more, and ends the running programs after `graceSeconds`.
    void terminateRunWithin(double graceSeconds) { m_task.terminateWithin(graceSeconds); }
    int currentIndex() const { return m_task.currentIndex(); }
    Task& task() { return m_task; }

protected:
    void run() override;

private:
    QtSynchronizer m_sync;
    RunObserver& m_observer;
    Task m_task;
};

} // namespace zyl
