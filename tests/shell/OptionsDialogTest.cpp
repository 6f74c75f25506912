#include "shell/OptionsDialog.h"

#include "ShellSupport.h"
#include "project/Loader.h"
#include "script/ProjectScript.h"
#include "support/EngineHelpers.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <gtest/gtest.h>

using namespace zyl;
using zyl::test::MessageBoxAnswerer;

namespace {

using Keys = std::vector<std::string>;

const char* const defaultTask = "[PLOTS]\n"
                                "Convergence=Average;CurrentMin\n"
                                "[SHOW]\n"
                                "statistic_history=0\n"
                                "buffered=0\n"
                                "population=0\n"
                                "population_history=0\n"
                                "variables=0\n"
                                "buffer_individuals=0\n"
                                "[POPULATION]\n"
                                "size=20\n"
                                "[FUNCTION]\n"
                                "analytical=1\n"
                                "[EQUATIONS]\n"
                                "f=-5.*sin(x1)*sin(x2) - sin(5*x1)*sin(5*x2)\n"
                                "[VARIABLES]\n"
                                "x1=real[0;3.1415]\n"
                                "x2=real[0;3.1415]\n";

class OptionsDialog : public ::testing::Test {
protected:
    void load(std::string_view kinds, const std::string& text = defaultTask)
    {
        zyl = test::makeZyl(20, kinds, rng);
        script = ProjectScript::fromText(text);
        dialog.setProject(zyl.get(), &loopCounter, &script);
        dialog.show();
    }
    std::string value(const char* section, const char* key)
    {
        return script.ReadString(section, key, "<absent>");
    }

