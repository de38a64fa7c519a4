#include <gtest/gtest.h>

#include "MessageLines.h"

using namespace tandrel;

TEST(MessageLines, OwnAndSharedBlocksReadBackInOrder) {
    auto shared = std::make_shared<LineBlock>();
    shared->append("QUJD");
    shared->append("");
    shared->append("REVG");

    MessageLines m(std::vector<std::string>{"Subject: x", ""});
    m.append("body");
    m.appendShared(shared);
    m.append("--partbound--");
    m.appendShared(std::make_shared<LineBlock>()); // empty blocks add nothing

    const std::vector<std::string> want = {"Subject: x", "",     "body",         "QUJD",
                                           "",           "REVG", "--partbound--"};
    ASSERT_EQ(m.size(), want.size());
    EXPECT_EQ(m.toVector(), want);
    for (std::size_t i = 0; i < want.size(); ++i)
        EXPECT_EQ(m.line(i), want[i]) << i;

    std::vector<std::string> viaCursor;
    for (auto c = m.cursor(); !c.atEnd();)
        viaCursor.emplace_back(c.next());
    EXPECT_EQ(viaCursor, want);
    EXPECT_THROW(m.line(want.size()), std::out_of_range);
}

TEST(MessageLines, EmptyMessageHasNoLines) {
    MessageLines m;
    EXPECT_TRUE(m.empty());
    EXPECT_TRUE(m.cursor().atEnd());
    MessageLines fromEmpty(std::vector<std::string>{});
    EXPECT_EQ(fromEmpty.size(), 0u);
}

TEST(MessageLines, CopiesNeverGrowEachOther) {
    MessageLines original(std::vector<std::string>{"a", "b"});
    MessageLines copy = original;
    copy.append("only in the copy");
    original.append("only in the original");
    EXPECT_EQ(original.toVector(), (std::vector<std::string>{"a", "b", "only in the original"}));
    EXPECT_EQ(copy.toVector(), (std::vector<std::string>{"a", "b", "only in the copy"}));

    MessageLines assigned;
    assigned = original;
    assigned.append("x");
    EXPECT_EQ(original.size(), 3u);
    EXPECT_EQ(assigned.line(3), "x");
}
