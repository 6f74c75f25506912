#include "engine/Indiv.h"

#include "common/TextConvert.h"

#include <typeinfo>

namespace zyl {

Indiv::Indiv(int count) : m_genes(count > 0 ? count : 0) {}

Indiv::Indiv(const Indiv& other) { *this = other; }

Indiv& Indiv::operator=(const Indiv& other)
{
    if (this == &other)
        return *this;
    if (count() == other.count() && sameKnownClasses(other)) {
        // What breeding does a thousand times a generation: no virtual call, no allocation.
        for (int j = 0; j < count(); ++j)
            detail::copySameKind(*m_genes[j], *other.m_genes[j]);
        value = other.value;
        evaluated = other.evaluated;
        screened = other.screened;
        violation = other.violation;
        // Both empty without constraints: a size test, no copy.
        if (!constraints.empty() || !other.constraints.empty())
            constraints = other.constraints;
        if (!objectives.empty() || !other.objectives.empty())
            objectives = other.objectives;
        return *this;
    }
    if (count() == other.count()) {
        for (int j = 0; j < count(); ++j) {
            const Variable_* mine = m_genes[j].get();
            const Variable_* theirs = other.m_genes[j].get();
            if (mine && theirs && typeid(*mine) != typeid(*theirs))
                throw std::bad_cast();
        }
    } else {
        m_genes.clear();
        m_genes.resize(other.m_genes.size());
    }
    for (int j = 0; j < count(); ++j) {
        const Variable_* theirs = other.m_genes[j].get();
        if (!theirs)
            m_genes[j].reset();
        else if (m_genes[j])
            m_genes[j]->assign(*theirs);
        else
            m_genes[j] = theirs->clone();
    }
    value = other.value;
    evaluated = other.evaluated;
    screened = other.screened;
    violation = other.violation;
    constraints = other.constraints;
    objectives = other.objectives;
    return *this;
}

bool Indiv::sameKnownClasses(const Indiv& other) const
{
    for (int j = 0; j < count(); ++j) {
        const Variable_* mine = m_genes[j].get();
        const Variable_* theirs = other.m_genes[j].get();
        if (!mine || !theirs || mine->kind() != theirs->kind() ||
            mine->kind() == Variable_::Kind::Other)
            return false;
    }
    return true;
}

bool Indiv::operator==(const Indiv& other) const
{
    if (count() != other.count())
        return false;
    for (int j = 0; j < count(); ++j) {
        const Variable_* a = m_genes[j].get();
        const Variable_* b = other.m_genes[j].get();
        if (!a || !b || !(detail::valueOf(*a) == detail::valueOf(*b)))
            return false;
    }
    return true;
}

std::string Indiv::lineText() const
{
    std::string line;
    for (const auto& gene : m_genes) {
        line += realToExactText(gene ? gene->getValue() : 0.0);
        line += ' ';
    }
    return line;
}

std::string Indiv::text() const
{
    std::string out = "= f(";
    for (int j = 0; j < count(); ++j) {
        if (j > 0)
            out += "; ";
        out += realToText(m_genes[j] ? m_genes[j]->getValue() : 0.0);
    }
    return out + ")";
}

} // namespace zyl
