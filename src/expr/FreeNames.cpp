#include "expr/FreeNames.h"

#include <algorithm>
#include <unordered_set>

namespace zyl {

std::vector<std::string> freeNames(const Tensor& tree) {
    std::vector<const Tensor*> pending{&tree}, symbols;
    std::vector<std::string> bound;
    while (!pending.empty()) {
        const Tensor* node = pending.back();
        pending.pop_back();
        if (node->isSymbolRef())
            symbols.push_back(node);
        const Tensor* binder = nullptr;
        if (node->code == op::Sum || node->code == op::Product)
            binder = node->right && node->right->dimension == 3 ? node->right->elements[0].get()
                                                                : nullptr;
        else if (node->code == op::Derivative)
            binder = node->right.get();
        if (binder && binder->isSymbolRef())
            bound.push_back(binder->text);
        for (const TensorPtr& element : node->elements)
            if (element)
                pending.push_back(element.get());
        if (node->left)
            pending.push_back(node->left.get());
        if (node->right)
            pending.push_back(node->right.get());
    }
    // The right operand is taken first off the stack: reversed, the names come from the left.
    std::vector<std::string> names;
    for (auto it = symbols.rbegin(); it != symbols.rend(); ++it) {
        const std::string& name = (*it)->text;
        if (std::find(bound.begin(), bound.end(), name) == bound.end() &&
            std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    }
    return names;
}

std::vector<ReachedName> reachedNames(const Tensor& tree, const SymbolTable& table) {
    std::vector<ReachedName> reached;
    std::unordered_set<std::string> seen;
    for (std::string& name : freeNames(tree))
        if (seen.insert(name).second)
            reached.push_back({std::move(name), ""});
    // Breadth first, so that a name is reported through the nearest definition.
    for (std::size_t next = 0; next < reached.size(); ++next) {
        const Funkcja* symbol = table.lookup(reached[next].name);
        if (!symbol || !symbol->definition || symbol->definition->isNumber())
            continue;
        const std::string through =
            reached[next].through.empty() ? reached[next].name : reached[next].through;
        for (std::string& name : freeNames(*symbol->definition))
            if (seen.insert(name).second)
                reached.push_back({std::move(name), through});
    }
    return reached;
}

} // namespace zyl
