#pragma once

#include <cstddef>

namespace zyl {

/// Throws InfoErr "Expression too deeply nested" when the calling thread's stack is close
/// to exhaustion. Every recursive walk of the language calls it once per level, so that a
/// hostile input ends in a message instead of a crash, whatever the thread's stack size and
/// however large the frames of the build (sanitizers enlarge them).
void checkStack();

/// The budget of one top-level statement (or evaluation): the outermost WorkBudget object on
/// a thread opens it, nested ones share it. Two counts are kept, and passing either limit
/// throws InfoErr "Expression too large":
/// - work: the nodes that the evaluators and the simplifier visit, which bounds the time of a
///   statement whose work explodes without building anything (definitions that double at
///   every level, evaluated numerically);
/// - size: the nodes created or copied, vector elements included, a node with a long text
///   counting once more for every `textBytesPerNode` bytes of it. Every tree of the language
///   is built node by node through Tensor's constructors, which charge it, so copies,
///   substitutions, broadcasts and sums are all bounded, and memory stays far below what the
///   machine has (a node takes about 120 bytes).
/// Outside any WorkBudget nothing is counted: the host's own trees are not limited.
class WorkBudget {
public:
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    // Under the fuzzer's instrumentation and sanitizers work is some twenty times slower;
    // smaller budgets keep each input quick while taking the same paths.
    static constexpr long long workLimit = 500'000;
    static constexpr long long nodeLimit = 150'000;
#else
    static constexpr long long workLimit = 10'000'000;
    static constexpr long long nodeLimit = 3'000'000;
#endif
    static constexpr std::size_t textBytesPerNode = 64;

    WorkBudget();
    ~WorkBudget();
    WorkBudget(const WorkBudget&) = delete;
    WorkBudget& operator=(const WorkBudget&) = delete;
    /// One node visited.
    static void spend();
    /// One node created or copied, with `textBytes` of text.
    static void chargeNode(std::size_t textBytes = 0);
};

} // namespace zyl
