#pragma once

#include <exception>
#include <string>
#include <string_view>

// The two ways any code writes to the diagnostic log. Neither ever fails or
// writes to the console; both do nothing while the log is off.
namespace Log {

// One record of the log.
void Put(std::string_view Message) noexcept;

// One record of the log: Prefix, then Message; nothing is joined for a log
// that is off.
void Put(std::string_view Prefix, std::string_view Message) noexcept;

// One record describing a failure caught at Where:
// "Where: Exception = " and the failure's information text, or its name when
// that cannot be produced, or "Where: Unknown Exception".
void Report(std::string_view Where, const std::exception_ptr &Caught) noexcept;

// Before the caller blocks: every record put so far goes to the file, so a
// run killed while it waits leaves them all. Writes nothing when nothing is
// buffered; never fails.
void Flush() noexcept;

// Opens the log from the registry's settings and writes its header, once per
// process, at start-up. Fails only when the module holding the logging code
// cannot be found (WINDOWS.NO_MODULE_INFORMATION).
void Start_Log(bool Flush_Each);

// Writes out the buffered records and closes the log, at program end.
void Finalise() noexcept;

// The message Report puts.
std::string Report_Message(std::string_view Where, const std::exception_ptr &Caught) noexcept;

} // namespace Log
