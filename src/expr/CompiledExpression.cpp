#include "expr/CompiledExpression.h"

#include "expr/Functions.h"
#include "expr/MathErrors.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
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
// A block holds every slot for every row; larger programs evaluate row by row.
constexpr std::size_t maxBlockSlots = 512;

using Op = CompiledExpression::Op;

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
        m_out.m_complex.assign(static_cast<std::size_t>(std::max(m_slotCount, 1)), Complex{});
        m_out.m_real.assign(m_out.m_complex.size(), 0.0);
        for (const auto& [slot, value] : m_constants) {
            m_out.m_complex[static_cast<std::size_t>(slot)] = value;
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
    m_complex[static_cast<std::size_t>(slot)] = value;
    m_real[static_cast<std::size_t>(slot)] = value.re;
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
    for (std::int32_t slot : m_valueSlots) {
        const Complex value = m_complex[static_cast<std::size_t>(slot)];
        m_real[static_cast<std::size_t>(slot)] = value.re;
        m_realOpen = m_realOpen && isFiniteReal(value);
    }
    return true;
}

Complex CompiledExpression::evaluate(const double* inputs)
{
    bool real = m_realOpen;
    for (std::int32_t i = 0; i < m_inputCount; ++i) {
        // The tree reads a variable through a number node, which turns -0 into +0.
        const double x = inputs[i] == 0 ? 0.0 : inputs[i];
        m_real[static_cast<std::size_t>(i)] = x;
        real = real && std::isfinite(x);
    }
    std::size_t pc = 0;
    if (real) {
        pc = runReal(0);
        if (pc == m_code.size())
            return {m_real[static_cast<std::size_t>(m_result)], 0.0};
        // The values so far are those the complex path would have: go on from here.
        for (std::size_t s = 0; s < m_real.size(); ++s)
            m_complex[s] = {m_real[s], 0.0};
    } else {
        for (std::int32_t i = 0; i < m_inputCount; ++i)
            m_complex[static_cast<std::size_t>(i)] = {m_real[static_cast<std::size_t>(i)], 0.0};
    }
    runComplex(pc);
    const Complex result = m_complex[static_cast<std::size_t>(m_result)];
    return m_symbolic ? cleanZero(result) : result;
}

void CompiledExpression::evaluateBlock(const double* inputs, std::size_t rows, Complex* results,
                                       std::size_t& done)
{
    done = 0;
    const std::size_t width = static_cast<std::size_t>(m_inputCount);
    if (!m_realOpen || m_real.size() > maxBlockSlots || rows > blockRows) {
        for (; done < rows; ++done)
            results[done] = evaluate(inputs + done * width);
        return;
    }
    m_block.resize(m_real.size() * blockRows);
    m_blockFailed.assign(rows, 0);
    for (std::size_t i = 0; i < width; ++i) {
        double* slot = m_block.data() + i * blockRows;
        for (std::size_t r = 0; r < rows; ++r) {
            const double x = inputs[r * width + i];
            slot[r] = x == 0 ? 0.0 : x;
            m_blockFailed[r] |= !std::isfinite(x);
        }
    }
    for (std::int32_t value : m_valueSlots) {
        double* slot = m_block.data() + static_cast<std::size_t>(value) * blockRows;
        std::fill(slot, slot + rows, m_real[static_cast<std::size_t>(value)]);
    }
    runRealBlock(rows);
    const double* result = m_block.data() + static_cast<std::size_t>(m_result) * blockRows;
    for (; done < rows; ++done)
        results[done] = m_blockFailed[done] ? evaluate(inputs + done * width)
                                            : Complex{result[done], 0.0};
}

