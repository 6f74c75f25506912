#include "expr/Tensor.h"

#include "common/TextConvert.h"
#include "expr/StackGuard.h"

#include <cmath>
#include <utility>

namespace zyl {

namespace {

/// A stack of nodes waiting to be destroyed, linked through their own `left` slots so that
/// it needs no memory of its own: a node's original left child is pushed before the node
/// takes the link.
class Dismantler {
public:
    void push(TensorPtr node) noexcept
    {
        while (node) {
            TensorPtr child = std::move(node->left);
            node->left = std::move(m_top);
            m_top = std::move(node);
            node = std::move(child);
        }
    }

    void push(std::vector<TensorPtr>& nodes) noexcept
    {
        for (TensorPtr& node : nodes)
            push(std::move(node));
        nodes.clear();
    }

    /// Destroys every node pushed, and every node they own.
    void run() noexcept
    {
        while (m_top) {
            TensorPtr node = std::move(m_top);
            m_top = std::move(node->left);
            push(std::move(node->right));
            push(node->elements);
            // `node` now owns nothing, so its destructor has nothing to walk.
        }
    }

private:
    TensorPtr m_top;
};

} // namespace

Tensor::Tensor() { WorkBudget::chargeNode(); }

Tensor::Tensor(const Tensor& other)
    : dimension(other.dimension), level(other.level), code(other.code), text(other.text),
      re(other.re), im(other.im)
{
    WorkBudget::chargeNode(other.text.size());
    // Explicit work list: a recursive copy would overflow the stack on deep trees. If a
    // charge or an allocation throws, the members built so far are destroyed as usual.
    std::vector<std::pair<const Tensor*, Tensor*>> work;
    work.emplace_back(&other, this);
    bool first = true;
    while (!work.empty()) {
        auto [src, dst] = work.back();
        work.pop_back();
        if (!first) {
            WorkBudget::chargeNode(src->text.size());
            dst->dimension = src->dimension;
            dst->level = src->level;
            dst->code = src->code;
            dst->text = src->text;
            dst->re = src->re;
            dst->im = src->im;
        }
        first = false;
        dst->elements.reserve(src->elements.size());
        for (const TensorPtr& element : src->elements) {
            dst->elements.push_back(TensorPtr(new Tensor(Uncharged{})));
            work.emplace_back(element.get(), dst->elements.back().get());
        }
        if (src->left) {
            dst->left = TensorPtr(new Tensor(Uncharged{}));
            work.emplace_back(src->left.get(), dst->left.get());
        }
        if (src->right) {
            dst->right = TensorPtr(new Tensor(Uncharged{}));
            work.emplace_back(src->right.get(), dst->right.get());
        }
    }
}

Tensor& Tensor::operator=(const Tensor& other)
{
    if (this != &other) {
        Tensor copy(other);
        *this = std::move(copy);
    }
    return *this;
}

Tensor& Tensor::operator=(Tensor&& other) noexcept
{
    if (this != &other) {
        // Take the other's children first: they may be inside our own subtree.
        std::vector<TensorPtr> elements = std::move(other.elements);
        TensorPtr left = std::move(other.left);
        TensorPtr right = std::move(other.right);
        dimension = other.dimension;
        level = other.level;
        code = other.code;
        text = std::move(other.text);
        re = other.re;
        im = other.im;
        Dismantler old;
        old.push(this->elements);
        old.push(std::move(this->left));
        old.push(std::move(this->right));
        this->elements = std::move(elements);
        this->left = std::move(left);
        this->right = std::move(right);
        old.run();
    }
    return *this;
}

Tensor::~Tensor() { releaseChildren(); }

void Tensor::releaseChildren() noexcept
{
    Dismantler dismantler;
    // Elements may have been moved out by a handler: the empty slots push nothing.
    dismantler.push(elements);
    dismantler.push(std::move(left));
    dismantler.push(std::move(right));
    dismantler.run();
}

void Tensor::appendElement(TensorPtr element)
{
    elements.push_back(std::move(element));
    dimension = static_cast<int>(elements.size());
}

std::string formatNumber(double re, double im)
{
    if (re == 0 && im == 0)
        return "0";
    std::string out;
    if (re != 0)
        out = realToText(re);
    if ((im != 0 && re != 0) || im < 0)
        out += im > 0 ? "+" : "-";
    if (im != 0) {
        double magnitude = std::fabs(im);
        if (magnitude == 1)
            out += "I";
        else
            out += realToText(magnitude) + "*I";
    }
    return out;
}

TensorPtr makeNumber(double re, double im)
{
    auto node = std::make_unique<Tensor>();
    // A negative zero would turn atan2's pi into -pi in later logarithms and powers.
    node->re = re == 0 ? 0.0 : re;
    node->im = im == 0 ? 0.0 : im;
    node->text = formatNumber(node->re, node->im);
    return node;
}

TensorPtr makeOperator(int code, int level, std::string text)
{
    auto node = std::make_unique<Tensor>();
    node->code = code;
    node->level = level;
    node->text = std::move(text);
    return node;
}

TensorPtr makeSymbolRef(std::string name)
{
    auto node = std::make_unique<Tensor>();
    node->code = op::Symbol;
    node->text = std::move(name);
    return node;
}

std::unique_ptr<Funkcja> makeSymbolFromValue(double re, double im, std::string name,
                                             bool isProtected)
{
    auto symbol = std::make_unique<Funkcja>();
    symbol->name = std::move(name);
    symbol->definition = makeNumber(re, im);
    symbol->isProtected = isProtected;
    return symbol;
}

void SymbolTable::addToIndex(DoubleList<Funkcja>::Node* node, std::int64_t order)
{
    m_index[node->item->name].push_back({node, order});
}

void SymbolTable::pushFront(std::unique_ptr<Funkcja> symbol)
{
    auto* node = m_list.pushFront(std::move(symbol));
    addToIndex(node, --m_frontOrder);
}

void SymbolTable::pushBack(std::unique_ptr<Funkcja> symbol)
{
    auto* node = m_list.pushBack(std::move(symbol));
    addToIndex(node, ++m_backOrder);
}

Funkcja* SymbolTable::lookup(std::string_view name) const
{
    auto it = m_index.find(std::string(name));
    if (it == m_index.end() || it->second.empty())
        return nullptr;
    const IndexEntry* best = &it->second.front();
    for (const IndexEntry& entry : it->second)
        if (entry.order < best->order)
            best = &entry;
    return best->node->item.get();
}

std::unique_ptr<Funkcja> SymbolTable::unlink(Funkcja* symbol)
{
    auto it = m_index.find(symbol->name);
    if (it == m_index.end())
        return nullptr;
    auto& entries = it->second;
    for (auto e = entries.begin(); e != entries.end(); ++e) {
        if (e->node->item.get() == symbol) {
            auto* node = e->node;
            entries.erase(e);
            if (entries.empty())
                m_index.erase(it);
            return m_list.unlink(node);
        }
    }
    return nullptr;
}

void SymbolTable::clear()
{
    m_list.clear();
    m_index.clear();
    m_frontOrder = m_backOrder = 0;
}

void SymbolTable::registerBuiltinSymbols()
{
    const double pi = std::atan2(0.0, -1.0);
    pushFront(makeSymbolFromValue(0, 1, "I", true));
    pushFront(makeSymbolFromValue(pi, 0, "pi", true));
    pushFront(makeSymbolFromValue(std::exp(1.0), 0, "e", true));
    pushFront(makeSymbolFromValue(pi * 1 / 180, 0, "deg", true));
    for (const char* name :
         {"Average", "StdDev", "Generation", "Mutations", "Crossovers", "PopSize", "Different",
          "MeanDev", "MedianDev", "Range", "Q1", "Q2", "Q3", "IQR", "Entropy", "Discrepancy",
          "GlobalMax", "GlobalMin", "CurrentMax", "CurrentMin", "CrossPoints", "TourSize",
          "Buffered", "CrossUnifProb", "CrossProb", "MutProb"})
        pushBack(makeSymbolFromValue(0, 0, name, false));
}

void setSymbolValue(SymbolTable& table, std::string_view name, double x)
{
    Funkcja* symbol = table.lookup(name);
    if (!symbol) {
        table.pushBack(makeSymbolFromValue(x, 0, std::string(name), false));
        return;
    }
    Tensor& root = *symbol->definition;
    if (root.isNumber()) {
        root.re = x;
        root.im = 0.0;
        // The printer shows a number by its text: a stale text would make the console and the
        // export show the old value while every computation uses the new one.
        root.text = formatNumber(root.re, root.im);
    } else {
        symbol->definition = makeNumber(x, 0);
    }
}

} // namespace zyl