    LcgRng rng{7};
    std::unique_ptr<ZYL> zyl;
    int loopCounter = 1;
    ProjectScript script;
    TOKBottomDlg1 dialog;
};

TEST_F(OptionsDialog, AcceptingTheInitialSettingsWritesEveryOption)
{
    load("ff");
    dialog.OKBtn->click();
    EXPECT_FALSE(dialog.isVisible());
    // The options come behind the task's own sections; only POPULATION grows in place.
    std::string expected = ProjectScript::fromText(defaultTask).text();
    const std::string pop = "[POPULATION]\r\nsize=20\r\n";
    expected.replace(expected.find(pop), pop.size(), pop + "constatnt=1\r\n");
    expected += "[OPTIONS]\r\nmaximisation=0\r\nclose=0\r\nloop_counter=1\r\n"
                "max_iteration=100\r\n\r\n"
                "[SELECTION]\r\ntournament=1\r\ntournament_size=3\r\nelite=0\r\n\r\n"
                "[CROSSOVER]\r\nprobability=0.7\r\narithmetical=1\r\n\r\n"
                "[MUTATION]\r\nprobability=0.15\r\nnonuniform=1\r\nuniformity_coeff=2\r\n\r\n";
    EXPECT_EQ(script.text(), expected);
}

TEST_F(OptionsDialog, ShowsTheLiveSettingsAndAppliesChanges)
{
    zyl = test::makeZyl(10, "fif", rng);
    zyl->maxIteration = 500;
    zyl->tourSize = 4;
    zyl->crossoverType = 2;
    zyl->crossUnifProb = 0.25;
    zyl->mutationType = 0;
    loopCounter = 7;
    script = ProjectScript::fromText("[OPTIONS]\nclose=1\n[CROSSOVER]\nmultipoint=1\n");
    dialog.setProject(zyl.get(), &loopCounter, &script);
    dialog.show();
    EXPECT_EQ(dialog.UpDownLoopCounter->value(), 7);
    EXPECT_EQ(dialog.UpDownMaxIterations->value(), 500);
    EXPECT_EQ(dialog.UpDownTournamentSize->maximum(), 10);
    EXPECT_EQ(dialog.UpDownTournamentSize->value(), 4);
    EXPECT_EQ(dialog.UpDownPoints->maximum(), 2);
    EXPECT_TRUE(dialog.RadioButtonCrossUniform->isChecked());
    EXPECT_EQ(dialog.EditCrossUnifProb->text(), "0.25");
    EXPECT_TRUE(dialog.RadioButtonMutUniform->isChecked());
    EXPECT_TRUE(dialog.CheckBoxClose->isChecked());

    dialog.UpDownLoopCounter->setValue(3);
    dialog.CheckBoxMaximisation->setChecked(true);
    dialog.EditCrossProb->setText("2");
    dialog.RadioButtonArithmetical->setChecked(true);
    dialog.EditMutProb->setText("0.05");
    dialog.RadioButtonNonuniform->setChecked(true);
    dialog.EditUniformityCoeff->setText("0.5");
    dialog.OKBtn->click();

    EXPECT_EQ(loopCounter, 3);
    EXPECT_TRUE(zyl->maximise);
    EXPECT_EQ(zyl->crossProb, 0.7);
    EXPECT_EQ(zyl->crossoverType, 1);
    EXPECT_EQ(zyl->mutProb, 0.05);
    EXPECT_EQ(zyl->mutationType, 1);
    for (const VariableRange& range : zyl->ranges)
        EXPECT_EQ(range.uniformityCoeff, 2.0);
    EXPECT_EQ(value("OPTIONS", "close"), "1");
    EXPECT_EQ(value("OPTIONS", "loop_counter"), "3");
    EXPECT_EQ(value("CROSSOVER", "probability"), "0.7");
    EXPECT_EQ(value("MUTATION", "uniformity_coeff"), "2");
    // The alternative the script named before is cleared, so a reload picks the same one.
    EXPECT_EQ(script.ReadSection("CROSSOVER"), (Keys{"multipoint", "probability", "arithmetical"}));
    EXPECT_EQ(value("CROSSOVER", "multipoint"), "0");
}

TEST_F(OptionsDialog, MultipointAndUniformCrossover)
{
    load("f");
    EXPECT_EQ(dialog.UpDownPoints->minimum(), 1);
    EXPECT_EQ(dialog.UpDownPoints->maximum(), 1);
    dialog.RadioButtonMultipoint->setChecked(true);
    dialog.OKBtn->click();
    EXPECT_EQ(zyl->crossoverType, 0);
    EXPECT_EQ(zyl->crossPoints, 1);
    EXPECT_EQ(script.ReadSection("CROSSOVER"), (Keys{"probability", "multipoint", "points"}));

    dialog.show();
    dialog.RadioButtonCrossUniform->setChecked(true);
    dialog.EditCrossUnifProb->setText("1.5");
    dialog.OKBtn->click();
    EXPECT_EQ(zyl->crossoverType, 2);
    EXPECT_EQ(zyl->crossUnifProb, 0.5);
    EXPECT_EQ(value("CROSSOVER", "multipoint"), "0");
    EXPECT_EQ(value("CROSSOVER", "uniform"), "1");
    EXPECT_EQ(value("CROSSOVER", "uniform_prob"), "0.5");
}

TEST_F(OptionsDialog, PointsStayWithinWhatTheLoaderAccepts)
{
    load(std::string(maxCrossoverPoints + 2, 'b'));
    EXPECT_EQ(dialog.UpDownPoints->maximum(), maxCrossoverPoints);
}

TEST_F(OptionsDialog, ABadValueKeepsTheDialogOpenOnItsFieldAndAppliesNothing)
{
    MessageBoxAnswerer boxes;
    load("ff");
    const std::string before = script.text();
    dialog.CheckBoxMaximisation->setChecked(true);
    dialog.CheckBoxElite->setChecked(true);
    dialog.RadioButtonMultipoint->setChecked(true);
    dialog.EditCrossProb->setText("abc");
    dialog.OKBtn->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, "ZYL");
    EXPECT_EQ(boxes.shown[0].text, "'abc' is not a valid floating point value");
    EXPECT_EQ(boxes.shown[0].icon, QMessageBox::Warning);

    // Each field in turn, on its own page, with its own message.
    dialog.EditCrossProb->setText("0.9");
    dialog.RadioButtonCrossUniform->setChecked(true);
    dialog.EditCrossUnifProb->setText("x");
    dialog.OKBtn->click();
    dialog.EditCrossUnifProb->setText("0.4");
    dialog.RadioButtonNonuniform->setChecked(true);
    dialog.EditUniformityCoeff->setText("");
    dialog.OKBtn->click();
    ASSERT_EQ(boxes.shown.size(), 3u);
    EXPECT_EQ(boxes.shown[1].text, "'x' is not a valid floating point value");
    EXPECT_EQ(boxes.shown[2].text, "'' is not a valid floating point value");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.focusWidget(), dialog.EditUniformityCoeff);
    EXPECT_TRUE(dialog.PageControl1->currentWidget()->isAncestorOf(dialog.EditUniformityCoeff));
    EXPECT_FALSE(zyl->maximise);
    EXPECT_FALSE(zyl->elite);
    EXPECT_EQ(zyl->crossProb, 0.7);
    EXPECT_EQ(zyl->crossoverType, 1);
    EXPECT_EQ(script.text(), before);

    // Mended, everything is applied at once.
    dialog.EditUniformityCoeff->setText("3");
    dialog.OKBtn->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(zyl->maximise);
    EXPECT_EQ(zyl->crossProb, 0.9);
    EXPECT_EQ(zyl->crossUnifProb, 0.4);
    EXPECT_EQ(zyl->ranges.front().uniformityCoeff, 3);
    EXPECT_EQ(value("MUTATION", "uniformity_coeff"), "3");
    EXPECT_EQ(boxes.shown.size(), 3u);
}

