#include "engine/Formulas.h"

#include "engine/Evaluation.h"
#include "engine/Export.h"
#include "engine/UserPlots.h"
#include "expr/Statement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace zyl;

namespace {

class Formulas : public ::testing::Test {
protected:
    Formulas()
    {
        table.registerBuiltinSymbols();
        table.pushBack(makeSymbolFromStatement("{3,3}", "GlobalMinIndiv", false, table));
        setSymbolValue(table, "Average", 2.5);
    }

    std::string error(CompiledText& text)
    {
        try {
            text.value(table);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "";
    }

    SymbolTable table;
};

Indiv individual(double x)
{
    Indiv ind(1);
    ind.setGene(0, std::make_unique<Floating_>(x));
    return ind;
}

} // namespace

TEST_F(Formulas, TextsCompileWhereTheyMeanTheSame)
{
    CompiledText expression("Average*2"), named("Average"), definition("k=Average+1"),
        unknown("zz+1"), vector("GlobalMinIndiv");
    EXPECT_EQ(expression.value(table).re, 5);
    EXPECT_TRUE(expression.lastCompiled());
    EXPECT_EQ(named.value(table).re, 2.5);
    EXPECT_TRUE(named.lastCompiled());
    setSymbolValue(table, "Average", 4);
    EXPECT_EQ(expression.value(table).re, 8);
    EXPECT_EQ(named.exportText(table), "4");

    // A definition goes through the statement pipeline, and defines.
    EXPECT_EQ(definition.value(table).re, 5);
    EXPECT_FALSE(definition.lastCompiled());
    ASSERT_NE(table.lookup("k"), nullptr);

    // A name still unknown stays with the pipeline until it is defined.
    EXPECT_EQ(error(unknown), "Unknown variable: zz");
    EXPECT_FALSE(unknown.lastCompiled());
    makeSymbolFromStatement("zz=2", "", false, table);
    EXPECT_EQ(unknown.value(table).re, 3);
    EXPECT_TRUE(unknown.lastCompiled());

    // A vector is exported in its printed form.
    EXPECT_EQ(vector.exportText(table), exportColumnText("GlobalMinIndiv", table));
    EXPECT_FALSE(vector.lastCompiled());
}

TEST_F(Formulas, ABlockStopsAtTheIndividualThatFails)
{
    makeSymbolFromStatement("f=1/x", "", false, table);
    CompiledObjective objective;
    objective.prepare({"x"}, table);
    ASSERT_TRUE(objective.compiled());
    std::vector<Indiv> population;
    for (double x : {1.0, 2.0, 4.0, 0.0, 8.0})
        population.push_back(individual(x));
    const Indiv* rows[5];
    for (int r = 0; r < 5; ++r)
        rows[r] = &population[r];
    double values[5] = {};
    std::size_t done = 99;
    EXPECT_THROW(objective.evaluateBlock(rows, 5, values, done), Exception);
    EXPECT_EQ(done, 3u);
    EXPECT_EQ(values[2], 0.25);
    objective.evaluateBlock(rows + 4, 1, values, done);
    EXPECT_EQ(done, 1u);
    EXPECT_EQ(values[0], 0.125);
    // The table is not read while evaluating: a new definition waits for prepare.
    makeSymbolFromStatement("f=2/x", "", false, table);
    EXPECT_EQ(objective.evaluate(population[0]), 1);
    objective.prepare({"x"}, table);
    EXPECT_EQ(objective.evaluate(population[0]), 2);
}

TEST_F(Formulas, AComplexValueIsNoObjectiveAndAnInfiniteViolation) {
    // sqrt of a negative x has a real part of 0: ranked by it, x = -0.95 looked optimal.
    makeSymbolFromStatement("f=sqrt(x)+x^2", "", false, table);
    std::vector<Indiv> population;
    for (double x : {-3.0, 4.0, -0.95, 1.0})
        population.push_back(individual(x));
    const Indiv* rows[4];
    for (int r = 0; r < 4; ++r)
        rows[r] = &population[r];
    CompiledObjective objective;
    objective.prepare({"x"}, table);
    ASSERT_TRUE(objective.compiled());
    double values[4] = {};
    std::size_t done = 99;
    try {
        objective.evaluateBlock(rows, 4, values, done);
        ADD_FAILURE() << "a complex value passed";
    } catch (const Exception& error) {
        EXPECT_EQ(std::string(error.what()), "f is not a real number: 9+1.73205*I");
    }
    EXPECT_EQ(done, 0u);
    EXPECT_THROW(objective.evaluate(population[2]), Exception);
    EXPECT_EQ(objective.evaluate(population[1]), 18);

    // A whole power of a negative number is real, by the tree and by the program alike.
    makeSymbolFromStatement("f=x^2+x^3", "", false, table);
    objective.prepare({"x"}, table);
    objective.evaluateBlock(rows, 4, values, done);
    EXPECT_EQ(done, 4u);
    EXPECT_EQ(values[0], -18);
    Indiv tree = population[0];
    evaluateAnalytical(tree, {"x"}, table);
    EXPECT_EQ(tree.value, -18);
    makeSymbolFromStatement("f=sqrt(x)", "", false, table);
    EXPECT_THROW(evaluateAnalytical(tree, {"x"}, table), Exception);
    EXPECT_EQ(tree.value, -18);

    ConstraintFormulas constraints({"c1", "c2"}, {"sqrt(x)-0.5", "x^2-1"});
    constraints.prepare({"x"}, table);
    ASSERT_TRUE(constraints.compiled());
    double block[8] = {};
    constraints.evaluateBlock(rows, 4, block, done);
    EXPECT_TRUE(std::isnan(block[0]) && std::isnan(block[4]));
    EXPECT_EQ(block[1], 8);
    EXPECT_EQ(block[2], 1.5);
    double byTree[2] = {};
    constraints.evaluateTree(population[2], {"x"}, table, byTree);
    EXPECT_TRUE(std::isnan(byTree[0]));
}
