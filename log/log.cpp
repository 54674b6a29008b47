#include "log/log.hpp"

#include "core/failure.hpp"

namespace Log {

std::string Report_Message(std::string_view Where, const std::exception_ptr &Caught) noexcept {
  try {
    try {
      return std::string(Where) + ": Exception = " + Information_Of(Caught);
    } catch (...) {}
    try {
      return std::string(Where) + ": Exception = " + Name_Of(Caught);
    } catch (...) {}
    return std::string(Where) + ": Unknown Exception";
  } catch (...) {
    return {};
  }
}

void Report(std::string_view Where, const std::exception_ptr &Caught) noexcept {
  Put(Report_Message(Where, Caught));
}

} // namespace Log

namespace Log {

// The log is off until its file is opened at start-up.
void Put(std::string_view Message) noexcept {
  static_cast<void>(Message);
}

} // namespace Log
