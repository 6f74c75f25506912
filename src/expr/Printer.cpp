#include "expr/Printer.h"

#include "expr/Parser.h"
#include "expr/StackGuard.h"

namespace zyl {

namespace {

bool isNegativeOrComplex(const Tensor& node) { return node.im != 0 || node.re < 0; }

bool isCallForm(const Tensor& node)
{
    return node.code == op::Derivative || node.code == op::Sum || node.code == op::Product ||
           node.text == "log";
}

bool isLogCall(const Tensor& node) { return node.text == "log" && node.left && node.right; }

bool isInfixForm(const Tensor& node)
{
    return op::isBinary(node.code) && !isCallForm(node) && node.left && node.right;
}

bool isPrefixForm(const Tensor& node)
{
    return (node.code == op::Negate || node.code == op::Not) && node.left;
}

int childBump(const Tensor& node)
{
    const int code = node.code;
    // "==" and "!=" are not associative either: a==(b==c) must not print as a==b==c.
    if (node.right && node.right->level == node.level &&
        (code == op::Minus || code == op::Divide || (code >= op::Greater && code <= op::NotEqual)))
        return 1;
    if (code == op::Power && node.left && node.left->code == op::Power)
        return 1;
    return 0;
}

/// Whether the node's own text is wrapped in brackets when it is printed under parentLevel.
bool bracketedUnder(const Tensor& node, int parentLevel)
{
    if (node.dimension > 0 || node.code == op::Symbol)
        return false;
    if (node.code == op::Number)
        return node.level < parentLevel && isNegativeOrComplex(node);
    if (isLogCall(node))
        return false;
    if (isInfixForm(node) || isPrefixForm(node))
        return node.level < parentLevel;
    return false;
}

/// True when the printed text of the node, printed under parentLevel, begins with a minus.
/// After "+" or "-" such a sign would be folded into the operator when read back
/// (a-(-b) would read as a+b), so the operand gets brackets there. Walks the leftmost path
/// of the subtree, which is where the first character comes from.
bool printsLeadingMinus(const Tensor* node, int parentLevel)
{
    for (;;) {
        if (node->dimension > 0 || node->code == op::Symbol)
            return false;
        if (node->code == op::Number)
            return !(node->level < parentLevel && isNegativeOrComplex(*node)) &&
                   !node->text.empty() && node->text[0] == '-';
        if (node->level < parentLevel || isCallForm(*node))
            return false;
        if (node->code == op::Negate)
            return true;
        if (!op::isBinary(node->code) || !node->left)
            return false;
        parentLevel = node->level + childBump(*node);
        node = node->left.get();
    }
}

/// The name or number whose text ends the node's print under parentLevel, or an empty view
/// when the print ends with a bracket. Walks the rightmost path of the subtree.
std::string_view trailingToken(const Tensor* node, int parentLevel)
{
    for (;;) {
        if (node->dimension > 0 || bracketedUnder(*node, parentLevel))
            return {};
        if (node->code == op::Symbol || node->code == op::Number)
            return node->text;
        if (isInfixForm(*node)) {
            const int level = node->level + childBump(*node);
            const bool sign = node->code == op::Plus || node->code == op::Minus;
            if (sign && printsLeadingMinus(node->right.get(), level))
                return {};
            node = node->right.get();
            parentLevel = level;
        } else if (isPrefixForm(*node) && !isLogCall(*node)) {
            if (node->code == op::Negate && printsLeadingMinus(node->left.get(), node->level))
                return {};
            parentLevel = node->level;
            node = node->left.get();
        } else {
            return {};
        }
    }
}

/// True when a "+" or "-" written right after `token` would not read back as the operator:
/// after a name ending in "." or "_" a minus is read as a negation (a.-b), and after a digit
/// and an "e" the sign is read as part of the name (x2e-1 is one name).
bool joinsTheSign(std::string_view token, int code)
{
    if (token.empty())
        return false;
    const unsigned char last = static_cast<unsigned char>(token.back());
    if (code == op::Minus && isPunctuation(last) && last != ')')
        return true;
    return token.size() >= 2 && (last == 'e' || last == 'E') &&
           token[token.size() - 2] >= '0' && token[token.size() - 2] <= '9';
}

/// The printer's rules, once, for every kind of output: `Sink` receives the pieces of text
/// through put(), and decides through own() how a node's unbracketed text is produced.
template <class Sink> class Walk {
public:
    explicit Walk(Sink& sink) : m_sink(sink) {}

    void print(const Tensor& node, int parentLevel)
    {
        checkStack();
        const bool bracketed = bracketedUnder(node, parentLevel);
        if (bracketed)
            m_sink.put("(");
        m_sink.own(node, [this, &node] { printOwn(node); });
        if (bracketed)
            m_sink.put(")");
    }

private:
    /// The node's text without the brackets that its parent may ask for.
    void printOwn(const Tensor& node)
    {
        if (node.dimension > 0) {
            m_sink.put("{");
            for (std::size_t i = 0; i < node.elements.size(); ++i) {
                if (i > 0)
                    m_sink.put(",");
                print(*node.elements[i], 0);
            }
            m_sink.put("}");
            return;
        }
        if (node.code == op::Symbol || node.code == op::Number) {
            m_sink.put(node.text);
            return;
        }
        if (isLogCall(node)) {
            m_sink.put("log(");
            print(*node.left, 0);
            m_sink.put(",");
            print(*node.right, 0);
            m_sink.put(")");
            return;
        }
        // D, sum and product are written as calls, so that their text reads back.
        if (isInfixForm(node)) {
            const int level = node.level + childBump(node);
            const bool sign = node.code == op::Plus || node.code == op::Minus;
            if (sign && joinsTheSign(trailingToken(node.left.get(), level), node.code))
                printBracketed(*node.left);
            else
                print(*node.left, level);
            m_sink.put(node.text);
            printOperand(*node.right, level, sign);
            return;
        }
        if (isPrefixForm(node)) {
            m_sink.put(node.code == op::Negate ? "-" : "!");
            printOperand(*node.left, node.level, node.code == op::Negate);
            return;
        }
        m_sink.put(node.text);
        m_sink.put("(");
        if (node.left)
            print(*node.left, 0);
        if (node.right) {
            m_sink.put(",");
            print(*node.right, 0);
        }
        m_sink.put(")");
    }

    void printOperand(const Tensor& node, int parentLevel, bool afterSign)
    {
        if (afterSign && printsLeadingMinus(&node, parentLevel))
            printBracketed(node);
        else
            print(node, parentLevel);
    }

    void printBracketed(const Tensor& node)
    {
        m_sink.put("(");
        print(node, 0);
        m_sink.put(")");
    }

    Sink& m_sink;
};

struct TextSink {
    std::string& out;
    void put(std::string_view piece) { out += piece; }
    template <class F> void own(const Tensor&, F&& printOwn) { printOwn(); }
};

// Digests: a polynomial hash of the text modulo the prime 2^61 - 1, with the base raised to
// the text's length, so that the digest of a concatenation follows from its parts.
constexpr std::uint64_t modulus = (std::uint64_t(1) << 61) - 1;
constexpr std::uint64_t base = 1'000'003;

std::uint64_t mulMod(std::uint64_t a, std::uint64_t b)
{
    const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    std::uint64_t r = static_cast<std::uint64_t>(product & modulus) +
                      static_cast<std::uint64_t>(product >> 61);
    return r >= modulus ? r - modulus : r;
}

PrintComparer::Digest append(PrintComparer::Digest a, PrintComparer::Digest b)
{
    std::uint64_t hash = mulMod(a.hash, b.power) + b.hash;
    if (hash >= modulus)
        hash -= modulus;
    return {hash, mulMod(a.power, b.power)};
}

PrintComparer::Digest digestOf(std::string_view text)
{
    PrintComparer::Digest d;
    for (unsigned char c : text) {
        d.hash = mulMod(d.hash, base) + c + 1;
        if (d.hash >= modulus)
            d.hash -= modulus;
        d.power = mulMod(d.power, base);
    }
    return d;
}

} // namespace

struct PrintComparer::DigestSink {
    PrintComparer& owner;
    Digest sum;

