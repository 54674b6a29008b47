#pragma once

#include <algorithm>
#include <cstddef>
#include <exception>
#include <string>

// The one failure model of the system. Every failure is an exception that
// reports an upper-case dotted name (WINDOWS.PIPE.BROKEN); it may carry the
// reason it was detected and a message. One raised from a system error code
// names the code in its reason, for the log; the name is what callers act on.
class Failure : public std::exception {
public:
  explicit Failure(std::string Reason = {}, std::string Message = {})
      : Reason_(std::move(Reason)), Message_(std::move(Message)) {}

  virtual const char *name() const noexcept = 0;

  // Empty for a failure raised by name alone.
  const std::string &reason() const noexcept { return Reason_; }

  // The failure's own message, or the reason again when it has none.
  const std::string &message() const noexcept { return Message_.empty() ? Reason_ : Message_; }

  // name, " (", reason, ") ", message: the text the log reports.
  std::string information() const;

  const char *what() const noexcept override { return name(); }

private:
  std::string Reason_;
  std::string Message_;
};

template <std::size_t N> struct Failure_Name {
  constexpr Failure_Name(const char (&Name)[N]) { std::copy_n(Name, N, Text); }
  char Text[N];
};

// A failure type per name: `using Broken = Named_Failure<"WINDOWS.PIPE.BROKEN">;`
template <Failure_Name Name> class Named_Failure : public Failure {
public:
  using Failure::Failure;
  const char *name() const noexcept override { return Name.Text; }
};

// The general range failure: violated range, length and null checks.
using Constraint_Error = Named_Failure<"CONSTRAINT_ERROR">;

// What a catch-all handler can say about the failure in flight. Both throw
// when they cannot describe it (an exception that is not a std::exception).
std::string Information_Of(const std::exception_ptr &Caught);
std::string Name_Of(const std::exception_ptr &Caught);
