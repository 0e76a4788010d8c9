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

#include <new>
#include <string>
#include <vector>

// Allocation failures on demand: while gNothrowAllowance is not negative it
// counts down the nothrow allocations that may still succeed; later ones
// fail. Each forwards to the matching throwing allocation, so the memory
// comes from the allocator its delete returns it to (AddressSanitizer checks).
static int gNothrowAllowance = -1;
static bool NothrowFails()
{
    if (gNothrowAllowance == 0)
        return true;
    if (gNothrowAllowance > 0)
        --gNothrowAllowance;
    return false;
}
template <typename Allocate> static void *NothrowOrNull(Allocate allocate) noexcept
{
    try {
        return NothrowFails() ? nullptr : allocate();
    } catch (...) {
        return nullptr;
    }
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    return NothrowOrNull([&] { return ::operator new(size); });
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept
{
    return NothrowOrNull([&] { return ::operator new[](size); });
}
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
        previousHandler = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &text) { gDebugLines.push_back(text.toStdString()); });
        gDebugLines.clear();
    }
    void TearDown() override
    {
        qInstallMessageHandler(previousHandler);
        lua_close(L);
        gNothrowAllowance = -1;
        delete gVoxelBlock; // the program never destroys its block; each test starts without one
        gVoxelBlock = nullptr;
    }

    // Runs `chunk` then `call`: the number of results `call` gives, or -1
    // when either raised an error.
    int Results(const std::string &chunk, const std::string &call = "nil")
    {
        const bool failed = luaL_dostring(L, (chunk + " return select('#', " + call + ")").c_str()) != 0;
        const int count = failed ? -1 : int(lua_tointeger(L, -1));
        lua_settop(L, 0);
        return count;
    }

    // Number of cells that are not solid, and the first of them (i + 100 j + 10000 k).
    int Holes(int *first = nullptr) const
    {
        int holes = 0;
        for (int flat = 0; flat < VoxelBlock::kCellCount; ++flat)
            if (!gVoxelBlock->cellAt(flat % 100, flat / 100 % 100, flat / 10000)->solid && holes++ == 0 && first)
                *first = flat;
        return holes;
    }

    lua_State *L = luaL_newstate();
    QtMessageHandler previousHandler = nullptr;
};

// No results, no error, no block before the first make; a second make
// returns nothing, keeps the block and its holes.
TEST_F(VoxelApiTest, NothingHappensBeforeTheFirstMakeAndASecondMakeKeepsTheHoles)
{
    for (const char *call : {"carveVoxelAt(0, 0, 0)", "addVoxelAt(1, 2, 3)", "renderVoxelBlock()",
                             "carveVoxelAt(0/0, 1/0, -1e300)", "addVoxelAt('x')"})
        EXPECT_EQ(Results("", call), 0) << call;
    EXPECT_EQ(gVoxelBlock, nullptr);
    EXPECT_EQ(Results("", "makeVoxelBlock()"), 0);
    ASSERT_NE(gVoxelBlock, nullptr);
    EXPECT_EQ(Holes(), 0);
    VoxelBlock *first = gVoxelBlock;
    EXPECT_EQ(Results("carveVoxelAt(5, 6, 7) carveVoxelAt(0, 0, 0)", "makeVoxelBlock()"), 0);
    EXPECT_EQ(gVoxelBlock, first);
    EXPECT_EQ(Holes(), 2);
    EXPECT_FALSE(gVoxelBlock->cellAt(5, 6, 7)->solid);
    EXPECT_TRUE(gDebugLines.empty());
}

// Each argument list carves the cell it names (truncated toward zero,
// loosely converted) or, out of range, none; adding with it fills it again.
TEST_F(VoxelApiTest, ArgumentsTruncateTowardZeroAndOutOfRangeAddressesNoCell)
{
    Results("makeVoxelBlock()");
    ASSERT_NE(gVoxelBlock, nullptr);
    const std::pair<const char *, int> cases[] = { // arguments, cell or -1 for none
        {"-0.5, 0, 0", 0}, {"0.9, 1.9, 2.9", 20100}, {"'3', '4', '5'", 50403}, {"", 0}, {"7", 7},
        {"'x', {}, true", 0}, {"99.99, 99.99, 99.99", 999999}, {"-1, 0, 0", -1}, {"100, 0, 0", -1},
        {"0, -1, 0", -1}, {"0, 0, 100", -1}, {"0/0, 0, 0", -1}, {"0, 1/0, 0", -1}, {"0, 0, -1/0", -1},
        {"1e300, 0, 0", -1}, {"-1e300, 0, 0", -1}, {"2^32, 0, 0", -1}, {"0, 2^32 + 1, 0", -1},
        {"0, 0, 2^31", -1}, {"-2^31 - 1, 0, 0", -1}, {"-2^31, 0, 0", -1}};
    for (const auto &[args, cell] : cases) {
        EXPECT_EQ(Results("", std::string("carveVoxelAt(") + args + ")"), 0) << args;
        int first = -1;
        EXPECT_EQ(Holes(&first), cell < 0 ? 0 : 1) << args;
        EXPECT_EQ(first, cell) << args;
        EXPECT_EQ(Results("", std::string("addVoxelAt(") + args + ")"), 0) << args;
        EXPECT_EQ(Holes(), 0) << args;
    }
}

// Out of memory at each of the block's three allocations in turn (the
// cells, the walk's prefetch hints, the block): no block, one debug line,
// the script goes on; the next make succeeds.
TEST_F(VoxelApiTest, MakeWithoutMemoryLeavesNoBlockAndIsTriedAgain)
{
    for (int allowance : {0, 1, 2}) {
        gDebugLines.clear();
        gNothrowAllowance = allowance;
        EXPECT_EQ(Results("makeVoxelBlock() carveVoxelAt(1, 1, 1)"), 1);
        gNothrowAllowance = -1;
        EXPECT_EQ(gVoxelBlock, nullptr);
        ASSERT_EQ(gDebugLines.size(), 1u);
        EXPECT_NE(gDebugLines[0].find("not enough memory"), std::string::npos) << gDebugLines[0];
    }
    gDebugLines.clear();
    Results("makeVoxelBlock() carveVoxelAt(1, 1, 1)");
    ASSERT_NE(gVoxelBlock, nullptr);
    EXPECT_EQ(Holes(), 1);
    EXPECT_TRUE(gDebugLines.empty());
}

} // namespace
