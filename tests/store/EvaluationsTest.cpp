#include "store/Objective.h"
#include "store/StoredSession.h"
#include "store/StateCodec.h"

#include "expr/Statement.h"
#include "store/StoreSupport.h"
#include "support/EngineHelpers.h"

#include <sqlite3.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace zyl;
using namespace zyl::test;

namespace {

std::string variablesScript(const std::string& function, const std::string& extra = "")
{
    return "[FUNCTION]\n" + function +
           "\n[VARIABLES]\nx1=real[-1;1]\nn=integer[0;3]\n"
           "[POPULATION]\nsize=8\n[OPTIONS]\nmax_iteration=10\n" +
           extra;
}

struct Opened {
    Opened(const std::string& store, const std::string& script, std::uint64_t seed = 1,
           const std::string& reuse = "")
    {
        table.registerBuiltinSymbols();
        StoreRequest request;
        request.storePath = store;
        request.resume = true;
        request.script = ProjectScript::fromText(script);
        request.script->StripBlanks();
        request.seed = seed;
        request.reusePath = reuse;
        session = StoredSession::open(request, settings, table);
        session->begin();
    }
    EvaluationRecord record(int index, double value, RecordStatus status, const char* kind)
    {
        EvaluationRecord r;
        r.generation = session->zyl().generation + 1;
        r.individual = index;
        r.variables = codec::toData(session->zyl().population[index]).variables;
        r.value = value;
        r.status = status;
        r.kind = kind;
        r.host = "node7";
        r.seconds = 2.5;
        return r;
    }
    SymbolTable table;
    ProjectSettings settings;
    std::unique_ptr<StoredSession> session;
};

/// Runs a stored session's task to its end with the recorder listening; returns the number of
/// values computed.
std::int64_t runToEnd(Opened& opened)
{
    RowCollector rows(opened.session->zyl(), opened.settings);
    RecordingObserver observer(opened.session->recorder(), rows, opened.session->zyl(),
                               opened.settings);
    runGenerations(opened.session->zyl(), opened.settings, opened.session->script, opened.table,
                   opened.session->project.plots, observer, 100, nullptr, &opened.session->stop,
                   &opened.session->clock);
    opened.session->recorder().finish();
    return opened.session->stop.evaluations;
}

} // namespace

TEST(Evaluations, FinishedValuesOfTheGenerationInProgressSurviveAKill)
{
    TempDir dir;
    const std::string script =
        variablesScript("external=1\nexternal_name=objective.sh\ninput_name=in\noutput_name=out",
                        "[SHOW]\nbuffer_individuals=1\n");
    {
        Opened first(dir / "run.zyl", script);
        RunRecorder& recorder = first.session->recorder();
        recorder.evaluationFinished(first.record(0, 1.5, RecordStatus::Ok, "external"));
        recorder.evaluationFinished(first.record(1, 9.0, RecordStatus::Failed, "external"));
        recorder.evaluationFinished(first.record(2, 2.5, RecordStatus::Ok, "external"));
        recorder.evaluationFinished(first.record(2, 3.5, RecordStatus::Ok, "external"));
        EvaluationRecord elsewhere = first.record(3, 4.5, RecordStatus::Ok, "external");
        elsewhere.variables[0] += 0.25; // computed for another individual: not trusted
        recorder.evaluationFinished(elsewhere);
    }
    Opened second(dir / "run.zyl", script);
    const auto& finished = second.session->finishedEvaluations;
    ASSERT_EQ(finished.size(), 2u);
    EXPECT_EQ(finished[0].individual, 0);
    EXPECT_EQ(finished[0].value, 1.5);
    EXPECT_EQ(finished[1].individual, 2);
    EXPECT_EQ(finished[1].value, 3.5);
    EXPECT_EQ(finished[1].host, "node7");
    // They wait for the run's evaluation step, which records them in index order.
    for (const Indiv& ind : second.session->zyl().population)
        EXPECT_FALSE(ind.evaluated);
    EXPECT_EQ(second.session->zyl().buffer.size(), 0u);
    // Every record stays queryable, failures included.
    EXPECT_EQ(second.session->store().evaluations(0, false).size(), 5u);
}

