#include "engine/External.h"

#include "common/FileReplace.h"
#include "common/TextConvert.h"
#include "engine/backends/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <locale.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zyl {

namespace {

/// How often a waiting call looks at the cancel flag: short enough that Terminate feels
/// immediate, long enough that a long-running program costs no measurable CPU.
constexpr int cancelPollMs = 2;

/// The number must begin within this much of the output file; it bounds what we read from a
/// program that writes far more than one number.
constexpr std::size_t maxOutputRead = 1 << 20;

enum class Outcome { Succeeded, Failed, TimedOut, Cancelled };

bool writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

/// True when `name` is the program itself. Writing the input there, or emptying the output
/// there, would destroy the user's program.
bool isProgramFile(const std::string& name, const struct stat& program)
{
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 && st.st_dev == program.st_dev &&
           st.st_ino == program.st_ino;
}

/// Waits for the program to end, for the timeout, or for `cancel`, whichever comes first.
Outcome waitForProgram(ChildProcess& child, double timeoutSeconds, const std::atomic<bool>& cancel,
                       ErrorEcho& echo, ExitStatus& status)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const bool timed = timeoutSeconds > 0 && std::isfinite(timeoutSeconds);
    for (;;) {
        echo.pass();
        if (cancel.load()) {
            child.kill();
            return Outcome::Cancelled;
        }
        if (child.tryReap(status))
            return status.succeeded() ? Outcome::Succeeded : Outcome::Failed;
        int sliceMs = cancelPollMs;
        if (timed) {
            double left =
                timeoutSeconds - std::chrono::duration<double>(Clock::now() - start).count();
            if (left <= 0) {
                child.kill();
                return Outcome::TimedOut;
            }
            if (left * 1000 < sliceMs)
                sliceMs = static_cast<int>(left * 1000) + 1;
        }
        waitForAny({&child}, sliceMs);
    }
}

} // namespace

/// O_NONBLOCK keeps a FIFO given as a file name from hanging us: opening one without a partner
/// fails (writing) or reads as empty (reading) instead of waiting for ever.
bool writeInputFile(const std::string& name, const std::string& text)
{
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, text);
    const int error = errno;
    if (::close(fd) != 0)
        return false;
    errno = error;
    return written;
}

std::string inputText(const ExternalProgram& program, const Indiv& ind)
{
    if (program.inputNames.empty())
        return ind.lineText();
    std::string text;
    for (int j = 0; j < ind.count(); ++j) {
        if (j > 0)
            text += '\n';
        text += j < static_cast<int>(program.inputNames.size()) ? program.inputNames[j] : "";
        text += '=';
        text += realToExactText(ind.gene(j) ? ind.gene(j)->getValue() : 0.0);
    }
    return text;
}

std::string lastLines(std::string_view text, int lines, std::size_t width)
{
    // Lines that a progress bar rewrites in place end in a carriage return.
    std::vector<std::string_view> found;
    std::size_t end = text.size();
    while (end > 0 && static_cast<int>(found.size()) < lines) {
        const std::size_t from = text.find_last_of("\n\r", end - 1);
        const std::size_t begin = from == std::string_view::npos ? 0 : from + 1;
        const std::string_view line = text.substr(begin, end - begin);
        if (line.find_first_not_of(" \t") != std::string_view::npos)
            found.push_back(line);
        if (from == std::string_view::npos)
            break;
        end = from;
    }
    std::string out;
    for (auto it = found.rbegin(); it != found.rend(); ++it) {
        std::string_view line = *it;
        bool cut = false;
        if (line.size() > width) {
            // Not inside a character of several bytes.
            std::size_t at = width;
            while (at > 0 && (static_cast<unsigned char>(line[at]) & 0xC0) == 0x80)
                --at;
            line = line.substr(0, at);
            cut = true;
        }
        out += "  ";
        for (char c : line)
            out += static_cast<unsigned char>(c) < 0x20 && c != '\t' ? '?' : c;
        out += cut ? "...\n" : "\n";
    }
    return out;
}

std::string endOfFile(const std::string& name)
{
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0)
        return "";
    struct stat st {};
    std::string text;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const off_t from = std::max<off_t>(0, st.st_size - (1 << 16));
        text.resize(static_cast<std::size_t>(st.st_size - from));
        const ssize_t n = ::pread(fd, text.data(), text.size(), from);
        text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    ::close(fd);
    return text;
}

std::string lastWords(const std::string& heading, std::string_view text)
{
    const std::string lines = lastLines(text);
    if (lines.empty())
        return "";
    return heading + "\n" + lines.substr(0, lines.size() - 1);
}

namespace {
/// The file's first MiB; nothing when it cannot be opened.
std::optional<std::string> readOutputText(const std::string& name)
{
    std::string text;
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    char chunk[4096];
    while (text.size() < maxOutputRead) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}
} // namespace

std::optional<double> readOutputFile(const std::string& name)
{
    const std::optional<std::string> text = readOutputText(name);
    return text ? parseOutputValue(*text) : std::nullopt;
}

