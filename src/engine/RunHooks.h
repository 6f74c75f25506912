#pragma once

#include <functional>
#include <string>

namespace zyl {

class Indiv;

/// Runs `step` on the thread that owns the windows, the symbol table and the random
/// generator, and returns when it has run. An exception thrown by `step` is thrown here.
class Synchronizer {
public:
    virtual ~Synchronizer() = default;
    virtual void run(const std::function<void()>& step) = 0;
};

/// For programs that do everything on one thread.
class DirectSynchronizer : public Synchronizer {
public:
    void run(const std::function<void()>& step) override { step(); }
};

/// What a front end is told to show during a run. Every call arrives inside a synchronized
/// step, on the thread that owns the windows. The default implementations show nothing.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    /// A message for a warning box, with its exact text ("Main ZYL loop\n" + message, ...).
    virtual void warning(const std::string& /*text*/) {}
    /// Individual `index` of the current population has its value.
    virtual void evaluatedValue(int /*index*/) {}
    /// A new buffer entry was recorded.
    virtual void buffered(const Indiv& /*entry*/) {}
    /// Every individual of the current generation has its value (and is in the buffer); the
    /// generation step comes next. Once per generation, after the evaluatedValue calls.
    virtual void generationEvaluated() {}
    /// The statistics of the generation just evaluated are computed.
    virtual void statistics() {}
    /// User plot `plot` has a new point in each of its series.
    virtual void plotUpdated(std::size_t /*plot*/) {}
    /// The population was replaced by the next generation.
    virtual void populationChanged() {}
    /// A generation step ended and the generation counter moved on.
    virtual void generationDone() {}
    /// The evaluation of individual `index` failed with `message` (also shown as a warning),
    /// `timedOut` when its program ran out of time; its evaluatedValue call follows.
    virtual void evaluationFailed(int /*index*/, const std::string& /*message*/,
                                  bool /*timedOut*/)
    {
    }
    /// A stop rule was met in the generation being completed: the task is finished once the
    /// generation step has ended. `reason` names the rule ("max_evaluations=500 was reached
    /// in generation 12 (500 evaluations)", ...).
    virtual void stopRuleMet(const std::string& /*reason*/) {}
};

} // namespace zyl
