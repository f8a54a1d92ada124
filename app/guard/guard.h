// The guard shared by every guarded procedure, and the "Application Error" report.
//
// A guarded procedure names itself with a location tag, sets its current line before each
// numbered step and runs the step under the guard. A step that throws is reported (the
// exception's what() is the description) and the procedure goes on with the next
// statement. Routines without a guard simply let their exceptions travel up to the step
// that called them.
#pragma once

#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

namespace app {

// Where screenshots of an error report should be sent.
inline constexpr const char* kSupportAddress = "support@tamberlin.varnholt.example";

// The report text, byte for byte: description, CR LF, tag, "at line ", line, CR CR, request.
std::string ComposeErrorMessage(const std::string& description, const std::string& tag, int line);

// Shows (or, in tests, records) one error report and returns when it is dismissed.
class ErrorReporter {
  public:
    virtual ~ErrorReporter() = default;
    virtual void report(const std::string& description, const std::string& tag, int line) = 0;
};

// The reporter guarded procedures use. Until one is set, reports go to standard error.
ErrorReporter& errorReporter();
void setErrorReporter(ErrorReporter* reporter);

// Test seam: called before every numbered step with (tag, line); a hook that throws makes
// that step fail as if the step itself had thrown.
using StepHook = std::function<void(const std::string& tag, int line)>;
void setStepHook(StepHook hook);

class Guard {
  public:
    explicit Guard(std::string tag) : tag_(std::move(tag)) {}

    const std::string& tag() const { return tag_; }
    int line() const { return line_; }

    // Sets the current line and runs one statement; a failure is reported and swallowed.
    template <class F> void step(int line, F&& statement) {
        line_ = line;
        try {
            beforeStep();
            statement();
        } catch (const std::exception& e) {
            reportFailure(e.what());
        } catch (...) {
            reportFailure("Unknown error");
        }
    }

    // A condition's test: its value, or true when evaluating it failed, so that the
    // condition's body runs next.
    template <class F> bool test(int line, F&& condition) {
        line_ = line;
        try {
            beforeStep();
            return static_cast<bool>(condition());
        } catch (const std::exception& e) {
            reportFailure(e.what());
        } catch (...) {
            reportFailure("Unknown error");
        }
        return true;
    }

    // Runs code that carries no line number of its own (set-up before the first step);
    // a failure is reported with the current line.
    template <class F> void unnumbered(F&& statement) {
        try {
            statement();
        } catch (const std::exception& e) {
            reportFailure(e.what());
        } catch (...) {
            reportFailure("Unknown error");
        }
    }

  private:
    void beforeStep();
    void reportFailure(const char* description);

    std::string tag_;
    int line_ = 0;
};

// Common failure descriptions, worded like the run-time's own.
struct InvalidArgument : std::invalid_argument {
    InvalidArgument() : std::invalid_argument("Invalid procedure call or argument") {}
};
struct SubscriptOutOfRange : std::out_of_range {
    SubscriptOutOfRange() : std::out_of_range("Index out of bounds") {}
};

} // namespace app
