#pragma once
#include <string>
#include <string_view>

#include "archive/base/failure_reason.h"

// Exit statuses of the program.
constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

// "quarnel-cli: error CODE: TEXT (explanation)". A positive code is the system's error
// number and gets the system's message; a result code gets the program's own text.
void reportError(int code, const std::string& explanation);
// reportError with `context` (what was being done) followed by the code's own explanation.
void reportResult(int code, const std::string& context);
// "quarnel-cli: error: explanation", for failures that have no code.
void reportFailure(const std::string& explanation);
// A usage error, with a hint where the help is.
void reportUsage(const std::string& problem, const std::string& command);

// The words of a result code ("damaged data"; "" for codes without one).
std::string resultWords(int code);
// A short English explanation of a result code ("" for codes without one).
const char* explainResult(int code);

// The reason on one line of English: "cannot write data\x.bmp: No space left on device"; the
// result code's explanation when the reason knows no more than its code.
std::string explainReason(const FailureReason& reason);
// reportResult for a full reason: "quarnel-cli: error N: CAUSE (context: cannot OP SUBJECT)",
// N being the system's error number where there is one. A bare code reads as reportResult.
void reportReason(const FailureReason& reason, const std::string& context);
// "quarnel-cli: warning: text", for an outcome that is still a success.
void reportWarning(const std::string& text);
// What a reason's subject is called on this system: an entry name as it is, a path as the
// system spells it.
std::string shownSubject(const FailureReason& reason);
