#pragma once

// The binary forms in which a run store keeps the engine's state: individuals, the
// population, the parameters, the statistics and the symbol table. Little-endian, doubles by
// their exact bits, so that a restored run continues bit for bit (SQLite's REAL columns would
// lose the sign of a zero and every NaN). Decoding checks every length against the bytes at
// hand: a damaged or hostile blob gives an Exception, never a crash or a huge allocation.

#include "engine/Zyl.h"
#include "expr/Tensor.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zyl::codec {

class ByteWriter {
public:
    void u8(std::uint8_t x) { m_bytes.push_back(static_cast<char>(x)); }
    void u32(std::uint32_t x);
    void i32(std::int32_t x) { u32(static_cast<std::uint32_t>(x)); }
    void u64(std::uint64_t x);
    void i64(std::int64_t x) { u64(static_cast<std::uint64_t>(x)); }
    void f64(double x);
    /// A length (u32) and the bytes.
    void text(std::string_view s);

    std::string& bytes() { return m_bytes; }
    void clear() { m_bytes.clear(); }

private:
    std::string m_bytes;
};

/// Reads what a ByteWriter wrote. \throws Exception "<what> is cut short" when the bytes end
/// early.
class ByteReader {
public:
    ByteReader(std::string_view bytes, std::string what) : m_bytes(bytes), m_what(std::move(what))
    {
    }

    std::uint8_t u8();
    std::uint32_t u32();
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    std::uint64_t u64();
    std::int64_t i64() { return static_cast<std::int64_t>(u64()); }
    double f64();
    std::string text();
    /// A count of items of at least `itemBytes` bytes each, checked against the bytes left.
    std::uint32_t count(std::size_t itemBytes);

    std::size_t left() const { return m_bytes.size() - m_pos; }
    bool atEnd() const { return m_pos == m_bytes.size(); }
    /// \throws Exception "<what> has bytes left over" unless every byte was read.
    void expectEnd() const;
    [[noreturn]] void damaged(const std::string& detail) const;

private:
    void need(std::size_t n);

    std::string_view m_bytes;
    std::string m_what;
    std::size_t m_pos = 0;
};

/// An individual as plain data.
struct IndivData {
    double value = 0;
    bool evaluated = false;
    std::vector<double> variables;
    /// In a constrained task; otherwise 0 and empty.
    double violation = 0;
    std::vector<double> constraints;
    /// In a task with several objectives; otherwise empty.
    std::vector<double> objectives{};
    /// Ruled out before evaluation (Indiv::screened); kept as the evaluated flag 2.
    bool screened = false;

    bool operator==(const IndivData&) const = default;
};

/// How many constraint values each individual of `zyl` carries in the lists.
inline int constraintCount(const ZYL& zyl)
{
    return static_cast<int>(zyl.constraintNames.size());
}
/// How many objective values each individual of `zyl` carries in the lists: 0 with one.
int objectiveCount(const ZYL& zyl);

IndivData toData(const Indiv& ind);
/// Gives `ind` the data's value, flag, constraint values, violation, objective values and
/// variable values (setValue of getValue is exact for every kind of variable).
/// \throws Exception when the numbers of variables differ.
void applyData(const IndivData& data, Indiv& ind);

/// A list of individuals: u32 count, u32 variables, then per individual the value, the
/// evaluated flag and the variables. Written straight from the engine, with no copies. With
/// constraints, the count of variables has its top bit set and is followed by u32
/// constraints, and each individual's variables by its violation and constraint values. With
/// several objectives, the next bit is set, u32 objectives follows (after the constraints'
/// count), and each individual ends with its objective values.
void encodeIndivs(ByteWriter& out, const Indiv* const* inds, std::size_t count, int variables,
                  int constraints = 0, int objectives = 0);
void encodePopulation(ByteWriter& out, const ZYL& zyl);
/// globalMin, globalMax, currentMin, currentMax.
void encodeExtremes(ByteWriter& out, const ZYL& zyl);
std::vector<IndivData> decodeIndivs(std::string_view bytes, const std::string& what);

/// The genetic-algorithm parameters of the engine (which the Options dialog may have changed
/// since the script was written), with the ranges and the loop counter.
struct Parameters {
    double crossProb = 0, mutProb = 0, crossUnifProb = 0;
    std::int32_t maxIteration = 0;
    bool maximise = false, variablePopSize = false, bufferIndividuals = false, elite = false;
    std::int32_t selection = 0, mutationType = 0, crossoverType = 0, tourSize = 0, crossPoints = 0;
    std::vector<VariableRange> ranges;
    std::int32_t loopCounter = 1;
};
void encodeParameters(ByteWriter& out, const ZYL& zyl, int loopCounter);
Parameters decodeParameters(std::string_view bytes);
void applyParameters(const Parameters& parameters, ZYL& zyl);

/// The search method: its settings (which the Options dialog may have changed) and the
/// method's own state at the boundary, kept apart from the genetic algorithm's parameters so
/// that the run store needs no knowledge of any method.
/// What a task with several objectives carries besides its method's state: the reference
/// point once chosen, the population the method kept with its front, and the archive (each
/// member's values as the archive orders them, then its variables).
struct FrontData {
    std::vector<double> reference;
    std::vector<IndivData> kept;
    std::vector<char> onFront;
    std::uint32_t objectives = 0, variables = 0;
    double archiveViolation = 0;
    std::vector<double> archive;
};
struct MethodData {
    MethodSettings settings;
    std::vector<std::int64_t> counts;
    std::vector<double> reals;
    std::vector<IndivData> individuals;
    /// In a task with several objectives only.
    std::optional<FrontData> front;
};
void encodeMethod(ByteWriter& out, const ZYL& zyl);
/// \throws Exception when the bytes do not form the method's record (an unknown method
/// included).
MethodData decodeMethod(std::string_view bytes);
/// The name of the method a record holds ("ga" for an empty or damaged one), for the
/// readable column of the store's table.
std::string_view methodNameOfRecord(std::string_view bytes);
/// Gives the engine the settings and its method the state, and in a task with several
/// objectives their front. \throws Exception when the state does not fit the task.
void applyMethod(const MethodData& data, ZYL& zyl);

/// The statistics fields of the latest generation (different and the eleven reals).
struct StatisticsFields {
    std::int32_t different = 0;
    double average = 0, stdDev = 0, meanDev = 0, medianDev = 0, range = 0;
    double q1 = 0, q2 = 0, q3 = 0, iqr = 0, entropy = 0, discrepancy = 0;
    /// A constrained task's feasible designs and least violation; absent from the records of
    /// unconstrained tasks (and of older stores), unless they have several objectives.
    std::optional<std::pair<std::int32_t, double>> feasibility;
    /// The front's statistics of a task with several objectives.
    struct Front {
        std::int32_t size = 0;
        double hypervolume = 0;
        std::vector<double> min, max;
    };
    std::optional<Front> front;
    /// With prescreen, after the feasibility: the designs ruled out before evaluation.
    std::optional<std::int32_t> screened;
};
void encodeStatistics(ByteWriter& out, const ZYL& zyl);
StatisticsFields decodeStatistics(std::string_view bytes);
void applyStatistics(const StatisticsFields& fields, ZYL& zyl);

/// Every symbol of the table, front to back: name, protection and the definition tree, node
/// by node without recursion, so trees of any depth are safe.
void encodeSymbols(ByteWriter& out, const SymbolTable& table);
/// \throws Exception when the bytes do not form a table (a vector node whose dimension is not
/// its number of elements included).
std::vector<std::unique_ptr<Funkcja>> decodeSymbols(std::string_view bytes);

} // namespace zyl::codec
