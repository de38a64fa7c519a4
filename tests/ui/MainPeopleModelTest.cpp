// SPDX-License-Identifier: GPL-3.0-or-later
// The table model behind the people lists.
#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include "ui/main/PeopleModel.h"

using tandrel::PeopleModel;

namespace tandrel::test {
namespace {

class PeopleModelTest : public ::testing::Test {
protected:
    Database db;
    std::vector<Person*> make(int n) {
        std::vector<Person*> out;
        for (int i = 0; i < n; ++i) {
            Person& e = db.appendEntry();
            e.setName("P" + std::to_string(i));
            e.setEmail("p" + std::to_string(i) + "@x");
            out.push_back(&e);
        }
        return out;
    }
    static std::vector<std::string> names(const PeopleModel& m) {
        std::vector<std::string> out;
        for (int r = 0; r < m.rowCount(); ++r)
            out.push_back(m.index(r, 0).data().toString().toStdString());
        return out;
    }
};

TEST_F(PeopleModelTest, RemovingRowsKeepsTheOthersInOrder) {
    struct Case {
        const char* what;
        int rows;
        std::vector<int> remove;
        std::vector<std::string> left;
    };
    const Case cases[] = {
        {"one run", 5, {1, 2}, {"P0", "P3", "P4"}},
        {"runs given out of order, with duplicates and strays",
         5,
         {4, 0, 4, 9, -1, 2},
         {"P1", "P3"}},
        {"everything", 3, {0, 1, 2}, {}},
        {"nothing", 2, {}, {"P0", "P1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PeopleModel m(PeopleModel::Kind::Receipients);
        QAbstractItemModelTester tester(&m,
                                        QAbstractItemModelTester::FailureReportingMode::Warning);
        db.entries.clear();
        m.setEntries(make(c.rows));
        m.removeRowsAt(c.remove);
        EXPECT_EQ(names(m), c.left);
    }
}

TEST_F(PeopleModelTest, ManyScatteredRowsGoInOneRebuild) {
    PeopleModel m(PeopleModel::Kind::Receipients);
    m.setEntries(make(1000));
    std::vector<int> odd;
    for (int r = 1; r < 1000; r += 2)
        odd.push_back(r);
    QSignalSpy resets(&m, &QAbstractItemModel::modelReset);
    QSignalSpy removals(&m, &QAbstractItemModel::rowsRemoved);
    m.removeRowsAt(odd);
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(removals.count(), 0);
    ASSERT_EQ(m.rowCount(), 500);
    EXPECT_EQ(m.index(499, 0).data().toString().toStdString(), "P998");
    EXPECT_EQ(m.entryAt(1), db.entries[2].get());
}

TEST_F(PeopleModelTest, StarColumnFollowsTheEntriesAndAFrozenModelNeverReadsThem) {
    PeopleModel m(PeopleModel::Kind::Available);
    auto rows = make(3);
    m.setEntries(rows);
    EXPECT_EQ(m.columnCount(), 3);
    rows[1]->selected = true;
    QSignalSpy changed(&m, &QAbstractItemModel::dataChanged);
    m.selectionMarksChanged();
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(m.index(1, 2).data().toString().toStdString(), "*");
    EXPECT_EQ(m.index(0, 2).data().toString().toStdString(), "");

    m.freeze();
    db.entries.clear(); // the entries are gone; the model still shows its copies
    EXPECT_EQ(names(m), (std::vector<std::string>{"P0", "P1", "P2"}));
    EXPECT_EQ(m.index(1, 2).data().toString().toStdString(), "*");
    EXPECT_EQ(m.index(2, 1).data().toString().toStdString(), "p2@x");
    m.selectionMarksChanged(); // must not touch the released entries
    m.removeRowsAt({0});
    EXPECT_EQ(names(m), (std::vector<std::string>{"P1", "P2"}));
    m.clear();
    EXPECT_FALSE(m.frozen());
    EXPECT_EQ(m.rowCount(), 0);
}

TEST_F(PeopleModelTest, ReceipientsHaveTwoColumnsAndHeaders) {
    PeopleModel m(PeopleModel::Kind::Receipients);
    m.setEntries(make(1));
    EXPECT_EQ(m.columnCount(), 2);
    EXPECT_EQ(m.headerData(0, Qt::Horizontal).toString().toStdString(), "Name");
    EXPECT_EQ(m.headerData(1, Qt::Horizontal).toString().toStdString(), "E-Mail");
    EXPECT_FALSE(m.index(0, 2).isValid());
    EXPECT_EQ(m.entryAt(5), nullptr);
    EXPECT_EQ(m.entryAt(-1), nullptr);
}

} // namespace
} // namespace tandrel::test
