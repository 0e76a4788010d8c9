// Canvas ids, sizes, formats and the reload rule, and the post chain's
// sizes, without GL.
#include "CanvasTable.h"

#include <gtest/gtest.h>

TEST(CanvasTable, RefusesBadSizesAndFormatsAndFollowsTheViewOnlyWhereASideIs0)
{
    CanvasTable table;
    std::string why;
    for (const auto &[w, h, format, refusal] :
         {std::tuple{-1.0, 8.0, "rgba8", "a side is a whole number"}, {8.0, 0.0 / 0.0, "rgba8", "a side is a whole number"},
          {2.5, 8.0, "rgba8", "a side is a whole number"}, {8.0, 4097.0, "rgba8", "a side is at most 4096 pixels here"},
          {8.0, 8.0, "rgb", "unknown format \"rgb\""}}) {
        EXPECT_EQ(table.create(w, h, format, 4096, why), 0) << refusal;
        EXPECT_NE(why.find(refusal), std::string::npos) << why;
    }
    const int wide = table.create(0, 16, "rgba16f", 4096, why), whole = table.create(4096, 0, "rgba8", 4096, why);
    ASSERT_EQ(std::vector<int>({wide, whole}), std::vector<int>({1, 2}));
    EXPECT_EQ(table.find(wide)->format, CanvasFormat::Rgba16f);
    EXPECT_EQ(CanvasTable::SizeIn(*table.find(wide), {640, 360}), (CanvasSize{640, 16}));
    EXPECT_EQ(CanvasTable::SizeIn(*table.find(whole), {320, 180}), (CanvasSize{4096, 180}));
    EXPECT_TRUE(table.free(wide));
    EXPECT_FALSE(table.free(wide));
    EXPECT_EQ(table.find(wide), nullptr);
}

// The n-th canvas a load asks for is the n-th of the load before, unless
// freed; canvases made outside a load, or beyond the last load's, are new.
TEST(CanvasTable, AReloadGetsItsCanvasesBackInTheOrderItAsksForThem)
{
    CanvasTable table;
    std::string why;
    const auto load = [&](int count) {
        std::vector<int> ids;
        table.beginLoad();
        for (int n = 0; n < count; ++n)
            ids.push_back(table.create(8, 8 * (n + 1), "rgba8", 64, why));
        table.endLoad();
        return ids;
    };
    EXPECT_EQ(load(2), std::vector<int>({1, 2}));
    EXPECT_EQ(table.create(8, 8, "rgba8", 64, why), 3);
    EXPECT_EQ(load(3), std::vector<int>({1, 2, 4}));
    EXPECT_EQ(load(1), std::vector<int>({1})) << "a load that stopped early";
    EXPECT_EQ(load(3), std::vector<int>({1, 2, 4})) << "the rest kept for the next";
    table.free(2);
    EXPECT_EQ(load(3), std::vector<int>({1, 5, 4}));
    EXPECT_EQ(table.find(4)->height, 24) << "the new size";
    EXPECT_EQ(table.count(), 4u);
}

TEST(CanvasTable, PassesRunAtTheirScaleOfTheViewAndChainsAndScalesAreBounded)
{
    EXPECT_EQ(CanvasTable::PassSizes({1.0f, 0.5f, 0.001f}, {801, 600}),
              (std::vector<CanvasSize>{{801, 600}, {401, 300}, {1, 1}}));
    EXPECT_EQ(CanvasTable::CheckChainLength(CanvasTable::kMaxPasses), "");
    EXPECT_EQ(CanvasTable::CheckChainLength(64), "setPostShader: at most 16 passes in a chain (64 given)");
    for (double scale : {0.0, -0.5, 1.01, 0.0 / 0.0})
        EXPECT_NE(CanvasTable::CheckPassScale(scale), "") << scale;
    EXPECT_EQ(CanvasTable::CheckPassScale(1.0), "");
}