TEST_F(OptionsDialog, CancelAndUnboundChangeNothing)
{
    load("ff");
    dialog.CheckBoxMaximisation->setChecked(true);
    dialog.CancelBtn->click();
    EXPECT_FALSE(zyl->maximise);
    EXPECT_TRUE(script.ReadSection("OPTIONS").empty());

    dialog.setProject(nullptr, nullptr, nullptr);
    dialog.show();
    dialog.OKBtn->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(script.ReadSection("OPTIONS").empty());
}

} // namespace

TEST_F(OptionsDialog, WorkersOnlyForAnExternalTaskAndWrittenOnlyWhenChosen)
{
    load("rr");
    EXPECT_FALSE(dialog.UpDownWorkers->isEnabled());
    dialog.OKBtn->click();
    EXPECT_EQ(value("FUNCTION", "workers"), "<absent>");

    int workers = 1;
    dialog.setProject(zyl.get(), &loopCounter, &script);
    dialog.setWorkers(&workers);
    dialog.show();
    EXPECT_TRUE(dialog.UpDownWorkers->isEnabled());
    dialog.OKBtn->click();
    EXPECT_EQ(value("FUNCTION", "workers"), "<absent>"); // one, as the script had it
    dialog.setProject(zyl.get(), &loopCounter, &script);
    dialog.setWorkers(&workers);
    dialog.show();
    dialog.UpDownWorkers->setValue(6);
    dialog.OKBtn->click();
    EXPECT_EQ(workers, 6);
    EXPECT_EQ(value("FUNCTION", "workers"), "6");
}

TEST_F(OptionsDialog, TheMethodPageTakesAllOrNothingAndWritesOnlyWhatLeavesTheDefault)
{
    MessageBoxAnswerer boxes;
    load("ff");
    EXPECT_TRUE(dialog.RadioButtonGa->isChecked());
    EXPECT_EQ(dialog.EditCmaesStep->text(), "0.3");
    dialog.RadioButtonCmaes->setChecked(true);
    dialog.EditCmaesStep->setText("0.45");
    dialog.UpDownCmaesRestarts->setValue(4);
    dialog.OKBtn->click();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(zyl->methodSettings.method, Method::Cmaes);
    EXPECT_EQ(zyl->methodSettings.cmaes, (CmaesSettings{0.45, 4, 2}));
    EXPECT_EQ(value("OPTIONS", "method"), "cmaes");
    EXPECT_EQ(script.ReadSection("METHOD"), (Keys{"cmaes_step", "cmaes_restarts", "cmaes_growth"}));
    EXPECT_EQ(value("METHOD", "cmaes_step"), "0.45");
    // The automatic mean rate is an empty field and no key; a chosen one is written.
    dialog.show();
    EXPECT_EQ(dialog.EditCmaesMeanRate->text(), "");
    dialog.EditCmaesMeanRate->setText("0.6");
    dialog.OKBtn->click();
    EXPECT_EQ(zyl->methodSettings.cmaes.meanRate, 0.6);
    EXPECT_EQ(value("METHOD", "cmaes_mean_rate"), "0.6");

    // A value the loader would refuse: its message, and nothing of the page is taken.
    dialog.show();
    EXPECT_TRUE(dialog.RadioButtonCmaes->isChecked());
    dialog.RadioButtonDe->setChecked(true);
    dialog.EditDeCrossover->setText("1.5");
    dialog.OKBtn->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "DE crossover rate cr ought to be a number from [0; 1]");
    EXPECT_EQ(dialog.focusWidget(), dialog.EditDeCrossover);
    EXPECT_EQ(zyl->methodSettings.method, Method::Cmaes);
    EXPECT_EQ(value("OPTIONS", "method"), "cmaes");
    dialog.CancelBtn->click();

    // A manual task keeps the genetic algorithm.
    dialog.setManual(true);
    dialog.show();
    EXPECT_FALSE(dialog.RadioButtonDe->isEnabled());
    dialog.RadioButtonGa->setChecked(true);
    dialog.EditDeCrossover->setText("0.9");
    dialog.OKBtn->click();
    EXPECT_EQ(zyl->methodSettings.method, Method::Ga);
    EXPECT_EQ(value("OPTIONS", "method"), "ga");
}