TEST(Evaluations, TypedValuesAreEnteredAgainInTheirOrder)
{
    TempDir dir;
    const std::string script = variablesScript("manual=1", "[SHOW]\nbuffer_individuals=1\n");
    std::vector<codec::IndivData> expected;
    {
        Opened first(dir / "run.zyl", script);
        ZYL& zyl = first.session->zyl();
        RunObserver quiet;
        for (auto [index, value] : {std::pair{5, 4.0}, {0, 2.0}, {5, 7.0}}) {
            enterManualValue(zyl, index, value, quiet);
            first.session->recorder().evaluationFinished(
                first.record(index, value, RecordStatus::Ok, "manual"));
        }
        for (const Indiv& ind : zyl.population)
            expected.push_back(codec::toData(ind));
        EXPECT_EQ(zyl.population[5].value, 4.0); // the buffer kept the first value typed
    }
    Opened second(dir / "run.zyl", script);
    std::vector<codec::IndivData> restored;
    for (const Indiv& ind : second.session->zyl().population)
        restored.push_back(codec::toData(ind));
    EXPECT_EQ(restored, expected);
    EXPECT_EQ(second.session->zyl().buffer.size(), 2u);
}

TEST(Reuse, AnotherRunsValuesFillTheBufferWhenTheObjectiveIsTheSame)
{
    TempDir dir;
    const std::string formula = "analytical=1\n[EQUATIONS]\nf=x1^2+n";
    {
        Opened earlier(dir / "a.zyl", variablesScript(formula, "[SHOW]\nbuffer_individuals=1\n"));
        runToEnd(earlier);
    }
    Opened fresh(dir / "b.zyl", variablesScript(formula), 1);
    const std::int64_t computedFresh = runToEnd(fresh);
    Opened reusing(dir / "c.zyl", variablesScript(formula), 1, dir / "a.zyl");
    EXPECT_GT(reusing.session->reused, 40u);
    EXPECT_TRUE(reusing.session->zyl().bufferIndividuals);
    // The same seed as a.zyl: its whole first generation is known already.
    for (const Indiv& ind : reusing.session->zyl().population)
        EXPECT_TRUE(ind.evaluated);
    EXPECT_LT(runToEnd(reusing), computedFresh);

    // The key in the script works like --reuse; a changed objective is refused by name.
    Opened keyed(dir / "d.zyl", variablesScript("analytical=1\nreuse_store=" + dir / "a.zyl" +
                                                "\n[EQUATIONS]\nf=x1^2+n"));
    EXPECT_EQ(keyed.session->reused, reusing.session->reused);
    auto refusal = [&](const std::string& script) {
        try {
            Opened(dir / "e.zyl", script, 1, dir / "a.zyl");
        } catch (const std::exception& error) {
            return std::string(error.what());
        }
        return std::string();
    };
    const std::string prefix = "Cannot reuse the evaluations of \"" + dir / "a.zyl" + "\": ";
    EXPECT_EQ(refusal(variablesScript("analytical=1\n[EQUATIONS]\nf=x1^2+2*n")),
              prefix + "the formula has changed.");
    std::string renamed = variablesScript(formula);
    renamed.replace(renamed.find("n=integer"), 1, "m");
    renamed.replace(renamed.find("x1^2+n"), 6, "x1^2+m");
    EXPECT_THAT(refusal(renamed), ::testing::StartsWith(prefix + "the formula has changed"));
    std::string retyped = variablesScript(formula);
    retyped.replace(retyped.find("integer[0;3]"), 12, "real[0;3]");
    EXPECT_EQ(refusal(retyped), prefix + "the variables are now x1:Real;n:Real, they were "
                                         "x1:Real;n:Integer.");
    EXPECT_EQ(refusal(variablesScript(formula, "[CONSTRAINTS]\nc=x1-n\n")),
              prefix + "the constraints have changed.");
    EXPECT_FALSE(fs::exists(dir / "e.zyl"));
}

