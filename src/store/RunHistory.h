#pragma once

#include "engine/Statistics.h"
#include "engine/StopRules.h"
#include "engine/Zyl.h"
#include "store/RunStore.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zyl {

/// The generations of a project that runs without a store, kept so that a store made from it
/// later (the desktop program's Save as) holds every generation it ran, as a store recorded
/// from the start would: each generation's statistics (their numbers; the rows' texts are
/// made when asked for) and figures, and where its export bytes lie in the export file.
///
/// Create it when the project is loaded, before its first generation.
class RunHistory {
public:
    /// `exportName` and `everyIteration` as the script has them; the file's size now is what
    /// it held before the run.
    RunHistory(std::string exportName, bool everyIteration);

    /// The statistics of the generation in hand were just computed.
    void statisticsComputed(const ZYL& zyl, const StopRuleState& stop, const RunClock& clock);
    /// The generation step ended and the counter moved on.
    void generationDone(const ZYL& zyl);

    /// The bytes the export file held before the run.
    std::int64_t exportBase() const { return m_exportBase; }
    /// Every generation, oldest first, for initialSnapshot. The export bytes are read from the
    /// file as it is now: in append mode each generation's own bytes, as far as the file
    /// still holds them; in overwrite mode the file itself for the last generation (the
    /// earlier files are gone).
    std::vector<GenerationRecord> records(bool showBuffered) const;

private:
    struct Generation {
        std::int32_t generation = 0;
        bool hasStatistics = false;
        GenerationFigures figures;
        StatisticsSnapshot statistics;
        /// The export file's size after the generation (append mode).
        std::int64_t exportEnd = 0;
    };

    std::string m_exportName;
    bool m_everyIteration;
    std::int64_t m_exportBase;
    bool m_pending = false;
    Generation m_current;
    std::vector<Generation> m_generations;
};

} // namespace zyl
