// The cost of powers in compiled formulas: Rastrigin's function in 30 variables written with
// x^2 against the same formula written with x*x, evaluated one individual at a time and in
// blocks of 64 as a run does, and single powers x^n against a power the library computes.
//
//   build/release/bench/PowerBench
//
// The inputs are drawn once from the variables' range [-5.12, 5.12] (for the single powers,
// from [0.5, 5]), 4096 individuals, cycled through.
#include "expr/CompiledExpression.h"
#include "expr/Parser.h"
#include "expr/Statement.h"

#include <benchmark/benchmark.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace zyl;

namespace {

constexpr std::size_t variables = 30;
constexpr std::size_t individuals = 4096;

std::string rastrigin(bool power)
{
    std::string text = "300";
    for (std::size_t i = 1; i <= variables; ++i) {
        const std::string x = "x" + std::to_string(i);
        text += " + " + (power ? x + "^2" : x + "*" + x) + " - 10*cos(2*pi*" + x + ")";
    }
    return text;
}

struct Program {
    SymbolTable table;
    TensorPtr tree;
    CompiledExpression compiled;
    std::vector<double> inputs;
    std::size_t width = 0;

    Program(const std::string& text, std::size_t inputCount, double low, double high)
        : width(inputCount)
    {
        table.registerBuiltinSymbols();
        if (!parseExpression(text, tree))
            throw std::runtime_error("cannot parse " + text);
        std::vector<std::string> names;
        for (std::size_t i = 1; i <= inputCount; ++i)
            names.push_back("x" + std::to_string(i));
        compiled.compile(*tree, table, FormulaRules::Numeric, names);
        if (!compiled.compiled())
            throw std::runtime_error("not compiled: " + text);
        std::mt19937_64 random(1);
        std::uniform_real_distribution<double> range(low, high);
        inputs.resize(individuals * inputCount);
        for (double& x : inputs)
            x = range(random);
    }
};

void oneAtATime(benchmark::State& state, Program& program)
{
    std::size_t row = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(program.compiled.evaluate(&program.inputs[row * program.width]));
        row = (row + 1) % individuals;
    }
    state.SetItemsProcessed(state.iterations());
}

void inBlocks(benchmark::State& state, Program& program)
{
    constexpr std::size_t rows = CompiledExpression::blockRows;
    Complex results[rows];
    std::size_t first = 0;
    for (auto _ : state) {
        std::size_t done = 0;
        program.compiled.evaluateBlock(&program.inputs[first * program.width], rows, results,
                                       done);
        benchmark::DoNotOptimize(results);
        first = (first + rows) % individuals;
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(rows));
}

void BM_Rastrigin30(benchmark::State& state)
{
    const bool power = state.range(0) != 0;
    Program program(rastrigin(power), variables, -5.12, 5.12);
    state.SetLabel(power ? "x^2" : "x*x");
    if (state.range(1) != 0)
        inBlocks(state, program);
    else
        oneAtATime(state, program);
}
// Arguments: written with x^2 (1) or x*x (0); in blocks (1) or one at a time (0).
BENCHMARK(BM_Rastrigin30)->ArgsProduct({{0, 1}, {0, 1}});

void BM_Power(benchmark::State& state)
{
    static const char* formulas[] = {"x1^2", "x1*x1", "x1^3", "x1^4", "x1^8", "x1^2.5"};
    const char* text = formulas[state.range(0)];
    Program program(text, 1, 0.5, 5);
    state.SetLabel(text);
    if (state.range(1) != 0)
        inBlocks(state, program);
    else
        oneAtATime(state, program);
}
BENCHMARK(BM_Power)->ArgsProduct({{0, 1, 2, 3, 4, 5}, {0, 1}});

} // namespace

BENCHMARK_MAIN();
