// The voxel functions from Lua: nothing before the first makeVoxelBlock,
// argument conversion (values no 32-bit index can hold included), a second
// make that keeps the holes, and a make without memory that is tried again.
#include "VoxelApi.h"
#include "VoxelBlock.h"

#include <QString>
#include <QtGlobal>

#include <lua.hpp>

#include <gtest/gtest.h>

#include <new>
#include <string>

// While gNothrowAllowance is not negative it counts down the nothrow
// allocations that may still succeed; later ones fail.
static int gNothrowAllowance = -1;
template <typename Allocate> static void *NothrowOrNull(Allocate allocate) noexcept
{
    if (gNothrowAllowance == 0)
        return nullptr;
    gNothrowAllowance -= gNothrowAllowance > 0;
    try {
        return allocate();
    } catch (...) {
        return nullptr;
    }
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept { return NothrowOrNull([&] { return ::operator new(size); }); }
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept { return NothrowOrNull([&] { return ::operator new[](size); }); }
void *operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t &) noexcept
{
    return NothrowOrNull([&] { return ::operator new[](size, align); });
}

namespace {

std::vector<std::string> gDebugLines;

class VoxelApiTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        luaL_openlibs(L);
        for (const luaL_Reg *f = kVoxelFunctions; f->name; ++f)
            lua_register(L, f->name, f->func);
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) { gDebugLines.push_back(text.toStdString()); });
    }
    void TearDown() override
    {
        qInstallMessageHandler(nullptr);
        lua_close(L);
        delete gVoxelBlock; // the program never destroys its block; each test starts without one
        gVoxelBlock = nullptr;
    }
    // Runs `chunk`: the number of values it returns, -1 when it raised an error.
    int Run(const std::string &chunk)
    {
        const int count = luaL_dostring(L, ("return select('#', " + chunk + ")").c_str()) ? -1 : int(lua_tointeger(L, -1));
        lua_settop(L, 0);
        return count;
    }
    // The number of cells that are not solid, and the first (i + 100 j + 10000 k).
    int Holes(int *first = nullptr) const
    {
        int holes = 0;
        for (int f = 0; f < VoxelBlock::kCellCount; ++f)
            if (!gVoxelBlock->cellAt(f % 100, f / 100 % 100, f / 10000)->solid && holes++ == 0 && first)
                *first = f;
        return holes;
    }

    lua_State *L = luaL_newstate();
};

TEST_F(VoxelApiTest, NothingHappensBeforeTheFirstMakeAndASecondMakeKeepsTheHoles)
{
    for (const char *call : {"carveVoxelAt(0, 0, 0)", "addVoxelAt(1, 2, 3)", "renderVoxelBlock()"})
        EXPECT_EQ(Run(call), 0) << call;
    EXPECT_EQ(gVoxelBlock, nullptr);
    EXPECT_EQ(Run("makeVoxelBlock()"), 0);
    ASSERT_NE(gVoxelBlock, nullptr);
    VoxelBlock *first = gVoxelBlock;
    Run("carveVoxelAt(5, 6, 7)");
    EXPECT_EQ(Run("makeVoxelBlock()"), 0);
    EXPECT_EQ(gVoxelBlock, first);
    EXPECT_EQ(Holes(), 1);
    EXPECT_TRUE(gDebugLines.empty());
}

// Each argument list carves the cell it names (truncated toward zero,
// loosely converted) or, out of range, none; adding with it fills it again.
TEST_F(VoxelApiTest, ArgumentsTruncateTowardZeroAndOutOfRangeAddressesNoCell)
{
    Run("makeVoxelBlock()");
    const std::pair<const char *, int> cases[] = {
        {"-0.5, 0, 0", 0}, {"0.9, 1.9, 2.9", 20100}, {"'3', '4', '5'", 50403}, {"7", 7}, {"'x', {}, true", 0},
        {"99.99, 99.99, 99.99", 999999}, {"-1, 0, 0", -1}, {"0, 0, 100", -1}, {"0/0, 0, 0", -1}, {"0, 1/0, 0", -1},
        {"-1e300, 0, 0", -1}, {"2^32, 0, 0", -1}, {"0, 2^32 + 1, 0", -1}, {"0, 0, 2^31", -1}, {"-2^31, 0, 0", -1}};
    for (const auto &[args, cell] : cases) {
        EXPECT_EQ(Run(std::string("carveVoxelAt(") + args + ")"), 0) << args;
        int first = -1;
        EXPECT_EQ(Holes(&first), cell < 0 ? 0 : 1) << args;
        EXPECT_EQ(first, cell) << args;
        Run(std::string("addVoxelAt(") + args + ")");
        EXPECT_EQ(Holes(), 0) << args;
    }
}

// Out of memory at each of the block's three allocations in turn: no block,
// one debug line, the script goes on; the next make succeeds.
TEST_F(VoxelApiTest, MakeWithoutMemoryLeavesNoBlockAndIsTriedAgain)
{
    for (int allowance : {0, 1, 2}) {
        gDebugLines.clear();
        gNothrowAllowance = allowance;
        EXPECT_GE(Run("makeVoxelBlock(), carveVoxelAt(1, 1, 1)"), 0) << "an error was raised";
        gNothrowAllowance = -1;
        EXPECT_EQ(gVoxelBlock, nullptr);
        ASSERT_EQ(gDebugLines.size(), 1u);
        EXPECT_NE(gDebugLines[0].find("not enough memory"), std::string::npos) << gDebugLines[0];
    }
    gDebugLines.clear();
    Run("makeVoxelBlock(), carveVoxelAt(1, 1, 1)");
    ASSERT_NE(gVoxelBlock, nullptr);
    EXPECT_EQ(Holes(), 1);
    EXPECT_TRUE(gDebugLines.empty());
}

} // namespace
