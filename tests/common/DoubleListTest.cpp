#include "common/DoubleList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zyl;

namespace {
struct Tracked {
    explicit Tracked(int v, int* alive) : value(v), alive(alive) { ++*alive; }
    ~Tracked() { --*alive; }
    int value;
    int* alive;
};

std::vector<int> values(const DoubleList<Tracked>& list)
{
    std::vector<int> out;
    for (const Tracked& t : list)
        out.push_back(t.value);
    return out;
}
} // namespace

TEST(DoubleList, OrderOfBackAndFrontInsertion)
{
    int alive = 0;
    DoubleList<Tracked> list;
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(list.toFirst(), nullptr);
    list.pushBack(std::make_unique<Tracked>(2, &alive));
    list.pushFront(std::make_unique<Tracked>(1, &alive));
    list.pushBack(std::make_unique<Tracked>(3, &alive));
    EXPECT_EQ(values(list), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(list.size(), 3u);
    EXPECT_EQ(list.first()->item->value, 1);
    EXPECT_EQ(list.last()->item->value, 3);
}

TEST(DoubleList, RemovalAtBothEndsAndInTheMiddleDestroys)
{
    int alive = 0;
    DoubleList<Tracked> list;
    for (int i = 1; i <= 5; ++i)
        list.pushBack(std::make_unique<Tracked>(i, &alive));
    list.remove(list.first());
    list.remove(list.last());
    list.remove(list.first()->next);
    EXPECT_EQ(values(list), (std::vector<int>{2, 4}));
    EXPECT_EQ(alive, 2);
    auto kept = list.unlink(list.first());
    EXPECT_EQ(kept->value, 2);
    EXPECT_EQ(alive, 2);
    list.remove(list.first());
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(list.first(), nullptr);
    EXPECT_EQ(list.last(), nullptr);
    list.pushBack(std::make_unique<Tracked>(9, &alive));
    EXPECT_EQ(values(list), (std::vector<int>{9}));
}

TEST(DoubleList, CursorSurvivesRemovalOfItsNode)
{
    int alive = 0;
    DoubleList<Tracked> list;
    for (int i = 1; i <= 3; ++i)
        list.pushBack(std::make_unique<Tracked>(i, &alive));
    EXPECT_EQ(list.toFirst()->value, 1);
    EXPECT_EQ(list.toNext()->value, 2);
    list.remove(list.cursorNode());
    EXPECT_EQ(list.current()->value, 3);
    EXPECT_EQ(list.toNext(), nullptr);
}

TEST(DoubleList, ClearAndDestructionFreeEverything)
{
    int alive = 0;
    {
        DoubleList<Tracked> list;
        for (int i = 0; i < 100; ++i)
            list.pushFront(std::make_unique<Tracked>(i, &alive));
        list.clear();
        EXPECT_EQ(alive, 0);
        EXPECT_EQ(list.size(), 0u);
        for (int i = 0; i < 10; ++i)
            list.pushBack(std::make_unique<Tracked>(i, &alive));
    }
    EXPECT_EQ(alive, 0);
}
