#include "expr/CompiledExpression.h"

#include "expr/Functions.h"
#include "expr/MathErrors.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <unordered_map>
#include <utility>


namespace zyl {

namespace {

// Beyond these the tree keeps the formula: its work budget and stack guard decide there, and
// a program that follows them exactly is not worth its complexity. Both lie far below what the
// tree itself accepts.
constexpr long long maxExpandedNodes = 50'000;
constexpr int maxDepth = 200;

using Op = CompiledExpression::Op;
constexpr int maxExactPower = CompiledExpression::maxExactPower;

bool isFunctionCode(int code)
{
    return code >= op::FirstFunction && code <= op::LastFunction && code != op::Negate &&
           code != 125 && code != 126;
}

bool isFiniteReal(Complex z)
{
    return std::isfinite(z.re) && std::bit_cast<std::uint64_t>(z.im) == 0;
}

bool sameBits(double a, double b)
{
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

/// Structural equality, numbers bit for bit; without recursion, since definitions may be deep.
bool sameTree(const Tensor& first, const Tensor& second)
{
    std::vector<std::pair<const Tensor*, const Tensor*>> work{{&first, &second}};
    while (!work.empty()) {
        auto [a, b] = work.back();
        work.pop_back();
        if (a->dimension != b->dimension || a->code != b->code || a->level != b->level ||
            a->text != b->text || !sameBits(a->re, b->re) || !sameBits(a->im, b->im) ||
            a->elements.size() != b->elements.size() || !a->left != !b->left ||
            !a->right != !b->right)
            return false;
        for (std::size_t i = 0; i < a->elements.size(); ++i) {
            if (!a->elements[i] || !b->elements[i]) {
                if (a->elements[i] || b->elements[i])
                    return false;
                continue;
            }
            work.emplace_back(a->elements[i].get(), b->elements[i].get());
        }
        if (a->left)
            work.emplace_back(a->left.get(), b->left.get());
        if (a->right)
            work.emplace_back(a->right.get(), b->right.get());
    }
    return true;
}

Op binaryOp(int code)
{
    switch (code) {
    case op::Plus: return Op::Add;
    case op::Minus: return Op::Subtract;
    case op::Times: return Op::Multiply;
    case op::Divide: return Op::Divide;
    case op::Power: return Op::Power;
    case op::Log: return Op::Log;
    case op::Greater: return Op::Greater;
    case op::GreaterEq: return Op::GreaterEq;
    case op::Less: return Op::Less;
    case op::LessEq: return Op::LessEq;
    case op::Equal: return Op::Equal;
    case op::NotEqual: return Op::NotEqual;
    case op::And: return Op::And;
    default: return Op::Or;
    }
}

/// Where an operation's result goes, and how deep the tree below it is (for the stack).
struct Compiled {
    std::int32_t slot = 0;
    int height = 0;
};

} // namespace

/// Walks a tree as the tree evaluator would and writes the program. Definitions reached
/// through names are compiled once each; their results are read wherever the name occurs
/// again (evaluation is free of side effects, so a second evaluation would give the same).
class FormulaCompiler {
public:
    FormulaCompiler(CompiledExpression& out, const SymbolTable& table, FormulaRules rules,
                    const std::vector<std::string>& inputs)
        : m_out(out), m_table(table), m_symbolic(rules == FormulaRules::Symbolic)
    {
        for (std::size_t i = 0; i < inputs.size(); ++i)
            m_inputs[inputs[i]] = static_cast<std::int32_t>(i);
        m_slotCount = static_cast<std::int32_t>(inputs.size());
    }

    /// False when the formula stays with the tree.
    bool run(const Tensor& root)
    {
        const Compiled result = node(root, 0, /*inDefinition=*/false);
        if (m_failed)
            return false;
        m_out.m_result = result.slot;
        m_out.m_slots.assign(static_cast<std::size_t>(std::max(m_slotCount, 1)), Complex{});
        for (const auto& [slot, value] : m_constants) {
            m_out.m_slots[static_cast<std::size_t>(slot)] = value;
            m_out.m_valueSlots.push_back(slot);
        }
        for (const CompiledExpression::Dependency& dependency : m_out.m_dependencies)
            if (dependency.liveNumber)
                m_out.m_valueSlots.push_back(dependency.slot);
        return true;
    }

private:
    struct Memo {
        Compiled compiled;
        long long expanded = 0;
    };

    Compiled fail()
    {
        m_failed = true;
        return {};
    }

    std::int32_t newSlot() { return m_slotCount++; }

