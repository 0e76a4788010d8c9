// Loose argument readers shared by the script functions: a missing or
// non-numeric argument reads as 0, and nothing ever raises a Lua error.
#pragma once

#include <lua.hpp>

#include <climits>
#include <cmath>

// Argument `index` narrowed to single precision.
inline float ArgFloat(lua_State *L, int index)
{
    return static_cast<float>(lua_tonumber(L, index));
}

// Argument `index` truncated toward zero to a 32-bit integer. Values the
// conversion cannot represent are clamped first instead of being undefined:
// NaN gives 0, +inf and anything above INT_MAX give INT_MAX, -inf and
// anything below INT_MIN give INT_MIN.
inline int ArgInt32(lua_State *L, int index)
{
    const double value = lua_tonumber(L, index);
    if (std::isnan(value))
        return 0;
    if (value >= 2147483647.0)
        return INT_MAX;
    if (value <= -2147483648.0)
        return INT_MIN;
    return static_cast<int>(value);
}
