#include "core/duration.hpp"

#include "core/failure.hpp"

#include <cmath>
#include <limits>

Duration Duration::From_Seconds(double Seconds) {
  const double Units = std::nearbyint(Seconds * Units_Per_Second);
  if (!(Units >= std::numeric_limits<std::int32_t>::min() &&
        Units <= std::numeric_limits<std::int32_t>::max()))
    throw Constraint_Error("Duration out of range");
  return From_Raw(static_cast<std::int32_t>(Units));
}
