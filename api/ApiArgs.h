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

// `value` truncated toward zero and clamped into lo..hi; NaN gives `ifNaN`.
// The comparisons come first, in double precision, so nothing that the
// conversion cannot represent (infinities, huge values) ever reaches it.
inline int TruncateInto(double value, int lo, int hi, int ifNaN)
{
    if (std::isnan(value))
        return ifNaN;
    if (value >= static_cast<double>(hi))
        return hi;
    if (value <= static_cast<double>(lo))
        return lo;
    return static_cast<int>(value);
}

// Argument `index` truncated toward zero to a 32-bit integer: NaN gives 0,
// +inf and anything above INT_MAX give INT_MAX, -inf and anything below
// INT_MIN give INT_MIN.
inline int ArgInt32(lua_State *L, int index)
{
    return TruncateInto(lua_tonumber(L, index), INT_MIN, INT_MAX, 0);
}