    void put(std::string_view piece) { sum = append(sum, digestOf(piece)); }

    template <class F> void own(const Tensor& node, F&& printOwn)
    {
        WorkBudget::spend();
        if (node.dimension == 0 && (node.code == op::Symbol || node.code == op::Number)) {
            put(node.text);
            return;
        }
        auto known = owner.m_digests.find(&node);
        if (known == owner.m_digests.end()) {
            const Digest before = sum;
            sum = Digest{};
            printOwn();
            known = owner.m_digests.emplace(&node, sum).first;
            sum = before;
        }
        sum = append(sum, known->second);
    }
};

PrintComparer::Digest PrintComparer::digest(const Tensor& node)
{
    DigestSink sink{*this, Digest{}};
    Walk<DigestSink>(sink).print(node, 0);
    return sink.sum;
}

bool PrintComparer::samePrint(const Tensor& a, const Tensor& b)
{
    const Digest da = digest(a), db = digest(b);
    if (da.hash != db.hash || da.power != db.power)
        return false;
    // Equal digests are all but certain to mean equal texts; the texts decide.
    return printToString(a) == printToString(b);
}

void printExpression(const Tensor& node, std::string& out, int parentLevel)
{
    TextSink sink{out};
    Walk<TextSink>(sink).print(node, parentLevel);
}

std::string printToString(const Tensor& node)
{
    std::string out;
    printExpression(node, out, 0);
    return out;
}

} // namespace zyl