TEST_F(OptionsDialog, TheMethodPageChoosesTheTrustRegionAndTheShareItRefinesAnotherMethodIn)
{
    MessageBoxAnswerer boxes;
    load("ff");
    EXPECT_EQ(dialog.EditTrustRadius->text(), "0.2");
    EXPECT_EQ(dialog.EditTrustAfter->text(), ""); // never
    dialog.RadioButtonTrust->setChecked(true);
    dialog.EditTrustRadius->setText("0.05");
    dialog.OKBtn->click();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(zyl->methodSettings.method, Method::Trust);
    EXPECT_EQ(zyl->methodSettings.trust, (TrustSettings{0.05, 0}));
    EXPECT_EQ(value("OPTIONS", "method"), "trust");
    EXPECT_EQ(script.ReadSection("METHOD"), (Keys{"trust_radius"}));

    // Differential evolution, refined over the last quarter of the run.
    dialog.show();
    EXPECT_TRUE(dialog.RadioButtonTrust->isChecked());
    dialog.RadioButtonDe->setChecked(true);
    dialog.EditTrustAfter->setText("0.75");
    dialog.OKBtn->click();
    EXPECT_EQ(zyl->methodSettings.method, Method::De);
    EXPECT_EQ(zyl->methodSettings.trust, (TrustSettings{0.05, 0.75}));
    EXPECT_EQ(value("METHOD", "trust_after"), "0.75");

    dialog.show();
    EXPECT_EQ(dialog.EditTrustAfter->text(), "0.75");
    dialog.EditTrustAfter->setText("1");
    dialog.OKBtn->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Trust after ought to be a number from [0; 1)");
    EXPECT_EQ(zyl->methodSettings.trust.after, 0.75);
    EXPECT_TRUE(dialog.isVisible()); // a bad value keeps the dialog open
    dialog.reject();

    // A manual task can be refined by nothing.
    dialog.setManual(true);
    dialog.show();
    EXPECT_FALSE(dialog.RadioButtonTrust->isEnabled());
    EXPECT_FALSE(dialog.EditTrustAfter->isEnabled());
    dialog.RadioButtonGa->setChecked(true);
    dialog.OKBtn->click();
    EXPECT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(zyl->methodSettings.method, Method::Ga);
    EXPECT_FALSE(zyl->methodSettings.refined());
}

TEST_F(OptionsDialog, TheToleranceAppliesToEveryRememberedDesign)
{
    load("ff");
    EXPECT_FALSE(dialog.EditConstraintTolerance->isEnabled());
    dialog.hide();
    zyl->setConstraints({"g"}, 0);
    const double g = 0.25;
    zyl->setConstraintValues(zyl->population[3], &g);
    zyl->buffer.append(zyl->population[3]);
    dialog.show();
    ASSERT_TRUE(dialog.EditConstraintTolerance->isEnabled());
    dialog.CheckBoxMaximisation->setChecked(true);
    MessageBoxAnswerer refusal;
    for (const char* bad : {"-1", "abc"}) {
        dialog.EditConstraintTolerance->setText(bad);
        dialog.OKBtn->click();
        EXPECT_TRUE(dialog.isVisible()) << bad;
        EXPECT_EQ(dialog.focusWidget(), dialog.EditConstraintTolerance);
    }
    ASSERT_EQ(refusal.shown.size(), 2u);
    EXPECT_EQ(refusal.shown[1].text, "Constraint tolerance ought to be a number not below 0");
    EXPECT_EQ(zyl->constraintTolerance, 0);
    EXPECT_FALSE(zyl->maximise) << "nothing is applied";
    dialog.EditConstraintTolerance->setText("0.5");
    dialog.OKBtn->click();
    EXPECT_EQ(value("OPTIONS", "constraint_tolerance"), "0.5");
    EXPECT_EQ(zyl->population[3].violation, 0);
    EXPECT_EQ(zyl->buffer.entries().first()->item->violation, 0);
}

