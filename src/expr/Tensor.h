#pragma once

#include "common/DoubleList.h"
#include "common/Exception.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zyl {

struct Tensor;
using TensorPtr = std::unique_ptr<Tensor>;

/// Operator codes of the expression language; the arity follows from the range:
/// 1..99 two operands, 101..999 one, above 1000 any number (vectors).
namespace op {
constexpr int Number = 0; // also a vector when dimension > 0
constexpr int Symbol = -1;
constexpr int VectorStart = -2; // parser only
constexpr int Plus = 1, Minus = 2, Times = 3, Divide = 4, Power = 6, Log = 7;
constexpr int Greater = 8, GreaterEq = 9, Less = 10, LessEq = 11, Equal = 12, NotEqual = 13;
constexpr int And = 14, Or = 15, Assign = 16, Derivative = 18, Sum = 19, Product = 20;
constexpr int Not = 107, Negate = 113;
constexpr int FirstFunction = 108, LastFunction = 137;
constexpr int Vect = 1001;

inline bool isBinary(int code) { return code >= 1 && code <= 99; }
inline bool isUnary(int code) { return code >= 101 && code <= 999; }
} // namespace op

/// The one record of the language: parse-tree node, number, vector and symbolic value.
/// Owns its elements and children; copies are deep. Copying and destroying work without
/// recursion, so trees of any depth are safe to hold, and destroying never allocates.
struct Tensor {
    int dimension = 0; ///< vector elements; 0 when not a vector
    int level = 0;     ///< precedence level of the token; drives the printer's brackets
    int code = 0;      ///< see namespace op
    std::vector<TensorPtr> elements;
    TensorPtr left;
    TensorPtr right;
    std::string text;
    double re = 0.0;
    double im = 0.0;

    /// Charges the node to the statement's budget (WorkBudget), so it may throw InfoErr.
    Tensor();
    /// Charges every node copied; a copy that fails part way destroys what it built.
    Tensor(const Tensor& other);
    Tensor& operator=(const Tensor& other);
    Tensor(Tensor&& other) noexcept = default;
    Tensor& operator=(Tensor&& other) noexcept;
    ~Tensor();

    TensorPtr clone() const { return std::make_unique<Tensor>(*this); }

    bool isNumber() const { return code == op::Number && dimension == 0; }
    bool isVector() const { return dimension > 0; }
    bool isSymbolRef() const { return code == op::Symbol; }
    /// A symbol reference or an operator node: a value that could not be computed.
    bool isSymbolic() const { return dimension == 0 && code != op::Number; }
    bool isReal() const { return isNumber() && im == 0.0; }

    /// Appends an element to a vector node, keeping `dimension` in step.
    void appendElement(TensorPtr element);

private:
    /// The nodes of a copy, which the copy charges itself, text included.
    struct Uncharged {};
    explicit Tensor(Uncharged) {}

    /// Destroys the subtree without recursion and without allocating, so that it is safe in
    /// a destructor and while memory is exhausted.
    void releaseChildren() noexcept;
};

/// The text of a complex number: 3, 2*I, -I, 1+I, 1.5-2*I (6 significant digits).
std::string formatNumber(double re, double im);

/// A computed number: level 0, code 0, the value (zeros made positive) and its text.
TensorPtr makeNumber(double re, double im = 0.0);

/// A new operator node (no children yet).
TensorPtr makeOperator(int code, int level, std::string text);

/// A new symbol reference.
TensorPtr makeSymbolRef(std::string name);

/// A named symbol: the name and the tree it stands for.
struct Funkcja {
    std::string name;
    TensorPtr definition;
    bool isProtected = false;
};

std::unique_ptr<Funkcja> makeSymbolFromValue(double re, double im, std::string name,
                                             bool isProtected);

/// The ordered, owning list of symbols. Lookup returns the first match from the front and,
/// thanks to a name index, costs no more than a hash look-up however long the table grows.
/// NOTE: a symbol must not be renamed while it is in the table.
class SymbolTable {
public:
    SymbolTable() = default;
    SymbolTable(const SymbolTable&) = delete;
    SymbolTable& operator=(const SymbolTable&) = delete;

    void pushFront(std::unique_ptr<Funkcja> symbol);
    void pushBack(std::unique_ptr<Funkcja> symbol);
    Funkcja* lookup(std::string_view name) const;
    /// Unlinks the symbol and destroys it.
    void remove(Funkcja* symbol) { unlink(symbol); }
    /// Unlinks the symbol and hands it back to the caller.
    std::unique_ptr<Funkcja> unlink(Funkcja* symbol);
    void clear();
    /// The four protected constants in front (deg, e, pi, I) and the 26 statistics behind.
    void registerBuiltinSymbols();

    std::size_t size() const { return m_list.size(); }
    const DoubleList<Funkcja>& symbols() const { return m_list; }

private:
    struct IndexEntry {
        DoubleList<Funkcja>::Node* node;
        std::int64_t order; // smaller is nearer the front
    };
    void addToIndex(DoubleList<Funkcja>::Node* node, std::int64_t order);

    DoubleList<Funkcja> m_list;
    std::unordered_map<std::string, std::vector<IndexEntry>> m_index;
    std::int64_t m_frontOrder = 0;
    std::int64_t m_backOrder = 0;
};

/// The host writes a number into the language: the root of the symbol's definition gets
/// the value in place, and the text that shows it. A symbol that has been removed, or redefined as
/// something other than a number, is made a number again, so that the value is not lost.
void setSymbolValue(SymbolTable& table, std::string_view name, double x);

} // namespace zyl
