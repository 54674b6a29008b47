#pragma once

#include <compare>
#include <cstdint>

// A span of time held as a signed 32-bit count of 2^-14 s units
// (16384 units = 1 s; 0.1 s is 1638 units).
struct Duration {
  static constexpr std::int32_t Units_Per_Second = 16384;

  std::int32_t Raw = 0;

  static constexpr Duration From_Raw(std::int32_t Count) { return Duration{Count}; }

  // The nearest count of units; CONSTRAINT_ERROR outside the 32-bit range.
  static Duration From_Seconds(double Seconds);

  constexpr double Seconds() const { return static_cast<double>(Raw) / Units_Per_Second; }
  constexpr bool Is_Zero() const { return Raw == 0; }

  friend constexpr bool operator==(Duration, Duration) = default;
  friend constexpr auto operator<=>(Duration, Duration) = default;
};
