#include "shell/RunController.h"

#include <QMetaObject>

#include <exception>

namespace zyl {

void QtSynchronizer::run(const std::function<void()>& step)
{
    if (QThread::currentThread() == m_guiObject->thread()) {
        step();
        return;
    }
    std::exception_ptr error;
    QMetaObject::invokeMethod(
        m_guiObject,
        [&] {
            try {
                step();
            } catch (...) {
                error = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (error)
        std::rethrow_exception(error);
}

TaskThread::TaskThread(RunContext context, QObject* guiObject, RunObserver& observer,
                       QObject* parent)
    : QThread(parent), m_sync(guiObject), m_observer(observer), m_task(context, m_sync, observer)
{
}

void TaskThread::run()
{
    try {
        m_task.execute();
    } catch (const std::exception& error) {
        // Every step reports its own failures; anything left (out of memory, say) is shown
        // like a failed generation step instead of ending the program from a worker thread.
        const std::string text = std::string("Main ZYL loop\n") + error.what();
        m_sync.run([this, &text] { m_observer.warning(text); });
    }
}

} // namespace zyl