// NOTE: the same arithmetic as runReal, operation by operation over the rows; where runReal
// would hand over to the complex path (or throw), the row is marked and evaluated alone
// afterwards. The library functions are those the checked wrappers call, with the wrappers'
// failures (an overflow, a pole) turned into marks: a marked row's later values are never
// used.
void CompiledExpression::runRealBlock(std::size_t rows)
{
    constexpr std::size_t width = blockRows;
    double* block = m_block.data();
    unsigned char* failed = m_blockFailed.data();
    for (const Instruction& in : m_code) {
        double* t = block + static_cast<std::size_t>(in.target) * width;
        const double* a = block + static_cast<std::size_t>(in.a) * width;
        const double* b = block + static_cast<std::size_t>(in.b) * width;
        switch (in.op) {
        case Op::Add:
            for (std::size_t r = 0; r < rows; ++r) {
                const double v = a[r] + b[r];
                failed[r] |= !std::isfinite(v);
                t[r] = v + 0.0;
            }
            break;
        case Op::Subtract:
            for (std::size_t r = 0; r < rows; ++r) {
                const double v = a[r] - b[r];
                failed[r] |= !std::isfinite(v);
                t[r] = v + 0.0;
            }
            break;
        case Op::Multiply:
            for (std::size_t r = 0; r < rows; ++r) {
                const double v = a[r] * b[r];
                failed[r] |= !std::isfinite(v);
                t[r] = v + 0.0;
            }
            break;
        case Op::Divide:
            for (std::size_t r = 0; r < rows; ++r) {
                const double v = a[r] / b[r];
                failed[r] |= b[r] == 0 || !std::isfinite(v);
                t[r] = v + 0.0;
            }
            break;
        case Op::Power:
        case Op::PowerNoZeroZero:
            for (std::size_t r = 0; r < rows; ++r) {
                const double x = a[r], y = b[r];
                double v = 0.0;
                if (x > 0) {
                    v = std::pow(std::hypot(x, 0.0), y);
                    failed[r] |= std::isinf(v);
                } else if (x == 0) {
                    failed[r] |= y == 0 && in.op == Op::PowerNoZeroZero;
                    v = y == 0 ? 1.0 : 0.0;
                } else {
                    failed[r] = 1;
                }
                t[r] = v + 0.0;
            }
            break;
        case Op::Greater:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = a[r] > b[r] ? 1.0 : 0.0;
            break;
        case Op::GreaterEq:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = a[r] >= b[r] ? 1.0 : 0.0;
            break;
        case Op::Less:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = a[r] < b[r] ? 1.0 : 0.0;
            break;
        case Op::LessEq:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = a[r] <= b[r] ? 1.0 : 0.0;
            break;
        case Op::Equal:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = a[r] == b[r] ? 1.0 : 0.0;
            break;
        case Op::NotEqual:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = a[r] == b[r] ? 0.0 : 1.0;
            break;
        case Op::And:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = (a[r] != 0 && b[r] != 0) ? 1.0 : 0.0;
            break;
        case Op::Or:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = (a[r] != 0 || b[r] != 0) ? 1.0 : 0.0;
            break;
        case Op::Not:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = a[r] == 0 ? 1.0 : 0.0;
            break;
        case Op::Negate:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = -a[r] + 0.0;
            break;
        case Op::Sin:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = std::sin(a[r]) + 0.0;
            break;
        case Op::Cos:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = std::cos(a[r]) + 0.0;
            break;
        case Op::Exp:
            for (std::size_t r = 0; r < rows; ++r) {
                const double v = std::exp(a[r]);
                failed[r] |= std::isinf(v);
                t[r] = v + 0.0;
            }
            break;
        case Op::Ln:
            for (std::size_t r = 0; r < rows; ++r) {
                const double x = a[r];
                failed[r] |= !(x > 0);
                t[r] = x > 0 ? std::log(std::hypot(x, 0.0)) + 0.0 : 0.0;
            }
            break;
        case Op::Sqrt:
            for (std::size_t r = 0; r < rows; ++r) {
                const double x = a[r];
                failed[r] |= !(x >= 0);
                t[r] = x >= 0 ? std::sqrt(std::hypot(x, 0.0)) + 0.0 : 0.0;
            }
            break;
        case Op::Abs:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = std::hypot(a[r], 0.0) + 0.0;
            break;
        case Op::CeilReal:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = std::ceil(a[r]) + 0.0;
            break;
        case Op::RoundReal:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = roundHalfAway(a[r]) + 0.0;
            break;
        case Op::Log:
        case Op::Function:
        case Op::Throw:
            // Rare enough to leave to the rows' own evaluations.
            for (std::size_t r = 0; r < rows; ++r) {
                failed[r] = 1;
                t[r] = 0.0;
            }
            break;
        }
    }
}

