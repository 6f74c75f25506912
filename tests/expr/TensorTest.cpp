#include "ExprSupport.h"

#include <cmath>
#include <cstdlib>
#include <new>

using namespace zyl;
using namespace zyl::test;

// The allocator of this test program counts allocations and, when asked, fails them as an
// exhausted memory does: after `allocationsLeft` more successes every allocation throws.
namespace {
thread_local long long allocationCount = 0;
thread_local long long allocationsLeft = -1; // -1: never fail
} // namespace

// The pairs below are matched (malloc with free); the compiler sees only the new and the free.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size)
{
    ++allocationCount;
    if (allocationsLeft == 0)
        throw std::bad_alloc();
    if (allocationsLeft > 0)
        --allocationsLeft;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

/// A vector of `width` chains of `depth` negations: wide and deep at once.
TensorPtr wideAndDeepTree(int width, int depth)
{
    auto vector = std::make_unique<Tensor>();
    for (int i = 0; i < width; ++i) {
        TensorPtr chain = makeSymbolRef("x");
        for (int j = 0; j < depth; ++j) {
            auto node = makeOperator(op::Negate, 11, "~");
            node->left = std::move(chain);
            chain = std::move(node);
        }
        vector->appendElement(std::move(chain));
    }
    return vector;
}

} // namespace

TEST(FormatNumber, ComplexTextForms)
{
    EXPECT_EQ(formatNumber(0, 0), "0");
    EXPECT_EQ(formatNumber(0, -1), "-I");
    EXPECT_EQ(formatNumber(0, 1), "I");
    EXPECT_EQ(formatNumber(2, -1), "2-I");
    EXPECT_EQ(formatNumber(0, 0.5), "0.5*I");
    EXPECT_EQ(formatNumber(-3, 0), "-3");
    EXPECT_EQ(formatNumber(3.14159265, 0), "3.14159");
    EXPECT_EQ(formatNumber(1, 1), "1+I");
    EXPECT_EQ(formatNumber(1.5, -2), "1.5-2*I");
    EXPECT_EQ(formatNumber(0, 2), "2*I");
}

TEST(FormatNumber, NonFiniteValuesStillGiveText)
{
    EXPECT_EQ(formatNumber(INFINITY, 0), "inf");
    EXPECT_EQ(formatNumber(-INFINITY, 0), "-inf");
    EXPECT_FALSE(formatNumber(NAN, NAN).empty());
}

TEST(MakeNumber, NegativeZerosBecomePositive)
{
    TensorPtr n = makeNumber(-0.0, -0.0);
    EXPECT_FALSE(std::signbit(n->re));
    EXPECT_FALSE(std::signbit(n->im));
    EXPECT_EQ(n->text, "0");
}

TEST(SymbolTable, BuiltinsInOrder)
{
    SymbolTable table;
    table.registerBuiltinSymbols();
    ASSERT_EQ(table.size(), 30u);
    std::vector<std::string> names;
    for (const Funkcja& f : table.symbols())
        names.push_back(f.name);
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 5),
              (std::vector<std::string>{"deg", "e", "pi", "I", "Average"}));
    EXPECT_EQ(names.back(), "MutProb");
    const Funkcja* pi = table.lookup("pi");
    ASSERT_NE(pi, nullptr);
    EXPECT_TRUE(pi->isProtected);
    EXPECT_EQ(pi->definition->text, "3.14159");
    EXPECT_DOUBLE_EQ(pi->definition->re, M_PI);
    EXPECT_DOUBLE_EQ(table.lookup("deg")->definition->re, M_PI / 180);
    EXPECT_DOUBLE_EQ(table.lookup("e")->definition->re, std::exp(1.0));
    EXPECT_EQ(table.lookup("I")->definition->im, 1.0);
    EXPECT_FALSE(table.lookup("Average")->isProtected);
    EXPECT_EQ(table.lookup("Pi"), nullptr);
}

