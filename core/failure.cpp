#include "core/failure.hpp"

#include <new>
#include <stdexcept>

std::string Failure::information() const {
  return std::string(name()) + " (" + reason() + ") " + message();
}

namespace {

// Exceptions from the language's library get names in the same style, so a
// report of an exhausted heap reads like any other failure.
struct Foreign {
  const char *Name;
  std::string Reason;
};

Foreign Classify(const std::exception &E) {
  if (dynamic_cast<const std::bad_alloc *>(&E)) return {"STORAGE_ERROR", E.what()};
  if (dynamic_cast<const std::out_of_range *>(&E) || dynamic_cast<const std::length_error *>(&E))
    return {"CONSTRAINT_ERROR", E.what()};
  return {"PROGRAM_ERROR", E.what()};
}

} // namespace

std::string Information_Of(const std::exception_ptr &Caught) {
  try {
    std::rethrow_exception(Caught);
  } catch (const Failure &F) {
    return F.information();
  } catch (const std::exception &E) {
    const Foreign F = Classify(E);
    return std::string(F.Name) + " (" + F.Reason + ") " + F.Reason;
  }
}

std::string Name_Of(const std::exception_ptr &Caught) {
  try {
    std::rethrow_exception(Caught);
  } catch (const Failure &F) {
    return F.name();
  } catch (const std::exception &E) {
    return Classify(E).Name;
  }
}
