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

// A colour channel as colorGL takes it: truncated to a 32-bit integer, then
// its low 8 bits (255.9 -> 255, 256 -> 0, -1 -> 255).
inline unsigned char ColourByte(double value)
{
    return static_cast<unsigned char>(TruncateInto(value, INT_MIN, INT_MAX, 0) & 0xff);
}

// Entry `n` of the table at `table` as a number: missing, non-numeric, NaN
// and infinite entries read as 0.
inline double FieldNumber(lua_State *L, int table, int n)
{
    lua_rawgeti(L, table, n);
    const double value = lua_tonumber(L, -1);
    lua_pop(L, 1);
    return std::isfinite(value) ? value : 0.0;
}

// Argument `index` truncated toward zero to a 32-bit integer: NaN gives 0,
// +inf and anything above INT_MAX give INT_MAX, -inf and anything below
// INT_MIN give INT_MIN.
inline int ArgInt32(lua_State *L, int index)
{
    return TruncateInto(lua_tonumber(L, index), INT_MIN, INT_MAX, 0);
}
