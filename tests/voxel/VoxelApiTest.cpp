// The four voxel functions called from Lua: nothing before the first
// makeVoxelBlock, argument conversion (including values no 32-bit index can
// hold), a second make that keeps the holes, and a make that runs out of
// memory and is tried again later.
#include "VoxelApi.h"
#include "VoxelBlock.h"

#include <QString>
#include <QtGlobal> // qInstallMessageHandler: catches the debug line

#include <lua.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

// Allocation failures on demand: while gNothrowAllowance is not negative,
// it counts down the nothrow allocations that may still succeed; the ones
// after it fail. Ordinary allocations (Lua, the test framework) never fail.
static int gNothrowAllowance = -1;
static bool NothrowFails()
{
    if (gNothrowAllowance < 0)
        return false;
    if (gNothrowAllowance == 0)
        return true;
    --gNothrowAllowance;
    return false;
}
// Each forwards to the matching throwing allocation, so the memory comes from
// the allocator its delete returns it to (AddressSanitizer checks that).
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    try {
        return NothrowFails() ? nullptr : ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept
{
    try {
        return NothrowFails() ? nullptr : ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}
void *operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t &) noexcept
{
    try {
        return NothrowFails() ? nullptr : ::operator new[](size, align);
    } catch (...) {
        return nullptr;
    }
}

namespace {

std::vector<std::string> gDebugLines;
void CollectDebugLine(QtMsgType, const QMessageLogContext &, const QString &text) { gDebugLines.push_back(text.toStdString()); }

class VoxelApiTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        luaL_openlibs(L);
        for (const luaL_Reg *f = kVoxelFunctions; f->name; ++f)
            lua_register(L, f->name, f->func);
        previousHandler = qInstallMessageHandler(CollectDebugLine);
        gDebugLines.clear();
    }
    void TearDown() override
    {
        qInstallMessageHandler(previousHandler);
        lua_close(L);
        gNothrowAllowance = -1;
        // The program never destroys its block; each test starts without one.
        delete gVoxelBlock;
        gVoxelBlock = nullptr;
    }

    // Runs the chunk; its result through tostring, or "error: " and the message.
    std::string Run(const std::string &chunk)
    {
        const bool failed = luaL_dostring(L, ("return tostring((function() " + chunk + " end)())").c_str()) != 0;
        const std::string result = (failed ? "error: " : "") + std::string(lua_tostring(L, -1));
        lua_pop(L, 1);
        return result;
    }

    // Number of cells that are not solid, and the first of them.
    int Holes(int *first = nullptr) const
    {
        int holes = 0;
        for (int k = 0; k < 100; ++k)
            for (int j = 0; j < 100; ++j)
                for (int i = 0; i < 100; ++i)
                    if (!gVoxelBlock->cellAt(i, j, k)->solid && holes++ == 0 && first)
                        *first = i + 100 * (j + 100 * k);
        return holes;
    }

    lua_State *L = luaL_newstate();
    QtMessageHandler previousHandler = nullptr;
};

TEST_F(VoxelApiTest, NothingHappensBeforeTheFirstMake)
{
    // No results, no error, no block, whatever the arguments.
    for (const char *call : {"carveVoxelAt(0, 0, 0)", "addVoxelAt(1, 2, 3)", "renderVoxelBlock()",
                             "carveVoxelAt(0/0, 1/0, -1e300)", "addVoxelAt('x')"})
        EXPECT_EQ(Run("return select('#', " + std::string(call) + ")"), "0") << call;
    EXPECT_EQ(gVoxelBlock, nullptr);
    EXPECT_EQ(Run("return select('#', makeVoxelBlock())"), "0");
    ASSERT_NE(gVoxelBlock, nullptr);
    EXPECT_EQ(Holes(), 0);
    EXPECT_TRUE(gDebugLines.empty());
}

// Each argument list carves the cell it names (or none) and adding with the
// same arguments fills it again.
TEST_F(VoxelApiTest, ArgumentsTruncateTowardZeroAndOutOfRangeAddressesNoCell)
{
    Run("makeVoxelBlock()");
    ASSERT_NE(gVoxelBlock, nullptr);
    struct Case
    {
        const char *args;
        int cell; // i + 100 j + 10000 k, or -1 for none
    };
    const Case cases[] = {
        {"-0.5, 0, 0", 0},          {"0.9, 1.9, 2.9", 0 + 100 * 1 + 10000 * 2},
        {"'3', '4', '5'", 3 + 400 + 50000}, {"", 0},
        {"7", 7},                   {"'x', {}, true", 0},
        {"99.99, 99.99, 99.99", 999999},
        {"-1, 0, 0", -1},           {"100, 0, 0", -1},
        {"0, -1, 0", -1},           {"0, 0, 100", -1},
        {"0/0, 0, 0", -1},          {"0, 1/0, 0", -1},
        {"0, 0, -1/0", -1},         {"1e300, 0, 0", -1},
        {"-1e300, 0, 0", -1},       {"2^32, 0, 0", -1},
        {"0, 2^32 + 1, 0", -1},     {"0, 0, 2^31", -1},
        {"-2^31 - 1, 0, 0", -1},    {"-2^31, 0, 0", -1},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Run(std::string("return select('#', carveVoxelAt(") + c.args + "))"), "0") << c.args;
        int first = -1;
        EXPECT_EQ(Holes(&first), c.cell < 0 ? 0 : 1) << c.args;
        EXPECT_EQ(first, c.cell) << c.args;
        EXPECT_EQ(Run(std::string("return select('#', addVoxelAt(") + c.args + "))"), "0") << c.args;
        EXPECT_EQ(Holes(), 0) << c.args;
    }
}

TEST_F(VoxelApiTest, SecondMakeKeepsTheHoles)
{
    Run("makeVoxelBlock() carveVoxelAt(5, 6, 7) carveVoxelAt(0, 0, 0)");
    VoxelBlock *first = gVoxelBlock;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Run("return select('#', makeVoxelBlock())"), "0");
    EXPECT_EQ(gVoxelBlock, first);
    EXPECT_EQ(Holes(), 2);
    EXPECT_FALSE(gVoxelBlock->cellAt(5, 6, 7)->solid);
}

// Out of memory at each of the block's three allocations in turn (the
// cells, the walk's prefetch hints, the block itself): no block, one debug
// line, nothing else happens; the next make succeeds.
TEST_F(VoxelApiTest, MakeWithoutMemoryLeavesNoBlockAndIsTriedAgain)
{
    for (int allowance : {0, 1, 2}) {
        gDebugLines.clear();
        gNothrowAllowance = allowance;
        EXPECT_EQ(Run("makeVoxelBlock() carveVoxelAt(1, 1, 1) return 'done'"), "done");
        gNothrowAllowance = -1;
        EXPECT_EQ(gVoxelBlock, nullptr);
        ASSERT_EQ(gDebugLines.size(), 1u);
        EXPECT_NE(gDebugLines[0].find("not enough memory"), std::string::npos) << gDebugLines[0];
    }
    gDebugLines.clear();
    Run("makeVoxelBlock() carveVoxelAt(1, 1, 1)");
    ASSERT_NE(gVoxelBlock, nullptr);
    EXPECT_EQ(Holes(), 1);
    EXPECT_TRUE(gDebugLines.empty());
}

} // namespace
