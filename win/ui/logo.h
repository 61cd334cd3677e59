#pragma once

// The gem logo: two fixed sets of polygons in logo units (the gem, and the shard that slides
// off it while work goes on), their colours and the animation phase.

#include <array>
#include <cstdint>
#include <span>

#include "win/ui/graphics_owners.h"

namespace kestrivon::win {

struct LogoPoint {
  float x = 0;
  float y = 0;
};

struct LogoPolygon {
  int32_t shade = 0;       // 0 light, 1 middle, 2 dark
  int32_t pointCount = 0;  // 3 or 4; a triangle leaves the fourth point at zero
  std::array<LogoPoint, 4> points{};
};

inline constexpr std::array<LogoPolygon, 6> kLogoGem{{
    {1, 3, {{{6.00f, 24.32f}, {17.24f, 12.14f}, {22.86f, 24.32f}}}},
    {0, 4, {{{17.24f, 12.14f}, {39.73f, 12.14f}, {34.11f, 24.32f}, {22.86f, 24.32f}}}},
    {1, 4, {{{39.73f, 12.14f}, {44.79f, 17.66f}, {41.79f, 24.88f}, {34.11f, 24.32f}}}},
    {2, 3, {{{6.00f, 24.32f}, {22.86f, 24.32f}, {28.49f, 52.43f}}}},
    {1, 3, {{{22.86f, 24.32f}, {34.11f, 24.32f}, {28.49f, 52.43f}}}},
    {2, 4, {{{34.11f, 24.32f}, {41.79f, 24.88f}, {44.23f, 32.75f}, {28.49f, 52.43f}}}},
}};

inline constexpr std::array<LogoPolygon, 2> kLogoShard{{
    {0, 3, {{{51.82f, 11.57f}, {58.00f, 18.23f}, {48.82f, 18.79f}}}},
    {1, 3, {{{48.82f, 18.79f}, {58.00f, 18.23f}, {51.25f, 26.66f}}}},
}};

// Where the main window puts the logo, and how far the shard slides at its full offset.
inline constexpr float kLogoOriginX = 30.0f;
inline constexpr float kLogoOriginY = 26.0f;
inline constexpr float kLogoScale = 30.0f / 43.0f;
inline constexpr float kShardTravelX = -7.03f;
inline constexpr float kShardTravelY = 6.09f;

// Shade colours, indexed by shade.
inline constexpr std::array<Gdiplus::ARGB, 3> kLogoRunColors{0xFFB3E5FF, 0xFF6D8DFF, 0xFF3D2F9E};
inline constexpr std::array<Gdiplus::ARGB, 3> kLogoErrorColors{0xFFB9BCCB, 0xFF7A7E92, 0xFF44475A};

// How far the shard is out, 0 to 1, at `tickMs` milliseconds since system start: out over
// 630 ms, resting for 140 ms, back over 630 ms, in a cycle that follows the clock.
float ShardPhase(uint64_t tickMs);

// GUI thread (any thread owning `graphics`). Fills and outlines each polygon in its shade.
void DrawLogo(Gdiplus::GpGraphics* graphics, std::span<const LogoPolygon> polygons, float originX,
              float originY, float scale, float offsetX, float offsetY, bool errorView) noexcept;

}  // namespace kestrivon::win
