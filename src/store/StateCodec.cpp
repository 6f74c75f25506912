#include "store/StateCodec.h"

#include "common/Exception.h"
#include "engine/Objectives.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <utility>

namespace zyl::codec {

namespace {

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

template <class T> void putLittle(char* out, T x)
{
    if constexpr (kLittleEndian) {
        std::memcpy(out, &x, sizeof x);
    } else {
        for (std::size_t i = 0; i < sizeof x; ++i)
            out[i] = static_cast<char>((x >> (8 * i)) & 0xFF);
    }
}

} // namespace

void ByteWriter::u32(std::uint32_t x)
{
    char raw[4];
    putLittle(raw, x);
    m_bytes.append(raw, 4);
}

void ByteWriter::u64(std::uint64_t x)
{
    char raw[8];
    putLittle(raw, x);
    m_bytes.append(raw, 8);
}

void ByteWriter::f64(double x)
{
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    u64(bits);
}

void ByteWriter::text(std::string_view s)
{
    u32(static_cast<std::uint32_t>(s.size()));
    m_bytes.append(s);
}

void ByteReader::damaged(const std::string& detail) const
{
    throw Exception(m_what + " " + detail);
}

void ByteReader::need(std::size_t n)
{
    if (left() < n)
        damaged("is cut short");
}

std::uint8_t ByteReader::u8()
{
    need(1);
    return static_cast<std::uint8_t>(m_bytes[m_pos++]);
}

std::uint32_t ByteReader::u32()
{
    need(4);
    std::uint32_t x = 0;
    for (int i = 0; i < 4; ++i)
        x |= static_cast<std::uint32_t>(static_cast<unsigned char>(m_bytes[m_pos + i])) << (8 * i);
    m_pos += 4;
    return x;
}

std::uint64_t ByteReader::u64()
{
    need(8);
    std::uint64_t x = 0;
    for (int i = 0; i < 8; ++i)
        x |= static_cast<std::uint64_t>(static_cast<unsigned char>(m_bytes[m_pos + i])) << (8 * i);
    m_pos += 8;
    return x;
}

double ByteReader::f64()
{
    const std::uint64_t bits = u64();
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

std::string ByteReader::text()
{
    const std::uint32_t size = u32();
    need(size);
    std::string s(m_bytes.substr(m_pos, size));
    m_pos += size;
    return s;
}

std::uint32_t ByteReader::count(std::size_t itemBytes)
{
    const std::uint32_t n = u32();
    if (itemBytes > 0 && n > left() / itemBytes)
        damaged("is cut short");
    return n;
}

void ByteReader::expectEnd() const
{
    if (!atEnd())
        damaged("has bytes left over");
}

int objectiveCount(const ZYL& zyl)
{
    return zyl.objectives ? static_cast<int>(zyl.objectives->count()) : 0;
}

IndivData toData(const Indiv& ind)
{
    IndivData data{ind.value,       ind.evaluated, {},          ind.violation,
                   ind.constraints, ind.objectives, ind.screened};
    for (int j = 0; j < ind.count(); ++j)
        data.variables.push_back(ind.gene(j) ? ind.gene(j)->getValue() : 0.0);
    return data;
}

void applyData(const IndivData& data, Indiv& ind)
{
    if (static_cast<int>(data.variables.size()) != ind.count())
        throw Exception("an individual has " + std::to_string(data.variables.size()) +
                        " variables where the task has " + std::to_string(ind.count()));
    for (int j = 0; j < ind.count(); ++j)
        if (ind.gene(j))
            ind.gene(j)->setValue(data.variables[j]);
    ind.value = data.value;
    ind.evaluated = data.evaluated;
    ind.screened = data.screened;
    ind.violation = data.violation;
    ind.constraints = data.constraints;
    ind.objectives = data.objectives;
}

namespace {

// Written in one pass into space reserved beforehand: a commit encodes a thousand
// individuals, and byte-by-byte appends would cost more than the database does.
// The mark in a list's count of variables that constraint values follow each individual's
// variables; a list without it is one of a task without constraints, as every list was before.
constexpr std::uint32_t kConstrainedList = 0x80000000u;
// The mark that objective values end each individual: a list of a task with several.
constexpr std::uint32_t kObjectivesList = 0x40000000u;
// The evaluated flag of a design ruled out before evaluation (evaluated, without a value).
constexpr char kScreenedFlag = 2;

template <class Each>
void encodeList(ByteWriter& out, std::size_t count, int variables, int constraints,
                int objectives, Each&& each)
{
    std::string& bytes = out.bytes();
    const std::size_t start = bytes.size();
    const std::size_t extra =
        (constraints > 0 ? 8 + 8 * static_cast<std::size_t>(constraints) : 0) +
        8 * static_cast<std::size_t>(std::max(objectives, 0));
    const std::size_t per = 9 + 8 * static_cast<std::size_t>(variables) + extra;
    const std::size_t header = 8 + (constraints > 0 ? 4 : 0) + (objectives > 0 ? 4 : 0);
    bytes.resize(start + header + per * count);
    char* at = bytes.data() + start;
    putLittle(at, static_cast<std::uint32_t>(count));
    putLittle(at + 4, static_cast<std::uint32_t>(variables) |
                          (constraints > 0 ? kConstrainedList : 0u) |
                          (objectives > 0 ? kObjectivesList : 0u));
    if (constraints > 0)
        putLittle(at + 8, static_cast<std::uint32_t>(constraints));
    if (objectives > 0)
        putLittle(at + header - 4, static_cast<std::uint32_t>(objectives));
    at += header;
    auto putReal = [&at](double x) {
        std::uint64_t bits;
        std::memcpy(&bits, &x, 8);
        putLittle(at, bits);
        at += 8;
    };
    for (std::size_t i = 0; i < count; ++i) {
        const Indiv& ind = each(i);
        putReal(ind.value);
        *at++ = ind.screened ? kScreenedFlag : ind.evaluated ? 1 : 0;
        for (int j = 0; j < variables; ++j)
            putReal(j < ind.count() && ind.gene(j) ? ind.gene(j)->getValue() : 0.0);
        if (constraints > 0) {
            putReal(ind.violation);
            // An individual not evaluated yet may hold none.
            for (std::size_t c = 0; c < static_cast<std::size_t>(constraints); ++c)
                putReal(c < ind.constraints.size() ? ind.constraints[c]
                                                   : std::numeric_limits<double>::quiet_NaN());
        }
        for (std::size_t k = 0; k < static_cast<std::size_t>(std::max(objectives, 0)); ++k)
            putReal(k < ind.objectives.size() ? ind.objectives[k]
                                              : std::numeric_limits<double>::quiet_NaN());
    }
}

} // namespace

void encodeIndivs(ByteWriter& out, const Indiv* const* inds, std::size_t count, int variables,
                  int constraints, int objectives)
{
    encodeList(out, count, variables, constraints, objectives,
               [&](std::size_t i) -> const Indiv& { return *inds[i]; });
}

void encodePopulation(ByteWriter& out, const ZYL& zyl)
{
    encodeList(out, zyl.population.size(), zyl.count(), constraintCount(zyl), objectiveCount(zyl),
               [&](std::size_t i) -> const Indiv& { return zyl.population[i]; });
}

void encodeExtremes(ByteWriter& out, const ZYL& zyl)
{
    const Indiv* extremes[] = {&zyl.globalMin, &zyl.globalMax, &zyl.currentMin, &zyl.currentMax};
    encodeIndivs(out, extremes, 4, zyl.count(), constraintCount(zyl), objectiveCount(zyl));
}

std::vector<IndivData> decodeIndivs(std::string_view bytes, const std::string& what)
{
    ByteReader in(bytes, what);
    const std::uint32_t count = in.u32();
    std::uint32_t variables = in.u32();
    std::uint32_t constraints = 0, objectives = 0;
    const bool hasObjectives = (variables & kObjectivesList) != 0;
    if (variables & kConstrainedList) {
        constraints = in.u32();
        if (constraints == 0)
            in.damaged("is marked constrained without a constraint");
    }
    if (hasObjectives) {
        objectives = in.u32();
        if (objectives == 0)
            in.damaged("is marked with objectives without an objective");
    }
    variables &= ~(kConstrainedList | kObjectivesList);
    // Each individual takes 9 bytes and 8 per variable (and 8 more per constraint and for its
    // violation, and 8 per objective); checked before anything is allocated, by division: the
    // product of two stored counts can pass 64 bits and wrap.
    const std::uint64_t each = 9 + 8 * static_cast<std::uint64_t>(variables) +
                               (constraints > 0 ? 8 + 8 * static_cast<std::uint64_t>(constraints)
                                                : 0) +
                               8 * static_cast<std::uint64_t>(objectives);
    if (count > 0 && (count > in.left() / each || each * count != in.left()))
        in.damaged(count > in.left() / each ? "is cut short" : "has bytes left over");
    std::vector<IndivData> inds(count);
    for (IndivData& ind : inds) {
        ind.value = in.f64();
        const std::uint8_t flag = in.u8();
        if (flag > kScreenedFlag)
            in.damaged("holds an evaluated flag that is neither 0, 1 nor 2");
        ind.evaluated = flag != 0;
        ind.screened = flag == kScreenedFlag;
        ind.variables.resize(variables);
        for (double& x : ind.variables)
            x = in.f64();
        if (constraints > 0) {
            ind.violation = in.f64();
            if (!(ind.violation >= 0))
                in.damaged("holds a violation that is not a number from [0; inf]");
            ind.constraints.resize(constraints);
            for (double& x : ind.constraints)
                x = in.f64();
        }
        ind.objectives.resize(objectives);
        for (double& x : ind.objectives)
            x = in.f64();
    }
    in.expectEnd();
    return inds;
}

void encodeParameters(ByteWriter& out, const ZYL& zyl, int loopCounter)
{
    out.f64(zyl.crossProb);
    out.f64(zyl.mutProb);
    out.f64(zyl.crossUnifProb);
    out.i32(zyl.maxIteration);
    out.u8(zyl.maximise);
    out.u8(zyl.variablePopSize);
    out.u8(zyl.bufferIndividuals);
    out.u8(zyl.elite);
    for (std::int32_t x :
         {zyl.selection, zyl.mutationType, zyl.crossoverType, zyl.tourSize, zyl.crossPoints})
        out.i32(x);
    out.u32(static_cast<std::uint32_t>(zyl.ranges.size()));
    for (const VariableRange& range : zyl.ranges) {
        out.i32(range.intLo);
        out.i32(range.intHi);
        out.f64(range.realLo);
        out.f64(range.realHi);
        out.f64(range.uniformityCoeff);
    }
    out.i32(loopCounter);
}

Parameters decodeParameters(std::string_view bytes)
{
    ByteReader in(bytes, "the parameters");
    Parameters p;
    p.crossProb = in.f64();
    p.mutProb = in.f64();
    p.crossUnifProb = in.f64();
    p.maxIteration = in.i32();
    p.maximise = in.u8() != 0;
    p.variablePopSize = in.u8() != 0;
    p.bufferIndividuals = in.u8() != 0;
    p.elite = in.u8() != 0;
    p.selection = in.i32();
    p.mutationType = in.i32();
    p.crossoverType = in.i32();
    p.tourSize = in.i32();
    p.crossPoints = in.i32();
    p.ranges.resize(in.count(32));
    for (VariableRange& range : p.ranges) {
        range.intLo = in.i32();
        range.intHi = in.i32();
        range.realLo = in.f64();
        range.realHi = in.f64();
        range.uniformityCoeff = in.f64();
    }
    p.loopCounter = in.i32();
    in.expectEnd();
    return p;
}

void applyParameters(const Parameters& p, ZYL& zyl)
{
    if (p.ranges.size() != zyl.ranges.size())
        throw Exception("the parameters hold " + std::to_string(p.ranges.size()) +
                        " variable ranges where the task has " + std::to_string(zyl.ranges.size()));
    // The same bounds the loader and the Options dialog keep, so that a hostile store cannot
    // hand the engine values it never sees otherwise.
    if (p.maxIteration < 1 || p.maxIteration > 30000 || p.loopCounter < 1 || p.loopCounter > 1000 ||
        p.variablePopSize)
        throw Exception("the parameters are out of their ranges");
    zyl.crossProb = p.crossProb;
    zyl.mutProb = p.mutProb;
    zyl.crossUnifProb = p.crossUnifProb;
    zyl.maxIteration = p.maxIteration;
    zyl.maximise = p.maximise;
    zyl.variablePopSize = p.variablePopSize;
    zyl.bufferIndividuals = p.bufferIndividuals;
    zyl.elite = p.elite;
    zyl.selection = p.selection;
    zyl.mutationType = p.mutationType;
    zyl.crossoverType = p.crossoverType;
    zyl.tourSize = p.tourSize;
    zyl.crossPoints = p.crossPoints;
    zyl.ranges = p.ranges;
}

namespace {
// The first byte of the method's record: its layout. Layout 1 had no mean rate: its runs
// moved the CMA-ES mean by whole steps, and resume doing so. Layout 3 adds the trust
// region's settings, written only by a run that uses them, so that a store of any other run
// stays readable by a ZYL that knows layout 2. Layout 4, a task with several objectives, is
// layout 3 followed by the front (FrontData).
constexpr std::uint8_t kMethodFormatWithFront = 4;
constexpr std::uint8_t kMethodFormatWithTrust = 3;
constexpr std::uint8_t kMethodFormat = 2;
constexpr std::uint8_t kMethodFormatWithoutMeanRate = 1;

bool knownMethodFormat(std::uint8_t format)
{
    return format == kMethodFormatWithFront || format == kMethodFormatWithTrust ||
           format == kMethodFormat || format == kMethodFormatWithoutMeanRate;
}

constexpr auto kLastMethod = static_cast<std::uint8_t>(Method::SmsEmoa);

/// Individuals of the task as a list inside a record: its length, then the list.
void encodeListText(ByteWriter& out, const std::vector<Indiv>& individuals, const ZYL& zyl)
{
    ByteWriter list;
    std::vector<const Indiv*> pointers;
    for (const Indiv& ind : individuals)
        pointers.push_back(&ind);
    encodeIndivs(list, pointers.data(), pointers.size(), zyl.count(), constraintCount(zyl),
                 objectiveCount(zyl));
    out.text(list.bytes());
}

void encodeFront(ByteWriter& out, const ZYL& zyl)
{
    const Objectives& o = *zyl.objectives;
    const std::size_t m = o.count();
    out.u32(static_cast<std::uint32_t>(m));
    out.u32(static_cast<std::uint32_t>(zyl.count()));
    out.u8(o.reference.size() == m ? 1 : 0);
    if (o.reference.size() == m)
        for (double x : o.reference)
            out.f64(x);
    encodeListText(out, o.kept, zyl);
    out.u32(static_cast<std::uint32_t>(o.onFront.size()));
    for (char on : o.onFront)
        out.u8(on ? 1 : 0);
    const ParetoArchive& archive = o.archive;
    out.u32(static_cast<std::uint32_t>(archive.size()));
    out.f64(archive.violation());
    for (std::size_t i = 0; i < archive.size(); ++i) {
        for (std::size_t k = 0; k < m; ++k)
            out.f64(archive.values(i)[k]);
        for (int j = 0; j < archive.payloadSize(); ++j)
            out.f64(archive.payload(i)[j]);
    }
}

FrontData decodeFront(ByteReader& in)
{
    FrontData f;
    f.objectives = in.u32();
    f.variables = in.u32();
    if (f.objectives < 2)
        in.damaged("holds a front of fewer than two objectives");
    // Every count is checked against the bytes left before anything is allocated.
    auto reals = [&in](std::uint64_t count, std::vector<double>& out) {
        if (count > in.left() / 8)
            in.damaged("is cut short");
        out.resize(static_cast<std::size_t>(count));
        for (double& x : out)
            x = in.f64();
    };
    const std::uint8_t hasReference = in.u8();
    if (hasReference > 1)
        in.damaged("holds a reference point flag that is neither 0 nor 1");
    if (hasReference)
        reals(f.objectives, f.reference);
    f.kept = decodeIndivs(in.text(), "the population the multi-objective search kept");
    f.onFront.resize(in.count(1));
    for (char& on : f.onFront) {
        const std::uint8_t flag = in.u8();
        if (flag > 1)
            in.damaged("holds a front flag that is neither 0 nor 1");
        on = static_cast<char>(flag);
    }
    const std::uint32_t rows = in.u32();
    f.archiveViolation = in.f64();
    const std::uint64_t width = std::uint64_t(f.objectives) + f.variables;
    if (width > 0 && rows > in.left() / 8 / width)
        in.damaged("is cut short");
    reals(rows * width, f.archive);
    return f;
}

} // namespace

void encodeMethod(ByteWriter& out, const ZYL& zyl)
{
    const MethodSettings& m = zyl.methodSettings;
    const bool front = zyl.multiObjective();
    const bool trust = front || m.method == Method::Trust || m.trust != TrustSettings{};
    out.u8(front ? kMethodFormatWithFront : trust ? kMethodFormatWithTrust : kMethodFormat);
    out.u8(static_cast<std::uint8_t>(m.method));
    out.f64(m.cmaes.step);
    out.i32(m.cmaes.restarts);
    out.i32(m.cmaes.growth);
    out.f64(m.cmaes.meanRate);
    out.f64(m.de.f);
    out.f64(m.de.cr);
    out.f64(m.de.adaptation);
    if (trust) {
        out.f64(m.trust.radius);
        out.f64(m.trust.after);
    }
    const MethodState state = zyl.methodState();
    out.u32(static_cast<std::uint32_t>(state.counts.size()));
    for (std::int64_t x : state.counts)
        out.i64(x);
    out.u32(static_cast<std::uint32_t>(state.reals.size()));
    for (double x : state.reals)
        out.f64(x);
    encodeListText(out, state.individuals, zyl);
    if (front)
        encodeFront(out, zyl);
}

MethodData decodeMethod(std::string_view bytes)
{
    ByteReader in(bytes, "the search method");
    const std::uint8_t format = in.u8();
    if (!knownMethodFormat(format))
        in.damaged("is of an unknown layout");
    MethodData d;
    const std::uint8_t method = in.u8();
    if (method > kLastMethod)
        in.damaged("names an unknown method");
    d.settings.method = static_cast<Method>(method);
    d.settings.cmaes.step = in.f64();
    d.settings.cmaes.restarts = in.i32();
    d.settings.cmaes.growth = in.i32();
    d.settings.cmaes.meanRate = format != kMethodFormatWithoutMeanRate ? in.f64() : 1.0;
    d.settings.de.f = in.f64();
    d.settings.de.cr = in.f64();
    d.settings.de.adaptation = in.f64();
    if (format == kMethodFormatWithTrust || format == kMethodFormatWithFront) {
        d.settings.trust.radius = in.f64();
        d.settings.trust.after = in.f64();
    }
    // A method never runs with settings a script could not give it.
    if (!withinRanges(d.settings))
        in.damaged("holds settings out of their ranges");
    d.counts.resize(in.count(8));
    for (std::int64_t& x : d.counts)
        x = in.i64();
    d.reals.resize(in.count(8));
    for (double& x : d.reals)
        x = in.f64();
    d.individuals = decodeIndivs(in.text(), "the search method's individuals");
    if (format == kMethodFormatWithFront)
        d.front = decodeFront(in);
    in.expectEnd();
    return d;
}

std::string_view methodNameOfRecord(std::string_view bytes)
{
    if (bytes.size() < 2 || !knownMethodFormat(static_cast<std::uint8_t>(bytes[0])) ||
        static_cast<std::uint8_t>(bytes[1]) > kLastMethod)
        return methodName(Method::Ga);
    return methodName(static_cast<Method>(bytes[1]));
}

namespace {

void applyFront(const FrontData& f, ZYL& zyl)
{
    if (!zyl.objectives)
        throw Exception("the search method holds a front, but the task has one objective");
    Objectives& o = *zyl.objectives;
    const std::size_t m = o.count();
    if (f.objectives != m || f.variables != static_cast<std::uint32_t>(zyl.count()))
        throw Exception("the front has " + std::to_string(f.objectives) + " objectives and " +
                        std::to_string(f.variables) + " variables where the task has " +
                        std::to_string(m) + " and " + std::to_string(zyl.count()));
    if ((!f.kept.empty() && f.kept.size() != zyl.population.size()) ||
        f.onFront.size() != f.kept.size())
        throw Exception("the population the multi-objective search kept is not of this task");
    o.reference = f.reference;
    o.kept.assign(f.kept.size(), zyl.templateIndiv);
    for (std::size_t i = 0; i < f.kept.size(); ++i)
        applyData(f.kept[i], o.kept[i]);
    o.onFront = f.onFront;
    // The archive is rebuilt by offering its members in order, which gives it back as it was.
    o.archive.clear();
    const std::size_t width = m + f.variables;
    for (std::size_t at = 0; at + width <= f.archive.size(); at += width)
        if (!o.archive.offer(&f.archive[at], f.archiveViolation, &f.archive[at + m]))
            throw Exception("the archive holds a member that another dominates");
}

} // namespace

void applyMethod(const MethodData& data, ZYL& zyl)
{
    if (data.front)
        applyFront(*data.front, zyl);
    else if (zyl.objectives)
        throw Exception("the front of the multi-objective search is missing");
    zyl.methodSettings = data.settings;
    MethodState state;
    state.counts = data.counts;
    state.reals = data.reals;
    state.individuals.reserve(data.individuals.size());
    for (const IndivData& ind : data.individuals) {
        state.individuals.push_back(zyl.templateIndiv);
        applyData(ind, state.individuals.back());
    }
    zyl.restoreMethod(state);
}

void encodeStatistics(ByteWriter& out, const ZYL& zyl)
{
    out.i32(zyl.different);
    for (double x : {zyl.average, zyl.stdDev, zyl.meanDev, zyl.medianDev, zyl.range, zyl.q1, zyl.q2,
                     zyl.q3, zyl.iqr, zyl.entropy, zyl.discrepancy})
        out.f64(x);
    // Only a constrained task has them to keep: other stores keep the bytes they always had.
    // A task with several objectives writes them too, so that its front's follow in one place.
    if (zyl.constrained() || zyl.objectives) {
        out.i32(zyl.feasible);
        out.f64(zyl.minViolation);
        if (zyl.prescreen)
            out.i32(zyl.screened);
    }
    if (const Objectives* o = zyl.objectives.get()) {
        out.u32(static_cast<std::uint32_t>(o->count()));
        out.i32(o->frontSize);
        out.f64(o->hypervolume);
        constexpr double none = std::numeric_limits<double>::quiet_NaN();
        for (std::size_t k = 0; k < o->count(); ++k) {
            out.f64(k < o->frontMin.size() ? o->frontMin[k] : none);
            out.f64(k < o->frontMax.size() ? o->frontMax[k] : none);
        }
    }
}

StatisticsFields decodeStatistics(std::string_view bytes)
{
    ByteReader in(bytes, "the statistics");
    StatisticsFields s;
    s.different = in.i32();
    for (double* x : {&s.average, &s.stdDev, &s.meanDev, &s.medianDev, &s.range, &s.q1, &s.q2,
                      &s.q3, &s.iqr, &s.entropy, &s.discrepancy})
        *x = in.f64();
    if (!in.atEnd()) {
        const std::int32_t feasible = in.i32();
        s.feasibility = std::make_pair(feasible, in.f64());
        // The front that may follow takes 16 bytes and 16 an objective, so the count of
        // screened designs is there exactly when 4 bytes are left over.
        if (in.left() % 16 == 4)
            s.screened = in.i32();
    }
    if (!in.atEnd()) {
        StatisticsFields::Front& front = s.front.emplace();
        const std::uint32_t m = in.count(16);
        front.size = in.i32();
        front.hypervolume = in.f64();
        front.min.resize(m);
        front.max.resize(m);
        for (std::uint32_t k = 0; k < m; ++k) {
            front.min[k] = in.f64();
            front.max[k] = in.f64();
        }
    }
    in.expectEnd();
    return s;
}

void applyStatistics(const StatisticsFields& s, ZYL& zyl)
{
    zyl.different = s.different;
    zyl.average = s.average;
    zyl.stdDev = s.stdDev;
    zyl.meanDev = s.meanDev;
    zyl.medianDev = s.medianDev;
    zyl.range = s.range;
    zyl.q1 = s.q1;
    zyl.q2 = s.q2;
    zyl.q3 = s.q3;
    zyl.iqr = s.iqr;
    zyl.entropy = s.entropy;
    zyl.discrepancy = s.discrepancy;
    if (s.feasibility) {
        zyl.feasible = s.feasibility->first;
        zyl.minViolation = s.feasibility->second;
    }
    if (s.front) {
        Objectives* o = zyl.objectives.get();
        if (!o || s.front->min.size() != o->count())
            throw Exception("the statistics hold a front that is not of this task");
        o->frontSize = s.front->size;
        o->hypervolume = s.front->hypervolume;
        o->frontMin = s.front->min;
        o->frontMax = s.front->max;
    }
    if (s.screened)
        zyl.screened = *s.screened;
}

namespace {

constexpr std::uint8_t kHasLeft = 1, kHasRight = 2;
// dimension is not written: it always equals the number of elements.
constexpr std::size_t kNodeBytes =
    4 + 4 + 4 + 8 + 8 + 4 + 1; // level, code, text size, re, im, elements, flags

void encodeTree(ByteWriter& out, const Tensor& root)
{
    std::vector<const Tensor*> stack{&root};
    while (!stack.empty()) {
        const Tensor* node = stack.back();
        stack.pop_back();
        out.i32(node->level);
        out.i32(node->code);
        out.text(node->text);
        out.f64(node->re);
        out.f64(node->im);
        out.u32(static_cast<std::uint32_t>(node->elements.size()));
        out.u8((node->left ? kHasLeft : 0) | (node->right ? kHasRight : 0));
        // Pushed in reverse, so that they come out as elements, left, right.
        if (node->right)
            stack.push_back(node->right.get());
        if (node->left)
            stack.push_back(node->left.get());
        for (auto it = node->elements.rbegin(); it != node->elements.rend(); ++it)
            stack.push_back(it->get());
    }
}

TensorPtr decodeTree(ByteReader& in)
{
    TensorPtr root;
    std::vector<TensorPtr*> slots{&root};
    while (!slots.empty()) {
        TensorPtr* slot = slots.back();
        slots.pop_back();
        auto node = std::make_unique<Tensor>();
        node->level = in.i32();
        node->code = in.i32();
        node->text = in.text();
        node->re = in.f64();
        node->im = in.f64();
        const std::uint32_t elements = in.count(kNodeBytes);
        const std::uint8_t flags = in.u8();
        if (flags > (kHasLeft | kHasRight))
            in.damaged("holds a node with unknown flags");
        node->elements.resize(elements);
        node->dimension = static_cast<int>(elements);
        // The slots point into the node object, which stays where it is when the pointer to
        // it is moved into its own slot below.
        if (flags & kHasRight)
            slots.push_back(&node->right);
        if (flags & kHasLeft)
            slots.push_back(&node->left);
        for (auto it = node->elements.rbegin(); it != node->elements.rend(); ++it)
            slots.push_back(&*it);
        *slot = std::move(node);
        // Every open slot still needs a node of its own: a blob that claims more nodes than
        // its bytes can hold is refused before the slots pile up.
        if (slots.size() > in.left() / kNodeBytes)
            in.damaged("is cut short");
    }
    return root;
}

} // namespace

void encodeSymbols(ByteWriter& out, const SymbolTable& table)
{
    out.u32(static_cast<std::uint32_t>(table.size()));
    for (const Funkcja& symbol : table.symbols()) {
        out.text(symbol.name);
        out.u8(symbol.isProtected ? 1 : 0);
        // The evaluator relies on every symbol having a definition; one without is written as
        // such and refused when read, rather than handed on.
        out.u8(symbol.definition ? 1 : 0);
        if (symbol.definition)
            encodeTree(out, *symbol.definition);
    }
}

std::vector<std::unique_ptr<Funkcja>> decodeSymbols(std::string_view bytes)
{
    ByteReader in(bytes, "the symbol table");
    const std::uint32_t count = in.count(4 + 1 + 1);
    std::vector<std::unique_ptr<Funkcja>> symbols;
    symbols.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        auto symbol = std::make_unique<Funkcja>();
        symbol->name = in.text();
        symbol->isProtected = in.u8() != 0;
        if (in.u8() != 1)
            in.damaged("holds a symbol without a definition");
        symbol->definition = decodeTree(in);
        symbols.push_back(std::move(symbol));
    }
    in.expectEnd();
    return symbols;
}

} // namespace zyl::codec