TEST(Reuse, AProgramThatChangedIsAnotherObjective)
{
    TempDir dir;
    const std::string program = dir / "objective.sh";
    writeFile(program, "#!/bin/sh\necho 1 > \"$2\"\n");
    const std::string external = "external=1\nexternal_name=" + program +
                                 "\ninput_name=" + dir / "in" + "\noutput_name=" + dir / "out";
    {
        Opened earlier(dir / "a.zyl", variablesScript(external));
    }
    EXPECT_NO_THROW(Opened(dir / "b.zyl", variablesScript(external), 1, dir / "a.zyl"));
    writeFile(program, "#!/bin/sh\necho 2 > \"$2\"\n");
    try {
        Opened(dir / "c.zyl", variablesScript(external), 1, dir / "a.zyl");
        ADD_FAILURE() << "a changed program was reused";
    } catch (const std::exception& error) {
        EXPECT_THAT(error.what(),
                    ::testing::EndsWith("the program's modification time has changed."));
    }
}

TEST(Codec, DeepTreesRoundTripAndDamagedBytesAreRefused)
{
    SymbolTable table;
    table.registerBuiltinSymbols();
    makeSymbolFromStatement("g=x^2+sin(y)*{1,2,3}", "", false, table);
    // Deeper than any recursion could walk.
    auto deep = std::make_unique<Funkcja>();
    deep->name = "deep";
    deep->definition = makeNumber(1.5);
    for (int i = 0; i < 200000; ++i) {
        TensorPtr node = makeOperator(op::Negate, 5, "-");
        node->left = std::move(deep->definition);
        deep->definition = std::move(node);
    }
    table.pushBack(std::move(deep));

    codec::ByteWriter out;
    codec::encodeSymbols(out, table);
    const std::string bytes = out.bytes();
    SymbolTable copy;
    for (auto& symbol : codec::decodeSymbols(bytes))
        copy.pushBack(std::move(symbol));
    codec::ByteWriter again;
    codec::encodeSymbols(again, copy);
    EXPECT_EQ(again.bytes(), bytes);

    // Small blobs, cut at every length and with bytes changed at random: an error or a
    // result, never a crash (the sanitizer build watches).
    SymbolTable small;
    small.registerBuiltinSymbols();
    codec::ByteWriter smallOut;
    codec::encodeSymbols(smallOut, small);
    const std::string blob = smallOut.bytes();
    for (std::size_t n = 0; n < blob.size(); ++n)
        EXPECT_THROW(codec::decodeSymbols(blob.substr(0, n)), Exception) << n;
    std::mt19937 random(5);
    for (int round = 0; round < 2000; ++round) {
        std::string changed = blob;
        for (int k = 0; k < 4; ++k)
            changed[random() % changed.size()] = static_cast<char>(random());
        try {
            codec::decodeSymbols(changed);
        } catch (const Exception&) {
        }
    }
    // Counts that promise more than the bytes hold are refused before anything is allocated.
    EXPECT_THROW(codec::decodeIndivs(std::string("\xff\xff\xff\xff\xff\xff\xff\x0f", 8), "x"),
                 Exception);
    EXPECT_THROW(codec::decodeParameters(std::string(80, '\xff')), Exception);
    // 1119412321 individuals of 4119738483 variables: the length check in 64 bits wraps to
    // the one byte left, and a vector of 45 GB would follow.
    EXPECT_THROW(codec::decodeIndivs(std::string("\x61\xe0\xb8\x42\x73\x38\x8e\xf5\x00", 9), "x"),
                 Exception);
}

TEST(Codec, AConstrainedTasksStatisticsKeepItsFeasibleCount)
{
    // A run resumed after its last commit reports the statistics the store kept.
    LcgRng rng(4);
    auto zyl = makeZyl(4, "f", rng);
    codec::ByteWriter plain;
    codec::encodeStatistics(plain, *zyl);
    EXPECT_FALSE(codec::decodeStatistics(plain.bytes()).feasibility);
    zyl->setConstraints({"c"}, 0);
    zyl->feasible = 3;
    zyl->minViolation = 0.25;
    codec::ByteWriter constrained;
    codec::encodeStatistics(constrained, *zyl);
    zyl->feasible = 0;
    zyl->minViolation = 9;
    codec::applyStatistics(codec::decodeStatistics(constrained.bytes()), *zyl);
    EXPECT_EQ(zyl->feasible, 3);
    EXPECT_EQ(zyl->minViolation, 0.25);
    // A task that prescreens keeps its count of screened designs after them.
    zyl->prescreen = true;
    zyl->screened = 2;
    codec::ByteWriter screening;
    codec::encodeStatistics(screening, *zyl);
    EXPECT_EQ(screening.bytes().size(), constrained.bytes().size() + 4);
    zyl->screened = 0;
    codec::applyStatistics(codec::decodeStatistics(screening.bytes()), *zyl);
    EXPECT_EQ(zyl->screened, 2);
}

