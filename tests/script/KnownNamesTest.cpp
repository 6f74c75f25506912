#include "script/KnownNames.h"

#include <gtest/gtest.h>

using namespace zyl;

TEST(KnownNames, OnlyWhatWouldBePassedOverIsNamed)
{
    ProjectScript script = ProjectScript::fromText(
        "[function]\nAnalytical=1\nwokers=4\nbroken line\n[EQUATIONS]\nanything=1\n"
        "[VARIABLES]\nwhatever=real[0;1]\n[OPTIONS]\nseed=1\nSEED=2\nexternal_constraints=2\n"
        "[SELECTION]\nprobability=0.5\n[Options]\nclose=1\n"
        "[STOP]\nx=1\n");
    script.StripBlanks();
    EXPECT_EQ(unknownNameNotices(script),
              (std::vector<std::string>{
                  "Unknown key \"wokers\" in [function] is ignored; the nearest known key is "
                  "\"workers\".",
                  "A line without \"=\" in [function] is ignored.",
                  "Key \"SEED\" is written twice in [OPTIONS]: only its first entry is read.",
                  "Key \"external_constraints\" in [OPTIONS] is ignored: it belongs in "
                  "[FUNCTION].",
                  "Key \"probability\" in [SELECTION] is ignored: it belongs in [CROSSOVER] or "
                  "[MUTATION].",
                  "Section [Options] is written twice: only its first occurrence is read.",
                  "Unknown section [STOP] is ignored; the nearest known one is [SHOW]."}));
    EXPECT_TRUE(unknownNameNotices(ProjectScript::fromText("[SHOW]\narrange=1\n")).empty());
}
