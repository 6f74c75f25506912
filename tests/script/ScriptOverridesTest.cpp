#include "script/ScriptOverrides.h"

#include "common/Exception.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace zyl;
using ::testing::ThrowsMessage;
using ::testing::StrEq;

TEST(ScriptOverrides, AnArgumentReadsAsALineOfItsSectionWould)
{
    const ScriptOverride o = parseOverride(" EQUATIONS . f = x.1 ^ 2 == 3 ");
    EXPECT_EQ(o.section, "EQUATIONS");
    EXPECT_EQ(o.key, "f");
    // The first "." and the first "=" split it; the rest is the value, blanks stripped.
    EXPECT_EQ(o.value, "x.1^2==3");
    EXPECT_EQ(o.text(), "EQUATIONS.f=x.1^2==3");
    EXPECT_EQ(parseOverride("OPTIONS.stop_when=").value, "");
    EXPECT_EQ(parseOverride("options.METHOD=de"), parseOverride("OPTIONS.method=de"));

    struct Case {
        const char* argument;
        const char* reason;
    };
    for (const Case& c : {Case{"OPTIONS.method", "no \"=\" after the key"},
                          Case{"method=de", "no \".\" between the section and the key"},
                          Case{"OPTIONS=x.y", "no \".\" between the section and the key"},
                          Case{" .method=de", "no section"},
                          Case{"OPTIONS. =de", "no key"},
                          Case{"OPTIONS.;method=de",
                               "it would not read back as one entry of [OPTIONS]"},
                          Case{"OPTIONS.method=de\nsize=4", "it holds a line break"}}) {
        std::string shown = c.argument;
        if (const auto at = shown.find('\n'); at != std::string::npos)
            shown.replace(at, 1, "\\n");
        EXPECT_THAT([&] { parseOverride(c.argument); },
                    ThrowsMessage<Exception>(StrEq("--set \"" + shown +
                                                   "\" is not SECTION.key=value: " + c.reason)))
            << c.argument;
    }
    EXPECT_THAT(
        [] { parseOverrides({"OPTIONS.method=de", "POPULATION.size=4", "options.Method=ga"}); },
        ThrowsMessage<Exception>(StrEq("--set options.Method is given twice")));
}

TEST(ScriptOverrides, OverridesReplaceEntriesInPlaceAndAddTheRest)
{
    ProjectScript script = ProjectScript::fromText(
        "[POPULATION]\nsize=20\n[OPTIONS]\nmax_iteration=5\nMETHOD=ga\n");
    const std::vector<ScriptOverride> overrides =
        parseOverrides({"OPTIONS.method=cmaes", "POPULATION.size=10", "METHOD.cmaes_step=0.1",
                        "OPTIONS.seed=7"});
    applyOverrides(script, overrides);
    EXPECT_EQ(script.text(), "[POPULATION]\r\nsize=10\r\n\r\n[OPTIONS]\r\nmax_iteration=5\r\n"
                             "method=cmaes\r\nseed=7\r\n\r\n[METHOD]\r\ncmaes_step=0.1\r\n\r\n");

    // What a store keeps reads back as the same set, whatever the order.
    const std::vector<ScriptOverride> back = overridesFromText(overridesText(overrides));
    EXPECT_EQ(back, overrides);
    std::vector<ScriptOverride> shuffled(overrides.rbegin(), overrides.rend());
    EXPECT_TRUE(sameOverrides(shuffled, overrides));
    shuffled[0].value = "8";
    EXPECT_FALSE(sameOverrides(shuffled, overrides));
    EXPECT_FALSE(sameOverrides({}, overrides));
    EXPECT_TRUE(overridesFromText("").empty());
    EXPECT_EQ(overridesCommand({}), "no --set");
    EXPECT_EQ(overridesCommand(parseOverrides({"A.b=1", "C.d=2"})), "--set A.b=1 --set C.d=2");
}

TEST(ScriptOverrides, AnUnknownKeyIsNamedAsInAScript)
{
    EXPECT_EQ(overrideNotices(parseOverrides({"POPULATION.sise=4", "VARIABLES.x=real[0;1]",
                                              "OPTION.method=de", "SELECTION.probability=1"})),
              (std::vector<std::string>{
                  "--set POPULATION.sise=4: Unknown key \"sise\" in [POPULATION] is ignored; the "
                  "nearest known key is \"size\".",
                  "--set OPTION.method=de: Unknown section [OPTION] is ignored; the nearest known "
                  "one is [OPTIONS].",
                  "--set SELECTION.probability=1: Key \"probability\" in [SELECTION] is ignored: "
                  "it belongs in [CROSSOVER] or [MUTATION]."}));
}
