#include "store/RunHistory.h"

#include "store/RunRecorder.h"

#include <sys/stat.h>

#include <fstream>
#include <iterator>

namespace zyl {

namespace {

std::int64_t sizeOf(const std::string& name)
{
    struct stat info {};
    return !name.empty() && ::stat(name.c_str(), &info) == 0 ? info.st_size : 0;
}

} // namespace

RunHistory::RunHistory(std::string exportName, bool everyIteration)
    : m_exportName(std::move(exportName)), m_everyIteration(everyIteration),
      m_exportBase(everyIteration ? sizeOf(m_exportName) : 0)
{
}

void RunHistory::statisticsComputed(const ZYL& zyl, const StopRuleState& stop,
                                    const RunClock& clock)
{
    m_current.hasStatistics = true;
    m_current.figures = generationFigures(zyl, stop, clock);
    takeStatisticsSnapshot(zyl, m_current.statistics);
    m_pending = true;
}

void RunHistory::generationDone(const ZYL& zyl)
{
    Generation done = m_pending ? std::move(m_current) : Generation{};
    m_current = Generation{};
    m_pending = false;
    done.generation = zyl.generation;
    // A size costs far less than the bytes: they are read once, when a store is made.
    if (m_everyIteration)
        done.exportEnd = sizeOf(m_exportName);
    m_generations.push_back(std::move(done));
}

std::vector<GenerationRecord> RunHistory::records(bool showBuffered) const
{
    std::string file;
    bool haveFile = false;
    if (!m_exportName.empty() && !m_generations.empty()) {
        std::ifstream in(m_exportName, std::ios::binary);
        haveFile = static_cast<bool>(in);
        if (haveFile)
            file.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<GenerationRecord> records;
    records.reserve(m_generations.size());
    std::int64_t from = m_exportBase;
    for (const Generation& g : m_generations) {
        GenerationRecord record;
        record.generation = g.generation;
        record.figures = g.figures;
        if (g.hasStatistics)
            forEachStatisticsRow(g.statistics, showBuffered,
                                 [&record](std::string_view what, std::string_view value,
                                           std::string_view info) {
                                     appendStatisticsLine(record.rowsText, what, value, info);
                                 });
        if (m_everyIteration && from <= g.exportEnd &&
            g.exportEnd <= static_cast<std::int64_t>(file.size()))
            record.exportText = file.substr(static_cast<std::size_t>(from),
                                            static_cast<std::size_t>(g.exportEnd - from));
        from = g.exportEnd;
        records.push_back(std::move(record));
    }
    if (!m_everyIteration && haveFile)
        records.back().exportText = file;
    return records;
}

void appendStatisticsLine(std::string& text, std::string_view what, std::string_view value,
                          std::string_view info)
{
    auto cell = [&text](std::string_view cell) {
        std::size_t plain = 0;
        for (std::size_t i = 0; i < cell.size(); ++i) {
            const char c = cell[i];
            if (c != '\\' && c != '\t' && c != '\n')
                continue;
            text.append(cell.substr(plain, i - plain));
            text += '\\';
            text += c == '\t' ? 't' : c == '\n' ? 'n' : '\\';
            plain = i + 1;
        }
        text.append(cell.substr(plain));
    };
    cell(what);
    text += '\t';
    cell(value);
    text += '\t';
    cell(info);
    text += '\n';
}

} // namespace zyl
