#include "expr/Derivative.h"

#include "expr/Evaluator.h"
#include "expr/Printer.h"
#include "expr/StackGuard.h"
#include "expr/Statement.h"

#include <unordered_map>

namespace zyl {

namespace {

// Derivative texts past this size (definitions that name each other many times over)
// are refused rather than built.
constexpr std::size_t maximumTextSize = 16 * 1024 * 1024;

class DependencyCheck {
public:
    DependencyCheck(const std::string& name, const SymbolTable& table)
        : m_name(name), m_table(table)
    {
    }

    bool check(const Tensor& node)
    {
        checkStack();
        if (node.dimension > 0) {
            for (const TensorPtr& element : node.elements)
                if (check(*element))
                    return true;
            return false;
        }
        if (node.code == op::Symbol) {
            const Funkcja* symbol = m_table.lookup(node.text);
            if (!symbol)
                return node.text == m_name;
            // Each definition is examined once per question: shared definitions stay cheap.
            auto known = m_answers.find(symbol);
            if (known != m_answers.end())
                return known->second;
            const bool answer = check(*symbol->definition);
            m_answers[symbol] = answer;
            return answer;
        }
        if (node.code == op::Number)
            return false;
        return (node.left && check(*node.left)) || (node.right && check(*node.right));
    }

private:
    const std::string& m_name;
    const SymbolTable& m_table;
    std::unordered_map<const Funkcja*, bool> m_answers;
};

class TextBuilder {
public:
    TextBuilder(const std::string& name, std::string& out, const SymbolTable& table)
        : m_name(name), m_out(out), m_table(table), m_depends(name, table)
    {
    }

    void derive(const Tensor& node)
    {
        checkStack();
        if (m_out.size() > maximumTextSize)
            throw InfoErr("Expression too large");
        if (node.code == op::Number) {
            m_out += "0";
            return;
        }
        if (node.code == op::Symbol) {
            if (node.text == m_name) {
                m_out += "1";
                return;
            }
            const Funkcja* symbol = m_table.lookup(node.text);
            if (!symbol || !m_depends.check(*symbol->definition))
                m_out += "0";
            else
                derive(*symbol->definition);
            return;
        }
        const Tensor* u = node.left.get();
        const Tensor* v = node.right.get();
        switch (node.code) {
        case op::Plus:
            derive(*u), put("+"), derive(*v);
            return;
        case op::Minus:
            derive(*u), put("-("), derive(*v), put(")");
            return;
        case op::Times:
            put("("), derive(*u), put(")*("), print(*v), put(")+("), print(*u), put(")*("),
                derive(*v), put(")");
            return;
        case op::Divide:
            put("(("), derive(*u), put(")*("), print(*v), put(")-("), print(*u), put(")*("),
                derive(*v), put("))/("), print(*v), put(")^2");
            return;
        case op::Power:
            if (!m_depends.check(*v)) {
                put("("), print(*v), put(")*("), print(*u), put(")^("), print(*v), put("-1)*("),
                    derive(*u), put(")");
            } else if (!m_depends.check(*u)) {
                put("("), print(node), put(")*ln("), print(*u), put(")*("), derive(*v), put(")");
            } else {
                put("("), print(node), put(")*(("), derive(*v), put(")*ln("), print(*u),
                    put(")+("), print(*v), put(")*("), derive(*u), put(")/("), print(*u),
                    put("))");
            }
            return;
        case op::Log:
            if (!m_depends.check(*u)) {
                put("1/("), print(*v), put(")/ln("), print(*u), put(")*("), derive(*v), put(")");
            } else if (m_depends.check(*v)) {
                put("(("), derive(*v), put(")*ln("), print(*u), put(")/("), print(*v), put(")-("),
                    derive(*u), put(")*ln("), print(*v), put(")/("), print(*u), put("))/ln("),
                    print(*u), put(")^2");
            } else {
                put("-("), derive(*u), put(")*ln("), print(*v), put(")/("), print(*u),
                    put(")/ln("), print(*u), put(")^2");
            }
            return;
        case 108: // sin
            put("cos("), print(*u), put(")*("), derive(*u), put(")");
            return;
        case 109: // cos
            put("-sin("), print(*u), put(")*("), derive(*u), put(")");
            return;
        case 110: // tg
            put("1/cos("), print(*u), put(")^2*("), derive(*u), put(")");
            return;
        case 111: // ctg
            put("-1/sin("), print(*u), put(")^2*("), derive(*u), put(")");
            return;
        case 112: // ln
            put("1/("), print(*u), put(")*("), derive(*u), put(")");
            return;
        case op::Negate:
            put("-("), derive(*u), put(")");
            return;
        case 114: // exp
            put("exp("), print(*u), put(")*("), derive(*u), put(")");
            return;
        case 117: // arccos
            put("-");
            [[fallthrough]];
        case 116: // arcsin
            put("1/sqrt(1-("), print(*u), put(")^2)*("), derive(*u), put(")");
            return;
        case 119: // arcctg
            put("-");
            [[fallthrough]];
        case 118: // arctg
            put("1/(1+("), print(*u), put(")^2)*("), derive(*u), put(")");
            return;
        case 120: // sqrt
            put("0.5/sqrt("), print(*u), put(")*("), derive(*u), put(")");
            return;
        default:
            throw InfoErr("Not implemented yet !");
        }
    }

private:
    void put(const char* text) { m_out += text; }
    void print(const Tensor& node) { printExpression(node, m_out, 0); }

    const std::string& m_name;
    std::string& m_out;
    const SymbolTable& m_table;
    DependencyCheck m_depends;
};

/// Holds a symbol out of the table and puts it back at the back, whatever happens.
class SymbolAside {
public:
    SymbolAside(SymbolTable& table, const std::string& name) : m_table(table)
    {
        if (Funkcja* symbol = table.lookup(name))
            m_symbol = table.unlink(symbol);
    }
    ~SymbolAside()
    {
        if (m_symbol)
            m_table.pushBack(std::move(m_symbol));
    }
    SymbolAside(const SymbolAside&) = delete;
    SymbolAside& operator=(const SymbolAside&) = delete;

private:
    SymbolTable& m_table;
    std::unique_ptr<Funkcja> m_symbol;
};

TensorPtr differentiate(const Tensor& value, const std::string& name, SymbolTable& table)
{
    checkStack();
    if (value.isVector()) {
        auto result = std::make_unique<Tensor>();
        for (const TensorPtr& element : value.elements)
            result->appendElement(differentiate(*element, name, table));
        return result;
    }
    std::string text;
    {
        SymbolAside aside(table, name);
        derivativeText(value, name, text, table);
    }
    auto symbol = makeSymbolFromStatement(text, "", false, table);
    return std::move(symbol->definition);
}

} // namespace

bool dependsOn(const Tensor& node, const std::string& name, const SymbolTable& table)
{
    DependencyCheck check(name, table);
    return check.check(node);
}

void derivativeText(const Tensor& node, const std::string& name, std::string& out,
                    const SymbolTable& table)
{
    TextBuilder builder(name, out, table);
    builder.derive(node);
}

TensorPtr applyDerivative(const Tensor&, TensorPtr expression, const std::string& variable,
                          SymbolTable& table)
{
    return differentiate(*expression, variable, table);
}

TensorPtr evaluateDerivativeOperand(const Tensor& operand, const std::string& variable,
                                    SymbolTable& table)
{
    // The variable is bound inside D: the expression is taken with the variable free even
    // when it holds a value, or D(x^2,x) would differentiate the number x^2 already is.
    SymbolAside aside(table, variable);
    return evaluate(operand, table);
}

} // namespace zyl