    Compiled emit(Op op, int code, Compiled a, Compiled b = Compiled())
    {
        const int height = std::max(a.height, b.height) + 1;
        // An operation on constants is done now when it succeeds: at run time it would give
        // the same value at the same point. One that fails stays, to fail where it is.
        const bool unary = op >= Op::Not && op != Op::Throw;
        if (op != Op::Throw && isConstant(a.slot) && (unary || isConstant(b.slot))) {
            try {
                const CompiledExpression::Instruction in{op, code, 0, 0, 0};
                const Complex value = CompiledExpression::complexStep(
                    in, constantValue(a.slot), unary ? Complex{} : constantValue(b.slot),
                    m_symbolic);
                return {addConstant(value), height};
            } catch (const std::exception&) {
            }
        }
        const std::int32_t target = newSlot();
        m_out.m_code.push_back({op, code, target, a.slot, b.slot});
        m_out.m_hasIntPower = m_out.m_hasIntPower || op == Op::IntPower;
        return {target, height};
    }

    bool isConstant(std::int32_t slot) const { return m_constantIndex.count(slot) != 0; }
    Complex constantValue(std::int32_t slot) const
    {
        return m_constants[m_constantIndex.at(slot)].second;
    }
    std::int32_t addConstant(Complex value)
    {
        const std::int32_t slot = newSlot();
        m_constantIndex[slot] = m_constants.size();
        m_constants.emplace_back(slot, value);
        return slot;
    }

    Compiled throwing(const std::string& message)
    {
        std::int32_t index = -1;
        for (std::size_t i = 0; i < m_out.m_messages.size(); ++i)
            if (m_out.m_messages[i] == message)
                index = static_cast<std::int32_t>(i);
        if (index < 0) {
            index = static_cast<std::int32_t>(m_out.m_messages.size());
            m_out.m_messages.push_back(message);
        }
        return emit(Op::Throw, index, Compiled(), Compiled());
    }

    Compiled constant(Complex value) { return {addConstant(cleanZero(value)), 1}; }

    /// The dependency on `name`, recorded at its first look-up.
    CompiledExpression::Dependency& lookup(const std::string& name, const Funkcja*& symbol)
    {
        symbol = m_table.lookup(name);
        auto [it, added] = m_dependencyIndex.try_emplace(name, m_out.m_dependencies.size());
        if (added) {
            CompiledExpression::Dependency dependency;
            dependency.name = name;
            dependency.found = symbol != nullptr;
            if (symbol && symbol->definition) {
                dependency.liveNumber = symbol->definition->isNumber();
                if (!dependency.liveNumber)
                    dependency.snapshot = symbol->definition->clone();
            }
            m_out.m_dependencies.push_back(std::move(dependency));
        }
        return m_out.m_dependencies[it->second];
    }

    Compiled node(const Tensor& t, int depth, bool inDefinition)
    {
        if (m_failed || depth > maxDepth || ++m_expanded > maxExpandedNodes)
            return fail();
        if (t.code == op::Number) {
            if (t.dimension == 0)
                return constant({t.re, t.im});
            return m_symbolic ? fail() : throwing("Not a scalar value");
        }
        if (t.code == op::Symbol)
            return symbol(t, depth, inDefinition);
        return operation(t, depth, inDefinition);
    }

    /// The value a name stands for, following plain aliases as the evaluators do.
    Compiled symbol(const Tensor& ref, int depth, bool inDefinition)
    {
        if (m_symbolic && !inDefinition && ref.text == "I")
            return constant({0.0, 1.0}); // the pipeline's substitution, whatever the table holds
        std::string name = ref.text;
        for (int hops = 0;; ++hops) {
            if (hops > maxDepth)
                return fail();
            if (auto input = m_inputs.find(name); input != m_inputs.end())
                return {input->second, 1};
            const Funkcja* found = nullptr;
            CompiledExpression::Dependency& dependency = lookup(name, found);
            if (!found)
                return m_symbolic ? fail() : throwing("Unknown variable: " + name);
            if (!found->definition)
                return fail();
            const Tensor& definition = *found->definition;
            if (definition.isSymbolRef() && definition.dimension == 0) {
                name = definition.text;
                continue;
            }
            if (dependency.liveNumber) {
                if (dependency.slot < 0)
                    dependency.slot = newSlot();
                return {dependency.slot, 1};
            }
            return reached(definition, depth + 1);
        }
    }

    Compiled reached(const Tensor& definition, int depth)
    {
        if (auto it = m_memo.find(&definition); it != m_memo.end()) {
            m_expanded += it->second.expanded;
            if (m_expanded > maxExpandedNodes || depth + it->second.compiled.height > maxDepth)
                return fail();
            return it->second.compiled;
        }
        const long long before = m_expanded;
        const Compiled compiled = node(definition, depth, /*inDefinition=*/true);
        m_memo[&definition] = {compiled, m_expanded - before};
        return compiled;
    }

