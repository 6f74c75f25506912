#pragma once

#include "common/Rng.h"
#include "engine/Zyl.h"

#include <memory>
#include <string_view>
#include <vector>

namespace zyl::test {

/// An engine whose variables are given by letters: 'i' integer on [0; 9], 'f' real on [0; 10],
/// 'b' Boolean. The population is drawn from `initRng`; tests then set the values they need and
/// hand the engine a scripted generator.
inline std::unique_ptr<ZYL> makeZyl(int popSize, std::string_view kinds, Rng& initRng)
{
    Indiv templateIndiv(static_cast<int>(kinds.size()));
    std::vector<std::string> names;
    std::vector<VariableRange> ranges;
    for (std::size_t j = 0; j < kinds.size(); ++j) {
        VariableRange range;
        std::unique_ptr<Variable_> gene;
        switch (kinds[j]) {
        case 'i':
            range.intLo = 0;
            range.intHi = 9;
            gene = std::make_unique<Integer_>();
            break;
        case 'f':
            range.realLo = 0;
            range.realHi = 10;
            gene = std::make_unique<Floating_>();
            break;
        default:
            gene = std::make_unique<Boolean_>();
        }
        templateIndiv.setGene(static_cast<int>(j), std::move(gene));
        ranges.push_back(range);
        names.push_back("x" + std::to_string(j + 1));
    }
    return std::make_unique<ZYL>(popSize, std::move(templateIndiv), std::move(names),
                                 std::move(ranges), initRng);
}

inline void setValues(Indiv& ind, std::vector<double> values)
{
    for (int j = 0; j < ind.count(); ++j)
        ind.gene(j)->setValue(values.at(j));
}

inline std::vector<double> values(const Indiv& ind)
{
    std::vector<double> out;
    for (int j = 0; j < ind.count(); ++j)
        out.push_back(ind.gene(j)->getValue());
    return out;
}

} // namespace zyl::test