TEST(SymbolTable, LookupFindsTheFrontmostOfEqualNames)
{
    SymbolTable table;
    table.pushBack(makeSymbolFromValue(1, 0, "a", false));
    table.pushBack(makeSymbolFromValue(2, 0, "a", false));
    EXPECT_EQ(table.lookup("a")->definition->re, 1);
    table.pushFront(makeSymbolFromValue(3, 0, "a", false));
    EXPECT_EQ(table.lookup("a")->definition->re, 3);
    table.remove(table.lookup("a"));
    EXPECT_EQ(table.lookup("a")->definition->re, 1);
    table.remove(table.lookup("a"));
    EXPECT_EQ(table.lookup("a")->definition->re, 2);
    table.remove(table.lookup("a"));
    EXPECT_EQ(table.lookup("a"), nullptr);
    EXPECT_EQ(table.size(), 0u);
}

TEST(SymbolTable, SetSymbolValueShowsTheNewValue)
{
    SymbolTable table;
    table.registerBuiltinSymbols();
    setSymbolValue(table, "Average", 2.5);
    const Funkcja* average = table.lookup("Average");
    EXPECT_EQ(average->definition->re, 2.5);
    EXPECT_EQ(average->definition->text, "2.5");
    EXPECT_EQ(printToString(*evaluate(*makeSymbolRef("Average"), table)), "2.5");
    EXPECT_EQ(evaluateNumeric(*makeSymbolRef("Average"), table).re, 2.5);
}

TEST(SymbolTable, SetSymbolValueRecreatesARemovedOrRedefinedSymbol)
{
    SymbolTable table;
    table.registerBuiltinSymbols();
    table.remove(table.lookup("StdDev"));
    setSymbolValue(table, "StdDev", 4);
    ASSERT_NE(table.lookup("StdDev"), nullptr);
    EXPECT_EQ(table.lookup("StdDev")->definition->re, 4);
    EXPECT_EQ(table.symbols().last()->item->name, "StdDev");

    makeSymbolFromStatement("Range={1,2}", "", false, table);
    setSymbolValue(table, "Range", 7);
    EXPECT_TRUE(table.lookup("Range")->definition->isNumber());
    EXPECT_EQ(evaluateNumeric(*makeSymbolRef("Range"), table).re, 7);
}

TEST(Tensor, CopiesAreDeepAndIndependent)
{
    TensorPtr source = parsed("{{1,2},{x+1,3}}");
    auto copy = std::make_unique<Tensor>(*source);
    copy->elements[0]->elements[0]->text = "changed";
    EXPECT_EQ(dump(*source), "{{1,2},{+($x,1),3}}");
    source.reset();
    EXPECT_EQ(dump(*copy), "{{changed,2},{+($x,1),3}}");

    Tensor assigned;
    assigned = *copy;
    copy.reset();
    EXPECT_EQ(dump(assigned), "{{changed,2},{+($x,1),3}}");
}

TEST(Tensor, MovingAChildOverItsParentKeepsTheChild)
{
    TensorPtr tree = parsed("(a+b)*c");
    *tree = std::move(*tree->left);
    EXPECT_EQ(dump(*tree), "+($a,$b)");
}

TEST(Tensor, VeryDeepTreesCopyAndDestroyWithoutRecursion)
{
    auto root = makeNumber(1);
    for (int i = 0; i < 1'000'000; ++i) {
        auto node = makeOperator(op::Negate, 11, "~");
        node->left = std::move(root);
        root = std::move(node);
    }
    Tensor copy(*root);
    root.reset();
    int depth = 0;
    for (const Tensor* t = &copy; t->left; t = t->left.get())
        ++depth;
    EXPECT_EQ(depth, 1'000'000);
}

TEST(Tensor, CleanupNeverAllocatesEvenWhenMemoryRunsOut)
{
    TensorPtr tree = wideAndDeepTree(1000, 200);
    long long before = allocationCount;
    tree.reset();
    EXPECT_EQ(allocationCount, before);

    tree = wideAndDeepTree(1000, 200);
    Tensor target;
    target = Tensor(*tree);
    before = allocationCount;
    target = Tensor(); // the move assignment destroys the old content
    EXPECT_EQ(allocationCount, before);

    // A copy that runs out of memory half way destroys what it built and leaves the source.
    allocationsLeft = 50'000;
    EXPECT_THROW(Tensor copy(*tree), std::bad_alloc);
    allocationsLeft = -1;
    int depth = 0;
    for (const Tensor* t = tree->elements[999].get(); t->left; t = t->left.get())
        ++depth;
    EXPECT_EQ(depth, 200);
}
