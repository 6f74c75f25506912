#pragma once

#include "engine/Indiv.h"

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zyl {

/// The external objective program of a task and the two files through which it talks to us.
/// Relative names are taken relative to the current directory; the program is not looked up
/// in PATH.
struct ExternalProgram {
    /// File into which the variables are written.
    std::string inputName;
    /// The program to run (a binary, or a script with a "#!" line).
    std::string externalName;
    /// File from which the objective value is read back.
    std::string outputName;
    /// Longest run allowed, in seconds (the script key external_timeout); 0, a negative value,
    /// infinity or NaN let the program run as long as it takes.
    double timeoutSeconds = 0;
    /// Constraint values the output file holds after the objective value (FUNCTION
    /// external_constraints).
    int constraints = 0;
    /// The variables' names when the input file holds one "name=value" line per variable
    /// (FUNCTION input_by_name); empty: the values on one line (Indiv::lineText).
    std::vector<std::string> inputNames = {};
    /// An exit status by which the program says that its design is not to be run again
    /// (FUNCTION no_retry_status): the evaluation fails at once, its retries unspent. 0: none.
    int noRetryStatus = 0;
    /// In a task with several objectives, the objective values the output file begins with
    /// (FUNCTION external_objectives; the first is the value), before its constraint values;
    /// 0 in a task with one objective.
    int objectives = 0;
};

/// What the input file holds for `ind`, without its last line end: the line form, or one
/// "name=value" line per variable, each value with every digit it has (realToExactText).
std::string inputText(const ExternalProgram& program, const Indiv& ind);

/// The last lines of a program's words that hold anything, for a failure's message: at most
/// `lines` of them, each cut to `width` bytes (a cut ends in "..."), control characters
/// shown as "?", each indented by two blanks and ended by a line end. Empty when there are none.
std::string lastLines(std::string_view text, int lines = 5, std::size_t width = 160);
/// The end of a file (its last 64 KiB), for lastWords; empty when it cannot be read.
std::string endOfFile(const std::string& name);

/// What an output file gives: the objective value (see parseOutputValue) and, when asked for,
/// the further objective values and the constraint values that follow it, each a
/// whitespace-separated number.
struct OutputValues {
    std::optional<double> value;
    std::vector<double> constraints;
    /// When several objective values were asked for: all of them, `value` first.
    std::vector<double> objectives;
    /// Why the values after the first are no result ("output holds 1 of 2 constraint values",
    /// "constraint value 2 of the output is NaN", "output holds 1 of 3 objective values", ...);
    /// empty when they are all there, or none was asked for.
    std::string problem;
};

/// Evaluates `ind` by the external program, on the calling thread.
///
/// 1. A regular file at outputName is emptied, so that a program that writes nothing cannot
///    hand back the value of the previous individual.
/// 2. inputName receives inputText() and "\n" and is closed.
/// 3. externalName is started without a shell, argv = {externalName, inputName, outputName},
///    in a process group of its own, with default signal dispositions, an empty signal mask
///    and standard input from /dev/null. What it writes on its standard error is passed on to
///    ours as it comes (see ErrorEcho). The call waits for it without spinning.
/// 4. Unless cancelled, one real is read from outputName into ind.value (see parseOutputValue);
///    when the file is missing or does not begin with a number, ind.value is left unchanged.
///    With program.objectives, that many objective values (the first of them the value) go
///    into ind.objectives, and with program.constraints, that many constraint values follow
///    into ind.constraints; one missing, unreadable or NaN fails the call.
///    A NaN is no value: ind.value is left unchanged and the call fails; "inf" and "-inf" are
///    values.
///
/// Returns true when the program ran and exited with status 0. Returns false, touching no
/// file, when inputName or outputName names the program file itself. Returns false when the
/// input file cannot be written (the program is then not started), the program is missing or
/// cannot start, exits non-zero, dies on a signal, runs past the timeout (its whole process group
/// is killed), leaves a NaN as its output, or `cancel` is true when the call begins or becomes
/// true while the program runs (the group is killed at once, and the output file is not read).
/// The caller tells a cancellation from a failure by testing `cancel`. A killed program is always
/// reaped. ind.evaluated is not touched. `timedOut`, when given, tells whether the timeout
/// ended the program. `why`, when given, tells why the call failed (empty otherwise).
bool evaluateExternal(const ExternalProgram& program, Indiv& ind, const std::atomic<bool>& cancel,
                      bool* timedOut = nullptr, struct ExternalFailure* why = nullptr);

/// Why an evaluation failed, for its message.
struct ExternalFailure {
    /// "exit code 3", "cannot start the external program \"x\": No such file or directory",
    /// "output holds 0 of 2 constraint values", ...
    std::string reason;
    /// The program's last words (lastWords), or empty.
    std::string words;
};

/// The text that stands first in the message of every failed external evaluation.
inline constexpr const char* externalProblem = "A problem with external program.";

/// `heading` ("Its standard error ended with:") and lastLines(text) below it, or empty when
/// the text holds no line.
std::string lastWords(const std::string& heading, std::string_view text);

/// The number at the beginning of an external program's output: leading white space skipped,
/// an optional sign, then any decimal or exponent form, read the same in every locale; "inf",
/// "infinity" and "nan" (any letter case) give those values, and a number too large or too
/// small for a double gives +-inf or +-0. Whatever follows the number is ignored ("  3.5e2\n"
/// and "350 apples" give 350). Nothing when the text does not begin with a number.
std::optional<double> parseOutputValue(std::string_view text);

// The steps of an evaluation, shared with the evaluation backends.

/// True when the input or the output file is the program file itself (writing the input there,
/// or emptying the output there, would destroy the user's program).
bool namesTheProgram(const ExternalProgram& program);
/// Empties a stale output file, so that a program that writes nothing cannot hand back the
/// value of the previous individual. Only a regular file: a device or FIFO is left alone.
void clearOutputFile(const std::string& name);
/// Creates or truncates `name` and writes `text`; false, with errno set, when it cannot. A
/// FIFO without a reader fails at once instead of blocking.
bool writeInputFile(const std::string& name, const std::string& text);
/// parseOutputValue of the file's first MiB; nothing when it cannot be opened.
std::optional<double> readOutputFile(const std::string& name);
/// The objective value, then `objectives` objective values in all when there are several, then
/// `constraints` constraint values, from the text of an output file.
OutputValues parseOutputValues(std::string_view text, int constraints, int objectives = 0);
/// parseOutputValues of the file's first MiB; no value when it cannot be opened.
OutputValues readOutputValues(const std::string& name, int constraints, int objectives = 0);
/// readOutputValues with the counts of `program`.
inline OutputValues readOutputValues(const std::string& name, const ExternalProgram& program)
{
    return readOutputValues(name, program.constraints, program.objectives);
}

} // namespace zyl
