#include "script/ScriptOverrides.h"

#include "common/Exception.h"
#include "script/KnownNames.h"

#include <algorithm>

namespace zyl {

namespace {

// The argument as a message shows it on one line.
std::string shown(std::string_view argument)
{
    std::string text;
    for (char c : argument)
        text += c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r") : std::string(1, c);
    return text;
}

[[noreturn]] void malformed(std::string_view argument, const std::string& reason)
{
    throw Exception("--set \"" + shown(argument) + "\" is not SECTION.key=value: " + reason);
}

// Two overrides of one key, whatever the case of its letters.
bool sameKey(const ScriptOverride& a, const ScriptOverride& b)
{
    return sameScriptName(a.section, b.section) && sameScriptName(a.key, b.key);
}

} // namespace

std::string ScriptOverride::text() const
{
    return section + "." + key + "=" + value;
}

bool ScriptOverride::operator==(const ScriptOverride& other) const
{
    return sameKey(*this, other) && value == other.value;
}

ScriptOverride parseOverride(std::string_view argument)
{
    if (argument.find_first_of("\r\n") != std::string_view::npos)
        malformed(argument, "it holds a line break");
    const std::size_t equals = argument.find('=');
    if (equals == std::string_view::npos)
        malformed(argument, "no \"=\" after the key");
    const std::size_t dot = argument.find('.');
    if (dot == std::string_view::npos || dot > equals)
        malformed(argument, "no \".\" between the section and the key");
    // Read as the lines of a script are, so that the entry means what it would there.
    const std::string section(argument.substr(0, dot));
    const std::string line(argument.substr(dot + 1));
    ProjectScript script = ProjectScript::fromText("[" + section + "]\n" + line + "\n");
    script.StripBlanks();
    const std::vector<std::string> sections = script.sectionNames();
    if (sections.size() != 1 || sections.front().empty())
        malformed(argument, "no section");
    ScriptOverride result;
    result.section = sections.front();
    const std::vector<std::string> keys = script.ReadSection(result.section);
    if (keys.size() != 1)
        malformed(argument, "it would not read back as one entry of [" + result.section + "]");
    if (keys.front().empty())
        malformed(argument, "no key");
    result.key = keys.front();
    result.value = script.ReadString(result.section, result.key, "");
    return result;
}

std::vector<ScriptOverride> parseOverrides(const std::vector<std::string>& arguments)
{
    std::vector<ScriptOverride> overrides;
    for (const std::string& argument : arguments) {
        ScriptOverride parsed = parseOverride(argument);
        if (std::any_of(overrides.begin(), overrides.end(),
                        [&](const ScriptOverride& o) { return sameKey(o, parsed); }))
            throw Exception("--set " + parsed.section + "." + parsed.key + " is given twice");
        overrides.push_back(std::move(parsed));
    }
    return overrides;
}

void applyOverrides(ProjectScript& script, const std::vector<ScriptOverride>& overrides)
{
    for (const ScriptOverride& o : overrides)
        script.WriteString(o.section, o.key, o.value);
}

std::vector<std::string> overrideNotices(const std::vector<ScriptOverride>& overrides)
{
    std::vector<std::string> notices;
    for (const ScriptOverride& o : overrides) {
        ProjectScript alone;
        alone.WriteString(o.section, o.key, o.value);
        for (const std::string& notice : unknownNameNotices(alone))
            notices.push_back("--set " + o.text() + ": " + notice);
    }
    return notices;
}

bool sameOverrides(const std::vector<ScriptOverride>& a, const std::vector<ScriptOverride>& b)
{
    // Neither list sets a key twice (parseOverrides), so equal sizes and every one of a in b
    // make the same sets.
    return a.size() == b.size() && std::all_of(a.begin(), a.end(), [&b](const ScriptOverride& o) {
               return std::find(b.begin(), b.end(), o) != b.end();
           });
}

std::string overridesText(const std::vector<ScriptOverride>& overrides)
{
    std::string text;
    for (const ScriptOverride& o : overrides)
        text += o.text() + "\n";
    return text;
}

std::vector<ScriptOverride> overridesFromText(std::string_view text)
{
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.emplace_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return parseOverrides(lines);
}

std::string overridesCommand(const std::vector<ScriptOverride>& overrides)
{
    if (overrides.empty())
        return "no --set";
    std::string text;
    for (const ScriptOverride& o : overrides)
        text += (text.empty() ? "--set " : " --set ") + o.text();
    return text;
}

} // namespace zyl