TEST_F(OptionsDialog, SeveralObjectivesHaveTheirOwnMethodsAndABadReferencePointKeepsTheDialogOpen)
{
    MessageBoxAnswerer boxes;
    load("ff");
    EXPECT_FALSE(dialog.RadioButtonNsga2->isEnabled());
    EXPECT_FALSE(dialog.RadioButtonSmsEmoa->isEnabled());
    EXPECT_FALSE(dialog.EditHvReference->isEnabled());
    EXPECT_TRUE(dialog.RadioButtonDe->isEnabled());
    dialog.CancelBtn->click();

    std::vector<double> reference;
    dialog.setProject(zyl.get(), &loopCounter, &script);
    dialog.setObjectives({"mass", "deflection"}, &reference);
    dialog.show();
    EXPECT_TRUE(dialog.RadioButtonSmsEmoa->isChecked()) << "the default of several objectives";
    EXPECT_TRUE(dialog.RadioButtonNsga2->isEnabled());
    for (QRadioButton* single : {dialog.RadioButtonGa, dialog.RadioButtonCmaes,
                                 dialog.RadioButtonDe, dialog.RadioButtonTrust})
        EXPECT_FALSE(single->isEnabled()) << single->text().toStdString();
    EXPECT_FALSE(dialog.EditTrustAfter->isEnabled());
    EXPECT_TRUE(dialog.EditHvReference->isEnabled());
    EXPECT_EQ(dialog.EditHvReference->text(), "");

    const std::string before = script.text();
    dialog.CheckBoxElite->setChecked(true);
    dialog.PageControl1->setCurrentIndex(0);
    for (const char* bad : {"1", "1;2;3", "1;x", "1;;2", "1;1e999"}) {
        dialog.EditHvReference->setText(bad);
        dialog.OKBtn->click();
        EXPECT_TRUE(dialog.isVisible()) << bad;
    }
    ASSERT_EQ(boxes.shown.size(), 5u);
    EXPECT_EQ(boxes.shown[0].text,
              "Hypervolume reference ought to hold one finite number per objective (2), "
              "separated by \";\"");
    EXPECT_EQ(dialog.focusWidget(), dialog.EditHvReference);
    EXPECT_TRUE(dialog.PageControl1->currentWidget()->isAncestorOf(dialog.EditHvReference));
    EXPECT_FALSE(zyl->elite) << "nothing is applied";
    EXPECT_EQ(script.text(), before);
    dialog.reject();
}

TEST_F(OptionsDialog, TheMultiObjectiveMethodAndTheReferencePointAreApplied)
{
    MessageBoxAnswerer boxes;
    std::vector<double> reference;
    auto show = [&] {
        dialog.setProject(zyl.get(), &loopCounter, &script);
        dialog.setObjectives({"mass", "deflection"}, &reference);
        dialog.show();
    };
    load("ff");
    dialog.hide();
    show();
    dialog.OKBtn->click();
    EXPECT_EQ(methodName(zyl->methodSettings.method), "smsemoa");
    EXPECT_EQ(value("OPTIONS", "method"), "<absent>") << "the default needs no key";
    EXPECT_EQ(value("OPTIONS", "hv_reference"), "<absent>");

    show();
    dialog.RadioButtonNsga2->setChecked(true);
    dialog.EditHvReference->setText(" 1.5; 2 ");
    dialog.OKBtn->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(methodName(zyl->methodSettings.method), "nsga2");
    EXPECT_EQ(reference, (std::vector<double>{1.5, 2}));
    EXPECT_EQ(value("OPTIONS", "method"), "nsga2");
    EXPECT_EQ(value("OPTIONS", "hv_reference"), "1.5;2");

    show();
    EXPECT_TRUE(dialog.RadioButtonNsga2->isChecked());
    EXPECT_EQ(dialog.EditHvReference->text(), "1.5;2");
    dialog.RadioButtonSmsEmoa->setChecked(true);
    dialog.EditHvReference->clear();
    dialog.OKBtn->click();
    EXPECT_TRUE(reference.empty());
    EXPECT_EQ(value("OPTIONS", "method"), "smsemoa");
    EXPECT_EQ(value("OPTIONS", "hv_reference"), "") << "back to the automatic point";
    EXPECT_TRUE(boxes.shown.empty());
}
