// What an operation that can fail gives back: its value, or the exact message that the
// program stops with (or, for a command line, what is wrong with it). Every layer uses it; the
// engine never stops the program itself: only the program (app/) turns a message into a stop.
#pragma once

#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace empricer {

// What kind of failure a message reports: the Python module maps the kind (never the words)
// to its exception, and empricer-dist the kind to its exit status (text/exit_status.h).
enum class FailureKind {
  badInput,     // an input's content cannot be used (the default)
  cannotOpen,   // a file cannot be opened (or made)
  cannotRead,   // a file opened but cannot be read
  cannotWrite,  // a file or standard output cannot be written
  stopped,      // the run was asked to stop (a signal, an interrupt)
  cannotCompute,  // the input reads, but what it asks for has no solution (a tilt no weight
                  // reaches)
  refused,        // an input a run must not start on, refused before any work (status 2)
};

struct Failure {
  std::string message;
  FailureKind kind = FailureKind::badInput;
};

// The messages of the stops that every layer shares, each family made by one function and
// with its kind.

// "Error opening file: " and the name as it was opened.
inline Failure openFailure(std::string_view fileName) {
  return Failure{"Error opening file: " + std::string(fileName), FailureKind::cannotOpen};
}

// "Error reading file: " and the name as it was opened, then ": " and `what` when it says more
// (where in the file, and what there cannot be read).
inline Failure readFailure(std::string_view fileName, std::string_view what = {}) {
  std::string message = "Error reading file: " + std::string(fileName);
  if (!what.empty()) message += ": " + std::string(what);
  return Failure{std::move(message), FailureKind::cannotRead};
}

// "Error writing file: " and the name as it was opened: the message a run stops with when a
// file it writes fails.
inline std::string writeFailureText(std::string_view fileName) {
  return "Error writing file: " + std::string(fileName);
}
// That message as a failure.
inline Failure writeFailure(std::string_view fileName) {
  return Failure{writeFailureText(fileName), FailureKind::cannotWrite};
}

// The failure of standard output with the errno value `error`: "empricer: standard output: "
// and the system's reason ("No space left on device").
inline Failure standardOutputFailure(int error) {
  return Failure{std::string("empricer: standard output: ") + std::strerror(error),
                 FailureKind::cannotWrite};
}

// "Error in ", the name as it was opened, ": " and what is wrong with the file's content.
inline Failure contentFailure(std::string_view fileName, std::string_view what) {
  return Failure{"Error in " + std::string(fileName) + ": " + std::string(what)};
}

// A run stopped on request (an interrupt from the Python module's caller, say).
inline Failure stoppedFailure() { return Failure{"empricer: stopped", FailureKind::stopped}; }

// Success, or a failure with its message.
class [[nodiscard]] Status {
  inline static const std::string kNoMessage;

 public:
  Status() = default;
  Status(Failure failure) : failure_(std::move(failure)) {}  // NOLINT: implicit on purpose
  bool ok() const { return !failure_.has_value(); }
  // The failure's message; empty for success.
  const std::string& message() const { return failure_ ? failure_->message : kNoMessage; }
  // The failure's kind; badInput for success (look at ok() first).
  FailureKind kind() const { return failure_ ? failure_->kind : FailureKind::badInput; }

 private:
  std::optional<Failure> failure_;
};

// A value, or a failure with its message.
template <typename T>
class [[nodiscard]] Outcome {
 public:
  Outcome(T value) : content_(std::move(value)) {}        // NOLINT: implicit on purpose
  Outcome(Failure failure) : content_(std::move(failure)) {}  // NOLINT: implicit on purpose
  bool ok() const { return content_.index() == 0; }
  T& value() { return std::get<0>(content_); }
  const T& value() const { return std::get<0>(content_); }
  const std::string& message() const { return std::get<1>(content_).message; }
  FailureKind kind() const { return std::get<1>(content_).kind; }
  // The failure as a Status, to hand on.
  Status status() const { return ok() ? Status{} : Status{std::get<1>(content_)}; }

 private:
  std::variant<T, Failure> content_;
};

// The failure of `failed` (a Status or an Outcome that is not ok), with its message and kind,
// to hand on from a function that gives back an Outcome of another type:
// `if (!read.ok()) return failureOf(read);`.
template <typename Result>
Failure failureOf(const Result& failed) {
  return Failure{failed.message(), failed.kind()};
}

}  // namespace empricer
