#pragma once

#include "core/failure.hpp"

#include <string>
#include <string_view>

// Position search and counted slices on 8-bit strings. Positions are 1-based;
// 0 means "not found" (Index) or "no start position" (From).
namespace Text {

enum class Direction { Forward, Backward };

using Pattern_Error = Named_Failure<"TEXT.PATTERN_ERROR">;
using Index_Error = Named_Failure<"TEXT.INDEX_ERROR">;

// Where Pattern begins in Source, 0 when absent. From 0 searches the whole of
// Source; otherwise the window is From..end (Forward) or 1..From (Backward)
// and a match must lie wholly inside it. A bad window raises INDEX_ERROR (or
// CONSTRAINT_ERROR for a negative From) before an empty Pattern raises
// PATTERN_ERROR.
int Index(std::string_view Pattern, std::string_view Source, int From = 0,
          Direction Going = Direction::Forward);
int Index(char Pattern, std::string_view Source, int From = 0,
          Direction Going = Direction::Forward);

inline bool Is_Empty(std::string_view S) {
  return S.empty();
}

// The Count characters of Source starting at From. CONSTRAINT_ERROR for a
// From below 1 or a negative Count; INDEX_ERROR when the slice leaves Source.
std::string Slice(std::string_view Source, int From, int Count);

} // namespace Text
