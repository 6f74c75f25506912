#pragma once

#include "expr/Operators.h"
#include "expr/Tensor.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zyl {

/// Which evaluator's answers a compiled program gives.
enum class FormulaRules {
    /// Those of evaluateNumeric on the tree (the objective, a plot or export column that names
    /// a symbol).
    Numeric,
    /// Those of evaluate on the tree followed by the numeric value of its result: what the
    /// statement pipeline gives a plot or export expression. 0^0 is the error "0^0!", and ceil
    /// and round act on both parts.
    Symbolic,
};

/// A formula turned into a flat program over slots: the inputs (decision variables), the
/// numbers that named symbols hold (read again by refresh, so that published statistics need
/// no recompiling), constants and one slot per operation. Evaluating it allocates nothing and
/// touches no symbol table, so it may run on another thread than the one that owns the table.
///
/// It gives exactly what the tree evaluator gives, bit for bit, and fails where the tree
/// fails with the same message: operations run in the tree evaluator's order (right operand
/// first) through the same arithmetic, and what the tree refuses (an unknown name, a vector,
/// D, sum, product) becomes an instruction that throws that error when reached. A real-valued
/// path runs while every value is a finite real; an operation that would leave it (a negative
/// base, an overflow, a complex operand) hands over to the complex path at that operation,
/// which still computes an operation on finite reals as the real path does. A power with a
/// small whole exponent (x^2 to x^8) is computed from products where they give pow's bits.
///
/// Formulas the program cannot follow exactly stay with the tree (compiled() is false): under
/// the symbolic rules a name that stays symbolic, a vector, D, sum or product; under both
/// rules a formula that, with its definitions written out, is very large or deep (where the
/// tree's work budget and stack guard have their say).
class CompiledExpression {
public:
    /// Compiles `root` as the table stands. A name in `inputs` stands for the input at its
    /// position (the last one when a name repeats), whatever the table holds under it, as a
    /// host that writes the inputs into the table before each evaluation would have it.
    /// Under the symbolic rules, a name "I" in `root` itself (not in the definitions it
    /// reaches) is the imaginary unit, as the statement pipeline's substitution makes it.
    void compile(const Tensor& root, const SymbolTable& table, FormulaRules rules,
                 std::vector<std::string> inputs = {});

    /// False when the formula must be evaluated by the tree (see the class comment), or
    /// before the first compile.
    bool compiled() const { return m_compiled; }

    /// Whether every name the formula reached still means what it meant when compiled (the
    /// same kind of definition, and the same tree unless it is a plain number); if so, reads
    /// the numbers those names hold now and returns true. False: compile again.
    bool refresh(const SymbolTable& table);

    /// The value for the inputs (one per name given to compile). \pre compiled() and a
    /// successful refresh since the table last changed.
    /// \throws InfoErr or a math error, the one the tree evaluator would throw.
    Complex evaluate(const double* inputs);

    /// Evaluates `rows` sets of inputs at once (row r at inputs + r * inputs per row; at
    /// most blockRows), each operation over all rows before the next: what a run of evaluate
    /// calls would give, row after row, but without their overhead per operation. Row r's
    /// value goes to results[r]. When a row fails, `done` is its index and its error is thrown;
    /// the rows before it have their values. Otherwise `done` becomes `rows`.
    void evaluateBlock(const double* inputs, std::size_t rows, Complex* results,
                       std::size_t& done);
    static constexpr std::size_t blockRows = 64;

    /// Whole exponents up to this one are raised by products (IntPower): beyond it the products
    /// cost about what the library's pow does.
    static constexpr int maxExactPower = 8;

    /// Instructions, for tests and benchmarks.
    std::size_t size() const { return m_code.size(); }

    /// The operations of a program. Public for the compiler's helpers only.
    /// NOTE: the operations from Not on take one operand (Throw none).
    enum class Op : std::uint8_t {
        Add, Subtract, Multiply, Divide, Power, PowerNoZeroZero, Log,
        Greater, GreaterEq, Less, LessEq, Equal, NotEqual, And, Or, Not, Negate,
        IntPower, Sin, Cos, Exp, Ln, Sqrt, Abs, Function, CeilReal, RoundReal, Throw,
    };
    struct Instruction {
        Op op;
        /// The language's code of the operation (+ is 1, sin 108, ...); for Throw the index of
        /// its message, for IntPower the exponent.
        std::int32_t code;
        std::int32_t target;
        std::int32_t a; ///< the left operand, or the only one
        std::int32_t b; ///< the right operand
    };
    /// A name the formula looked up, and what it found.
    struct Dependency {
        std::string name;
        bool found = false;
        /// The definition is a number, read again by each refresh into `slot` (-1 if unused).
        bool liveNumber = false;
        std::int32_t slot = -1;
        /// Otherwise a copy of the definition, which must not change.
        TensorPtr snapshot;
    };

private:
    friend class FormulaCompiler;

    /// One operation on complex values, as the tree evaluator computes it (not Throw).
    static Complex complexStep(const Instruction& in, Complex a, Complex b, bool symbolic);
    std::size_t runReal(std::size_t pc);
    /// The real path over the rows of a block; marks in m_blockFailed the rows it cannot
    /// follow (they are evaluated one by one afterwards).
    void runRealBlock(std::size_t rows);
    /// An operation of runRealBlock whose operands or result may have imaginary parts; false
    /// when it is left to the real loop.
    bool blockStepWithImaginary(const Instruction& in, std::size_t rows);
    void runComplex(std::size_t pc);
    void setSlotValue(std::int32_t slot, Complex value);

    bool m_compiled = false;
    bool m_symbolic = false;
    std::vector<Instruction> m_code;
    std::vector<std::string> m_messages;
    std::vector<Dependency> m_dependencies;
    std::int32_t m_inputCount = 0;
    std::int32_t m_result = 0;
    // Slot values: inputs first, then constants, the numbers of named symbols and the results
    // of the instructions. The real path writes them with a zero imaginary part, so that the
    // complex path can go on from any operation without copying.
    std::vector<Complex> m_slots;
    std::vector<std::int32_t> m_valueSlots; // constants and named numbers
    // The real path needs every constant and named number to be a finite real.
    bool m_realOpen = false;
    bool m_hasIntPower = false;
    // The block path: slot s of row r at m_block[s * blockRows + r].
    std::vector<double> m_block;
    // Their imaginary parts, in the same order, for the slots marked in m_blockHasImaginary
    // (the others are real in every row).
    std::unique_ptr<double[]> m_blockImaginary;
    std::vector<unsigned char> m_blockHasImaginary;
    std::vector<unsigned char> m_blockFailed;
    unsigned char m_blockPending[blockRows] = {}; // rows whose power pow computes
};

} // namespace zyl
