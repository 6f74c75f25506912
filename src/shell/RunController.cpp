#include "shell/RunController.h"

#include <QMetaObject>

#include <exception>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#endif

namespace zyl {

namespace {

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
__attribute__((target("avx"))) void zeroUpperHalves() { _mm256_zeroupper(); }

/// Parts of the toolkit leave the upper halves of the vector registers in use. Until they are
/// cleared, every scalar floating-point instruction of the engine (SSE code) waits on them: on
/// recent processors a generation then takes three to four times as long. Cleared before each
/// step, the engine runs as fast as in zyl-batch.
void clearUpperVectorState()
{
    static const bool hasAvx = __builtin_cpu_supports("avx");
    if (hasAvx)
        zeroUpperHalves();
}
#else
void clearUpperVectorState() {}
#endif

} // namespace

void QtSynchronizer::run(const std::function<void()>& step)
{
    if (QThread::currentThread() == m_guiObject->thread()) {
        clearUpperVectorState();
        step();
        return;
    }
    std::exception_ptr error;
    QMetaObject::invokeMethod(
        m_guiObject,
        [&] {
            try {
                clearUpperVectorState();
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
