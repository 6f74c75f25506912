#include "windows/RecordTables.h"

#include "support/EngineHelpers.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace zyl;

TEST(TextTable, CellsKeepTheirTextsAndBoundaries)
{
    TextTableModel model({"What?", "Value", "Info"});
    model.appendRow({"Generation", "1", "20 individuals"});
    model.appendRow({"", "", ""});
    model.appendRow({"Q2", "0.5"});
    model.appendRow({"a", "b", "c", "dropped"});
    model.appendRow({"\xc3\xa9t\xc3\xa9", "", "x"});
    model.flush();
    ASSERT_EQ(model.rowCount(), 5);
    EXPECT_EQ(model.cellText(0, 2), "20 individuals");
    EXPECT_EQ(model.cellText(1, 0), "");
    EXPECT_EQ(model.cellText(2, 1), "0.5");
    EXPECT_EQ(model.cellText(2, 2), "");
    EXPECT_EQ(model.cellText(3, 2), "c");
    EXPECT_EQ(model.cellText(4, 0), QString::fromUtf8("\xc3\xa9t\xc3\xa9"));
    EXPECT_EQ(model.cellText(4, 2), "x");
    EXPECT_EQ(model.cellText(5, 0), "");
    EXPECT_EQ(model.data(model.index(0, 0), Qt::DisplayRole).toString(), "Generation");
    EXPECT_EQ(model.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "Value");
}

TEST(TextTable, RowsArrivingFastAreAnnouncedInBatches)
{
    TextTableModel model({"What?", "Value", "Info"});
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    // After a quiet spell a row shows at once.
    model.appendRow({"a", "1", ""});
    model.commit();
    EXPECT_EQ(model.rowCount(), 1);

    // Rows right behind it wait for one notice, which the batch timer sends.
    for (int block = 0; block < 50; ++block) {
        for (int r = 0; r < 19; ++r)
            model.appendRow({"b", "2", ""});
        model.commit();
    }
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.storedRows(), 951);
    EXPECT_EQ(model.data(model.index(1, 0), Qt::DisplayRole), QVariant());
    ASSERT_TRUE(inserted.wait(2000));
    EXPECT_EQ(model.rowCount(), 951);
    ASSERT_EQ(inserted.count(), 2);
    EXPECT_EQ(inserted.last().at(1).toInt(), 1);
    EXPECT_EQ(inserted.last().at(2).toInt(), 950);
    EXPECT_EQ(model.data(model.index(950, 1), Qt::DisplayRole).toString(), "2");

    // Emptying drops waiting rows too.
    model.appendRow({"c", "3", ""});
    model.commit();
    model.clear();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.storedRows(), 0);
    EXPECT_EQ(model.cellText(0, 0), "");
    QTest::qWait(2 * AppendOnlyTableModel::batchInterval);
    EXPECT_EQ(model.rowCount(), 0);
}

TEST(IndividualTable, NumbersAreWrittenByTheirVariableKind)
{
    LcgRng rng(3);
    auto zyl = test::makeZyl(2, "fib", rng);
    IndividualTableModel model(*zyl);
    EXPECT_EQ(model.columnCount(), 4);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "f");
    EXPECT_EQ(model.headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(), "x3");

    Indiv& ind = zyl->population[0];
    test::setValues(ind, {2.0 / 3, 7, 1});
    ind.value = 1234567.0;
    ind.evaluated = true;
    model.appendIndividual(ind);
    ind.evaluated = false;
    model.appendIndividual(ind);
    model.appendIndividual(ind, /*valueKnown=*/true);
    model.appendSeparator();
    model.flush();
    ASSERT_EQ(model.rowCount(), 4);
    EXPECT_EQ(model.cellText(0, 0), "1.23457e+06");
    EXPECT_EQ(model.cellText(0, 1), "0.666667");
    EXPECT_EQ(model.cellText(0, 2), "7");
    EXPECT_EQ(model.cellText(0, 3), "1");
    EXPECT_EQ(model.cellText(1, 0), "?");
    EXPECT_EQ(model.cellText(1, 2), "7");
    EXPECT_EQ(model.cellText(2, 0), "1.23457e+06");
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(model.cellText(3, c), "");

    // Captions change in place, and the views hear of it.
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.setCaptionValue(1, -0.5);
    EXPECT_EQ(model.cellText(1, 0), "-0.5");
    model.setCaptionText(1, "typed");
    EXPECT_EQ(model.cellText(1, 0), "typed");
    model.setCaptionValue(1, 2);
    EXPECT_EQ(model.cellText(1, 0), "2");
    EXPECT_EQ(changed.count(), 3);
    model.setCaptionText(9, "nowhere");
    EXPECT_EQ(changed.count(), 3);
}

TEST(IndividualTable, OnlyAnEditableCaptionTakesEdits)
{
    LcgRng rng(3);
    auto zyl = test::makeZyl(2, "f", rng);
    IndividualTableModel model(*zyl);
    model.appendIndividual(zyl->population[0]);
    model.flush();
    QSignalSpy edited(&model, &IndividualTableModel::captionEdited);
    EXPECT_FALSE(model.setData(model.index(0, 0), "1"));
    model.setCaptionEditable(true);
    EXPECT_FALSE(model.setData(model.index(0, 1), "1"));
    EXPECT_TRUE(model.setData(model.index(0, 0), "1,5"));
    ASSERT_EQ(edited.count(), 1);
    EXPECT_EQ(edited.front().at(0).toInt(), 0);
    EXPECT_EQ(edited.front().at(1).toString(), "1,5");
    EXPECT_EQ(model.cellText(0, 0), "1,5");
}

TEST(IndividualTable, AConstrainedTaskShowsEachDesignsViolation)
{
    LcgRng rng(3);
    auto zyl = test::makeZyl(2, "fi", rng);
    zyl->setConstraints({"g"}, 0);
    IndividualTableModel model(*zyl);
    ASSERT_EQ(model.columnCount(), 4);
    EXPECT_EQ(model.headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(), "Violation");
    Indiv& ind = zyl->population[0];
    test::setValues(ind, {0.5, 2});
    const double g = 2.5;
    zyl->setConstraintValues(ind, &g);
    model.appendIndividual(ind); // not evaluated yet: no violation shown
    model.flush();
    EXPECT_EQ(model.cellText(0, 2), "2");
    EXPECT_EQ(model.cellText(0, 3), "");
    model.setViolation(0, ind.violation);
    model.setCaptionValue(0, 7);
    EXPECT_EQ(model.cellText(0, 0), "7");
    EXPECT_EQ(model.cellText(0, 3), "2.5");
}