OutputValues parseOutputValues(std::string_view text, int constraints, int objectives)
{
    OutputValues out;
    out.value = parseOutputValue(text);
    const int further = std::max(objectives - 1, 0);
    if (constraints <= 0 && objectives <= 0)
        return out;
    if (objectives > 0 && out.value)
        out.objectives.push_back(*out.value);
    constexpr std::string_view blanks = " \t\n\v\f\r";
    std::size_t at = text.find_first_not_of(blanks);
    at = at == std::string_view::npos ? text.size() : text.find_first_of(blanks, at);
    // The objective values after the first, then the constraint values, one token each.
    for (int t = 1; t <= further + std::max(constraints, 0); ++t) {
        const bool objective = t <= further;
        const int number = objective ? t + 1 : t - further;
        const int total = objective ? objectives : constraints;
        const std::string kind = objective ? "objective" : "constraint";
        const std::size_t from =
            at == std::string_view::npos ? std::string_view::npos : text.find_first_not_of(blanks, at);
        if (from == std::string_view::npos) {
            out.problem = "output holds " + std::to_string(number - 1) + " of " +
                          std::to_string(total) + " " + kind + " values";
            return out;
        }
        at = text.find_first_of(blanks, from);
        const std::string_view token = text.substr(from, at == std::string_view::npos
                                                             ? std::string_view::npos
                                                             : at - from);
        const std::optional<double> value = parseOutputValue(token);
        if (!value || std::isnan(*value)) {
            out.problem = kind + " value " + std::to_string(number) + " of the output is " +
                          (value ? "NaN" : "not a number");
            return out;
        }
        (objective ? out.objectives : out.constraints).push_back(*value);
    }
    return out;
}

OutputValues readOutputValues(const std::string& name, int constraints, int objectives)
{
    const std::optional<std::string> text = readOutputText(name);
    if (!text)
        return {};
    return parseOutputValues(*text, constraints, objectives);
}

/// Empties a stale output file. Only regular files: a device or FIFO named here is left alone.
void clearOutputFile(const std::string& name)
{
    struct stat st {};
    if (!name.empty() && ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        (void)::truncate(name.c_str(), 0);
}

bool namesTheProgram(const ExternalProgram& program)
{
    struct stat self {};
    return ::stat(program.externalName.c_str(), &self) == 0 &&
           (isProgramFile(program.inputName, self) || isProgramFile(program.outputName, self));
}

std::optional<double> parseOutputValue(std::string_view text)
{
    std::size_t i = text.find_first_not_of(" \t\n\v\f\r");
    if (i == std::string_view::npos)
        return std::nullopt;
    text.remove_prefix(i);
    // from_chars takes no "+"; a second sign after it is no number.
    if (text.front() == '+') {
        text.remove_prefix(1);
        if (text.empty() || text.front() == '-' || text.front() == '+')
            return std::nullopt;
    }
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc())
        return value;
    if (ec != std::errc::result_out_of_range)
        return std::nullopt;
    // from_chars leaves the value alone when the magnitude does not fit; strtod says which way
    // it fell. The C locale keeps the point a decimal point whatever the process locale is.
    static const locale_t cLocale = ::newlocale(LC_NUMERIC_MASK, "C", locale_t{});
    if (!cLocale)
        return std::nullopt;
    std::string number(text.data(), end);
    return ::strtod_l(number.c_str(), nullptr, cLocale);
}

bool evaluateExternal(const ExternalProgram& program, Indiv& ind, const std::atomic<bool>& cancel,
                      bool* timedOut, ExternalFailure* why)
{
    if (timedOut)
        *timedOut = false;
    if (why)
        *why = {};
    std::string reason;
    const bool succeeded = [&] {
        if (cancel.load())
            return false;
        if (namesTheProgram(program)) {
            reason = "the input or output file is the program itself";
            return false;
        }
        clearOutputFile(program.outputName);
        // Without the input file the program would read stale or no variables: never start it.
        if (!writeInputFile(program.inputName, inputText(program, ind) + "\n")) {
            reason = "cannot write the input file \"" + program.inputName +
                     "\": " + systemMessage(errno);
            return false;
        }
        Launch launch;
        launch.argv = {program.externalName, program.inputName, program.outputName};
        ChildProcess child;
        ErrorEcho echo;
        const int errorEnd = echo.programEnd();
        if (!child.start(launch, -1, errorEnd)) {
            reason = "cannot start the external program \"" + program.externalName +
                     "\": " + systemMessage(child.startError());
            return false;
        }
        echo.started();
        ExitStatus status;
        const Outcome outcome = waitForProgram(child, program.timeoutSeconds, cancel, echo, status);
        echo.finish();
        // The program ran in a process of its own, so its floating-point settings ended with
        // it; ours need no resetting.
        if (outcome == Outcome::Cancelled)
            return false;
        if (timedOut)
            *timedOut = outcome == Outcome::TimedOut;
        if (outcome == Outcome::TimedOut)
            reason = "past external_timeout (" + realToText(program.timeoutSeconds) + " s)";
        else if (outcome == Outcome::Failed)
            reason = status.text();
        OutputValues output = readOutputValues(program.outputName, program);
        const std::optional<double>& value = output.value;
        // NaN is no objective value: it would poison the statistics and every comparison.
        if (value && std::isnan(*value)) {
            if (reason.empty())
                reason = "output is NaN";
        } else if (value) {
            ind.value = *value;
        }
        if ((program.constraints > 0 || program.objectives > 0) && reason.empty()) {
            if (!value)
                reason = "output is not a number";
            else if (!output.problem.empty())
                reason = output.problem;
            else {
                ind.constraints = std::move(output.constraints);
                ind.objectives = std::move(output.objectives);
            }
        }
        if (why && !reason.empty())
            why->words = lastWords("Its standard error ended with:", echo.kept());
        return reason.empty();
    }();
    if (why)
        why->reason = reason;
    return succeeded;
}

} // namespace zyl