TEST(Codec, ConstraintValuesRideInTheListsOfIndividuals)
{
    LcgRng rng(2);
    Indiv a(1), b(1);
    a.setGene(0, std::make_unique<Floating_>(0.25));
    b.setGene(0, std::make_unique<Floating_>(-3.0));
    // Ruled out before evaluation: no value, and a flag of its own.
    a.value = std::numeric_limits<double>::quiet_NaN();
    a.evaluated = a.screened = true;
    a.violation = 0.5;
    a.constraints = {0.5, -1};
    b.evaluated = true; // no constraint values yet: written as NaN
    const Indiv* list[] = {&a, &b};
    codec::ByteWriter plain, constrained;
    codec::encodeIndivs(plain, list, 2, 1);
    codec::encodeIndivs(constrained, list, 2, 1, 2);
    // Without constraints the bytes are those every earlier store holds.
    EXPECT_EQ(plain.bytes().size(), 8u + 2 * 17);
    const auto decoded = codec::decodeIndivs(constrained.bytes(), "the population");
    ASSERT_EQ(decoded.size(), 2u);
    EXPECT_TRUE(decoded[0].screened && decoded[0].evaluated && std::isnan(decoded[0].value));
    EXPECT_EQ(decoded[0].constraints, a.constraints);
    EXPECT_FALSE(decoded[1].screened);
    EXPECT_EQ(decoded[1].violation, 0);
    ASSERT_EQ(decoded[1].constraints.size(), 2u);
    EXPECT_TRUE(std::isnan(decoded[1].constraints[1]));
    EXPECT_TRUE(codec::decodeIndivs(plain.bytes(), "the population")[0].constraints.empty());
    // A negative violation, or a list cut inside the constraint values, is damage.
    std::string negative = constrained.bytes();
    negative[12 + 17 + 7] = static_cast<char>(0xBF);
    EXPECT_THROW(codec::decodeIndivs(negative, "the population"), Exception);
    EXPECT_THROW(codec::decodeIndivs(constrained.bytes().substr(0, constrained.bytes().size() - 8),
                                     "the population"),
                 Exception);

    // A task with several objectives: its objective values after the constraints, marked in
    // the header as the constraints are; an individual without them yet holds NaN.
    a.objectives = {-0.0, 2.5};
    codec::ByteWriter both, objectives;
    codec::encodeIndivs(both, list, 2, 1, 2, 2);
    codec::encodeIndivs(objectives, list, 2, 1, 0, 2);
    const auto withBoth = codec::decodeIndivs(both.bytes(), "the population");
    // a is screened: its value is NaN, which no comparison of the whole record passes.
    EXPECT_TRUE(withBoth[0].screened && std::isnan(withBoth[0].value));
    EXPECT_EQ(withBoth[0].constraints, a.constraints);
    EXPECT_EQ(withBoth[0].objectives, a.objectives);
    EXPECT_TRUE(std::signbit(withBoth[0].objectives[0]));
    EXPECT_TRUE(std::isnan(withBoth[1].objectives[1]));
    const auto withObjectives = codec::decodeIndivs(objectives.bytes(), "the population");
    EXPECT_TRUE(withObjectives[0].constraints.empty());
    EXPECT_EQ(withObjectives[0].objectives, a.objectives);
    EXPECT_THROW(codec::decodeIndivs(objectives.bytes().substr(0, objectives.bytes().size() - 1),
                                     "the population"),
                 Exception);
}