// NOTE: each case gives, for finite real operands, exactly the real part of what the complex
// path computes, whose imaginary part is then +0; where that does not hold (a negative base or
// logarithm, a zero divisor, an overflow) it returns and the complex path takes the operation
// over, raising its error if it has one. A throw from here is the throw the complex path would
// make at the same operation.
std::size_t CompiledExpression::runReal(std::size_t pc)
{
    double* r = m_real.data();
    const Instruction* code = m_code.data();
    const std::size_t n = m_code.size();
    for (; pc < n; ++pc) {
        const Instruction& in = code[pc];
        const double x = r[in.a];
        const double y = r[in.b];
        double v = 0.0;
        switch (in.op) {
        // Sums, differences, products and quotients of finite numbers may overflow.
        case Op::Add:
            v = x + y;
            if (!std::isfinite(v))
                return pc;
            break;
        case Op::Subtract:
            v = x - y;
            if (!std::isfinite(v))
                return pc;
            break;
        case Op::Multiply:
            v = x * y;
            if (!std::isfinite(v))
                return pc;
            break;
        case Op::Divide:
            v = x / y;
            if (y == 0 || !std::isfinite(v))
                return pc;
            break;
        case Op::Power:
        case Op::PowerNoZeroZero:
            if (x > 0) {
                // The polar form with angle 0: magnitude |x|^y, phase y*0.
                v = checked::pow(checked::hypot(x, 0.0), y);
            } else if (x == 0) {
                if (y == 0 && in.op == Op::PowerNoZeroZero)
                    return pc;
                v = y == 0 ? 1.0 : 0.0;
            } else {
                return pc;
            }
            break;
        case Op::Log: {
            const Complex z = arithmeticValue(op::Log, {x, 0.0}, {y, 0.0});
            if (!isFiniteReal(z))
                return pc;
            v = z.re;
            break;
        }
        case Op::Greater: v = x > y ? 1.0 : 0.0; break;
        case Op::GreaterEq: v = x >= y ? 1.0 : 0.0; break;
        case Op::Less: v = x < y ? 1.0 : 0.0; break;
        case Op::LessEq: v = x <= y ? 1.0 : 0.0; break;
        case Op::Equal: v = x == y ? 1.0 : 0.0; break;
        case Op::NotEqual: v = x == y ? 0.0 : 1.0; break;
        case Op::And: v = (x != 0 && y != 0) ? 1.0 : 0.0; break;
        case Op::Or: v = (x != 0 || y != 0) ? 1.0 : 0.0; break;
        case Op::Not: v = x == 0 ? 1.0 : 0.0; break;
        case Op::Negate: v = -x; break;
        case Op::Sin: v = checked::sin(x); break;
        case Op::Cos: v = checked::cos(x); break;
        case Op::Exp: v = checked::exp(x); break;
        case Op::Ln:
            if (x < 0)
                return pc;
            v = checked::log(checked::hypot(x, 0.0));
            break;
        case Op::Sqrt:
            if (x < 0)
                return pc;
            v = checked::sqrt(checked::hypot(x, 0.0));
            break;
        case Op::Abs: v = checked::hypot(x, 0.0); break;
        case Op::CeilReal: v = std::ceil(x); break;
        case Op::RoundReal: v = roundHalfAway(x); break;
        case Op::Function: {
            const Complex z = functionValue(in.code, {x, 0.0});
            if (!isFiniteReal(z))
                return pc;
            v = z.re;
            break;
        }
        case Op::Throw: return pc;
        }
        // Every other case gives a finite value for finite operands, or throws. Adding +0
        // turns -0 into +0 (cleanZero) and leaves every other value as it is.
        r[in.target] = v + 0.0;
    }
    return pc;
}

Complex CompiledExpression::complexStep(const Instruction& in, Complex a, Complex b,
                                        bool symbolic)
{
    Complex v;
    switch (in.op) {
    case Op::Add:
    case Op::Subtract:
    case Op::Multiply:
    case Op::Divide:
    case Op::Power:
    case Op::Log: v = arithmeticValue(in.code, a, b); break;
    case Op::PowerNoZeroZero:
        if (a.re == 0 && a.im == 0 && b.re == 0 && b.im == 0)
            throw InfoErr("0^0!");
        v = arithmeticValue(in.code, a, b);
        break;
    case Op::Equal: v = {a.re == b.re && a.im == b.im ? 1.0 : 0.0, 0.0}; break;
    case Op::NotEqual: v = {a.re == b.re && a.im == b.im ? 0.0 : 1.0, 0.0}; break;
    case Op::Greater:
    case Op::GreaterEq:
    case Op::Less:
    case Op::LessEq:
    case Op::And:
    case Op::Or: {
        if (a.im != 0 || b.im != 0)
            throw InfoErr("Not a real type");
        bool truth = false;
        switch (in.op) {
        case Op::Greater: truth = a.re > b.re; break;
        case Op::GreaterEq: truth = a.re >= b.re; break;
        case Op::Less: truth = a.re < b.re; break;
        case Op::LessEq: truth = a.re <= b.re; break;
        case Op::And: truth = a.re != 0 && b.re != 0; break;
        default: truth = a.re != 0 || b.re != 0; break;
        }
        v = {truth ? 1.0 : 0.0, 0.0};
        break;
    }
    case Op::Not:
        if (a.im != 0)
            throw InfoErr("Not a real type");
        v = {a.re == 0 ? 1.0 : 0.0, 0.0};
        break;
    case Op::Negate: v = cleanZero({-a.re, -a.im}); break;
    case Op::Sin:
    case Op::Cos:
    case Op::Exp:
    case Op::Ln:
    case Op::Sqrt:
    case Op::Abs:
    case Op::Function: v = functionValue(in.code, a); break;
    case Op::CeilReal: v = cleanZero({functionValue(in.code, a).re, 0.0}); break;
    case Op::RoundReal: v = cleanZero({roundHalfAway(a.re), 0.0}); break;
    case Op::Throw: throw std::logic_error("a throwing instruction has no value");
    }
    // The symbolic evaluator stores every result with makeNumber, which cleans zeros.
    return symbolic ? cleanZero(v) : v;
}

void CompiledExpression::runComplex(std::size_t pc)
{
    Complex* z = m_complex.data();
    const std::size_t n = m_code.size();
    for (; pc < n; ++pc) {
        const Instruction& in = m_code[pc];
        if (in.op == Op::Throw)
            throw InfoErr(m_messages[static_cast<std::size_t>(in.code)]);
        z[in.target] = complexStep(in, z[in.a], z[in.b], m_symbolic);
    }
}

} // namespace zyl
