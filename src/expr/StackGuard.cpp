#include "expr/StackGuard.h"

#include "common/Exception.h"

#include <pthread.h>

#include <cstddef>
#include <cstdint>

namespace zyl {

namespace {

// Kept free below the deepest frame we allow; C library calls and the handlers' own frames
// run in it.
constexpr std::size_t minimumReserve = 256 * 1024;

struct StackBounds {
    std::uintptr_t low = 0;
    bool known = false;
};

thread_local StackBounds bounds;
thread_local int budgetDepth = 0;
thread_local long long workDone = 0;
thread_local long long nodesMade = 0;

StackBounds findBounds()
{
    StackBounds result;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        void* address = nullptr;
        std::size_t size = 0;
        if (pthread_attr_getstack(&attr, &address, &size) == 0 && size > 0) {
            std::size_t reserve = size / 8 > minimumReserve ? size / 8 : minimumReserve;
            if (reserve < size) {
                result.low = reinterpret_cast<std::uintptr_t>(address) + reserve;
                result.known = true;
            }
        }
        pthread_attr_destroy(&attr);
    }
    return result;
}

} // namespace

void checkStack()
{
    if (!bounds.known) {
        bounds = findBounds();
        if (!bounds.known)
            return;
    }
    auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    if (here < bounds.low)
        throw InfoErr("Expression too deeply nested");
}

WorkBudget::WorkBudget()
{
    if (budgetDepth++ == 0)
        workDone = nodesMade = 0;
}

WorkBudget::~WorkBudget() { --budgetDepth; }

void WorkBudget::spend()
{
    if (++workDone > workLimit)
        throw InfoErr("Expression too large");
}

void WorkBudget::chargeNode(std::size_t textBytes)
{
    if (budgetDepth == 0)
        return;
    nodesMade += 1 + static_cast<long long>(textBytes / textBytesPerNode);
    if (nodesMade > nodeLimit)
        throw InfoErr("Expression too large");
}

} // namespace zyl
