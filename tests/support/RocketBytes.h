// The bytes a sync editor sends, as the protocol writes them: big-endian
// integers, a value as the bit pattern of a float.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace rocket {

inline std::string U32(std::uint32_t v)
{
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}
inline std::string SetKey(std::uint32_t track, std::uint32_t row, float value, int interpolation)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return '\0' + U32(track) + U32(row) + U32(bits) + char(interpolation);
}
inline std::string DeleteKey(std::uint32_t track, std::uint32_t row) { return '\1' + U32(track) + U32(row); }
inline std::string GetTrack(const std::string &name) { return '\2' + U32(std::uint32_t(name.size())) + name; }
inline std::string SetRow(std::uint32_t row) { return '\3' + U32(row); }
inline std::string Pause(bool paused) { return {'\4', char(paused)}; }

} // namespace rocket
