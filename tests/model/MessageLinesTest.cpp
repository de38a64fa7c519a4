// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <random>
#include <utility>

#include "model/MessageLines.h"

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

// Whether a block holds a line break is noted as its lines are stored; the one-pass scan
// must agree with a plain search wherever the break sits, in any line of the block.
TEST(MessageLines, BlocksKnowWhetherALineHoldsALineBreak) {
    std::mt19937 rng(26);
    for (int round = 0; round < 3000; ++round) {
        std::string line(rng() % 300, 'x');
        for (char& c : line)
            c = static_cast<char>(' ' + rng() % 90);
        if (!line.empty() && rng() % 2) line[rng() % line.size()] = rng() % 2 ? '\r' : '\n';
        const bool expected = line.find_first_of("\r\n") != std::string::npos;
        ASSERT_EQ(HoldsLineBreak(line), expected) << line.size();
        LineBlock block;
        block.append("clean");
        block.append(line);
        block.append("clean again");
        ASSERT_EQ(block.holdsLineBreak(), expected);
    }
}

// Lines produced only while the message is read are refused the same way: the reader
// reports the failure, so the message is never completed.
TEST(MessageLines, ProducedLinesWithALineBreakFailTheRead) {
    struct Produced final : DeferredLines {
        Produced() : DeferredLines(2, 9) {}
        std::optional<std::string> problem() const override { return std::nullopt; }
        std::unique_ptr<Reader> open() const override {
            struct OneBlock final : Reader {
                bool done = false;
                SharedBlock next() override {
                    if (std::exchange(done, true)) return nullptr;
                    auto b = std::make_shared<LineBlock>();
                    b->append("QUJD");
                    b->append(".\r\nRSET");
                    return b;
                }
            };
            return std::make_unique<OneBlock>();
        }
    };
    MessageLines m(std::vector<std::string>{"Subject: x", ""});
    m.appendDeferred(std::make_shared<Produced>());
    std::vector<std::string> read;
    const auto failure = m.forEach([&](std::string_view l) { read.emplace_back(l); });
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(read, (std::vector<std::string>{"Subject: x", "", "", ""}));
}
