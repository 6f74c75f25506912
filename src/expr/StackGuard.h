#pragma once

namespace zyl {

/// Throws InfoErr "Expression too deeply nested" when the calling thread's stack is close
/// to exhaustion. Every recursive walk of the language calls it once per level, so that a
/// hostile input ends in a message instead of a crash, whatever the thread's stack size and
/// however large the frames of the build (sanitizers enlarge them).
void checkStack();

/// Counts the nodes that a top-level evaluation visits and throws InfoErr
/// "Expression too large" past a fixed budget, so that a statement whose work explodes
/// (definitions that double at every level) ends in a message instead of a hang.
class WorkBudget {
public:
    WorkBudget();
    ~WorkBudget();
    WorkBudget(const WorkBudget&) = delete;
    WorkBudget& operator=(const WorkBudget&) = delete;
    static void spend();
};

} // namespace zyl