    Compiled function(int code, Compiled a)
    {
        switch (code) {
        case 108: return emit(Op::Sin, code, a);
        case 109: return emit(Op::Cos, code, a);
        case 112: return emit(Op::Ln, code, a);
        case 114: return emit(Op::Exp, code, a);
        case 115: return emit(Op::Abs, code, a);
        case 120: return emit(Op::Sqrt, code, a);
        case 136:
            if (!m_symbolic)
                return emit(Op::CeilReal, code, a);
            break;
        case 137:
            if (!m_symbolic)
                return emit(Op::RoundReal, code, a);
            break;
        default: break;
        }
        return emit(Op::Function, code, a);
    }

    Compiled operation(const Tensor& t, int depth, bool inDefinition)
    {
        const int code = t.code;
        const bool binary = m_symbolic ? (op::isBinary(code) && code <= op::Or && code != 5)
                                       : ((code >= 1 && code <= 4) || (code >= 6 && code <= 15));
        if (binary && t.left && t.right) {
            const Compiled b = node(*t.right, depth + 1, inDefinition);
            const Compiled a = node(*t.left, depth + 1, inDefinition);
            if (code == op::Power && !m_failed && isConstant(b.slot)) {
                // A small whole exponent (never 0, so 0^0 cannot arise) is raised by products.
                const Complex exponent = constantValue(b.slot);
                if (exponent.im == 0 && exponent.re >= 2 && exponent.re <= maxExactPower &&
                    exponent.re == std::trunc(exponent.re))
                    return emit(Op::IntPower, static_cast<int>(exponent.re), a, b);
            }
            const Op operation = (m_symbolic && code == op::Power) ? Op::PowerNoZeroZero
                                                                    : binaryOp(code);
            return emit(operation, code, a, b);
        }
        if ((code == op::Not || code == op::Negate) && t.left) {
            const Compiled a = node(*t.left, depth + 1, inDefinition);
            return emit(code == op::Not ? Op::Not : Op::Negate, code, a);
        }
        if (isFunctionCode(code) && t.left)
            return function(code, node(*t.left, depth + 1, inDefinition));
        return m_symbolic ? fail() : throwing("Syntax error!!!");
    }

    CompiledExpression& m_out;
    const SymbolTable& m_table;
    bool m_symbolic;
    bool m_failed = false;
    long long m_expanded = 0;
    std::int32_t m_slotCount = 0;
    std::unordered_map<std::string, std::int32_t> m_inputs;
    std::unordered_map<std::string, std::size_t> m_dependencyIndex;
    std::unordered_map<const Tensor*, Memo> m_memo;
    std::vector<std::pair<std::int32_t, Complex>> m_constants;
    std::unordered_map<std::int32_t, std::size_t> m_constantIndex;
};

void CompiledExpression::compile(const Tensor& root, const SymbolTable& table, FormulaRules rules,
                                 std::vector<std::string> inputs)
{
    *this = CompiledExpression();
    m_symbolic = rules == FormulaRules::Symbolic;
    m_inputCount = static_cast<std::int32_t>(inputs.size());
    FormulaCompiler compiler(*this, table, rules, inputs);
    if (!compiler.run(root)) {
        *this = CompiledExpression();
        return;
    }
    m_compiled = true;
    if (!refresh(table))
        *this = CompiledExpression(); // cannot happen: the table has not changed meanwhile
}

void CompiledExpression::setSlotValue(std::int32_t slot, Complex value)
{
    m_slots[static_cast<std::size_t>(slot)] = value;
}

bool CompiledExpression::refresh(const SymbolTable& table)
{
    if (!m_compiled)
        return false;
    for (const Dependency& dependency : m_dependencies) {
        const Funkcja* symbol = table.lookup(dependency.name);
        if (!symbol || !dependency.found) {
            if (symbol || dependency.found)
                return false;
            continue;
        }
        if (!symbol->definition)
            return false;
        const Tensor& definition = *symbol->definition;
        if (dependency.liveNumber) {
            if (!definition.isNumber())
                return false;
            if (dependency.slot >= 0)
                setSlotValue(dependency.slot, cleanZero({definition.re, definition.im}));
        } else if (!dependency.snapshot || !sameTree(definition, *dependency.snapshot)) {
            return false;
        }
    }
    m_realOpen = true;
    for (std::int32_t slot : m_valueSlots)
        m_realOpen = m_realOpen && isFiniteReal(m_slots[static_cast<std::size_t>(slot)]);
    return true;
}

} // namespace zyl
