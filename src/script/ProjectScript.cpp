#include "script/ProjectScript.h"

#include "common/Exception.h"
#include "common/FileReplace.h"
#include "common/TextConvert.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <utility>

namespace zyl {

namespace fs = std::filesystem;

namespace {

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// ASCII only: the names are 8-bit text whose other bytes carry no case the program knows of,
// and the process locale must not change which key is found.
bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

bool isHeader(std::string_view line)
{
    return line.size() >= 2 && line.front() == '[' && line.back() == ']';
}

std::string_view keyOf(std::string_view line)
{
    std::size_t eq = line.find('=');
    return eq == std::string_view::npos ? std::string_view() : line.substr(0, eq);
}

/// Splits at LF, CR LF or a lone CR, the line ends that editors on every platform leave.
template <class Fn> void forEachLine(std::string_view text, Fn fn)
{
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            fn(std::string(text.substr(start)));
            return;
        }
        fn(std::string(text.substr(start, end - start)));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
}

std::string stripLine(std::string_view line)
{
    auto isTrimmed = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!line.empty() && isTrimmed(line.front()))
        line.remove_prefix(1);
    while (!line.empty() && isTrimmed(line.back()))
        line.remove_suffix(1);
    std::string out;
    out.reserve(line.size());
    for (char c : line)
        if (c != ' ' && c != '\t')
            out += c;
    return out;
}


} // namespace

bool sameScriptName(std::string_view a, std::string_view b)
{
    return sameName(a, b);
}

ProjectScript::ProjectScript(std::string fileName) : m_fileName(std::move(fileName))
{
    if (m_fileName.empty())
        return;
    fs::path path(m_fileName);
    std::error_code ec;
    fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found)
        return;
    if (ec)
        throw Exception("Cannot read the project script \"" + m_fileName + "\": " + ec.message());
    if (fs::is_directory(status))
        throw Exception("Cannot read the project script \"" + m_fileName + "\": it is a directory");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Exception("Cannot read the project script \"" + m_fileName +
                        "\": " + systemMessage(errno));
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw Exception("Cannot read the project script \"" + m_fileName + "\".");
    *this = fromText(content);
    m_fileName = path.string();
}

ProjectScript ProjectScript::fromText(std::string_view text)
{
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    ProjectScript script;
    if (text.substr(0, bom.size()) == bom) {
        text.remove_prefix(bom.size());
        script.m_byteOrderMark = true;
    }
    // Saving ends its lines as the file did, so that an editor's diff shows only the changes.
    if (const std::size_t end = text.find_first_of("\r\n"); end != std::string_view::npos)
        script.m_lineEnd = text[end] == '\n'                                   ? "\n"
                           : end + 1 < text.size() && text[end + 1] == '\n' ? "\r\n"
                                                                              : "\r";
    forEachLine(text, [&](std::string line) {
        const Place place = parseLine(script.m_sections, line);
        SourceLine source{std::move(line), {}, place.section, place.entry};
        if (place.entry >= 0)
            source.asRead = source.raw;
        script.m_source.push_back(std::move(source));
    });
    return script;
}

ProjectScript::Place ProjectScript::parseLine(std::vector<Section>& sections, std::string line)
{
    if (line.empty() || line.front() == ';')
        return {};
    const int last = static_cast<int>(sections.size()) - 1;
    if (isHeader(line)) {
        sections.push_back(Section{line.substr(1, line.size() - 2), {}});
        return {last + 1, -1};
    }
    if (sections.empty())
        return {};
    std::vector<std::string>& lines = sections.back().lines;
    lines.push_back(std::move(line));
    return {last, static_cast<int>(lines.size()) - 1};
}

void ProjectScript::StripBlanks()
{
    // Only headers and entries are stripped and read again; the lines reading passed over
    // stay as they were, and so does the text each line had in the file, for fileText().
    std::vector<Section> stripped;
    std::vector<SourceLine> source;
    for (SourceLine& line : arranged()) {
        if (line.section < 0) {
            source.push_back(std::move(line));
            continue;
        }
        const Section& section = m_sections[static_cast<std::size_t>(line.section)];
        const std::string current = line.entry < 0
                                        ? "[" + section.name + "]"
                                        : section.lines[static_cast<std::size_t>(line.entry)];
        if (line.entry >= 0 && current != line.asRead)
            line.raw = current;
        const Place place = parseLine(stripped, stripLine(current));
        line.section = place.section;
        line.entry = place.entry;
        line.asRead = place.entry >= 0 ? stripped[static_cast<std::size_t>(place.section)]
                                             .lines[static_cast<std::size_t>(place.entry)]
                                       : std::string();
        source.push_back(std::move(line));
    }
    m_sections = std::move(stripped);
    m_source = std::move(source);
}

const ProjectScript::Section* ProjectScript::findSection(std::string_view name) const
{
    for (const Section& section : m_sections)
        if (sameName(section.name, name))
            return &section;
    return nullptr;
}

ProjectScript::Section* ProjectScript::findSection(std::string_view name)
{
    return const_cast<Section*>(std::as_const(*this).findSection(name));
}

const std::string* ProjectScript::findLine(std::string_view section, std::string_view key) const
{
    const Section* found = findSection(section);
    if (!found)
        return nullptr;
    for (const std::string& line : found->lines)
        if (line.find('=') != std::string::npos && sameName(keyOf(line), key))
            return &line;
    return nullptr;
}

std::string ProjectScript::ReadString(std::string_view section, std::string_view key,
                                      const std::string& def) const
{
    const std::string* line = findLine(section, key);
    return line ? line->substr(line->find('=') + 1) : def;
}

int ProjectScript::ReadInteger(std::string_view section, std::string_view key, int def) const
{
    const std::string* line = findLine(section, key);
    if (!line)
        return def;
    return parseInteger(std::string_view(*line).substr(line->find('=') + 1)).value_or(def);
}

bool ProjectScript::ReadBool(std::string_view section, std::string_view key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

double ProjectScript::ReadFloat(std::string_view section, std::string_view key, double def) const
{
    const std::string* line = findLine(section, key);
    if (!line)
        return def;
    return parseReal(std::string_view(*line).substr(line->find('=') + 1)).value_or(def);
}

std::vector<std::string> ProjectScript::ReadSection(std::string_view section) const
{
    std::vector<std::string> keys;
    if (const Section* found = findSection(section))
        for (const std::string& line : found->lines)
            keys.emplace_back(keyOf(line));
    return keys;
}

bool ProjectScript::HasKey(std::string_view section, std::string_view key) const
{
    for (const std::string& name : ReadSection(section))
        if (sameName(name, key))
            return true;
    return false;
}

std::vector<std::string> ProjectScript::sectionNames() const
{
    std::vector<std::string> names;
    for (const Section& section : m_sections)
        names.push_back(section.name);
    return names;
}

void ProjectScript::WriteString(std::string_view section, std::string_view key,
                                std::string_view value)
{
    std::string line = std::string(key) + "=" + std::string(value);
    // A value that would come back as something else on the next load must not reach the file:
    // a line break would smuggle in lines, "=" in the key would move text into the value, and
    // ";" or "[...]" would turn the entry into a comment or a header.
    bool readsBack = line.find_first_of("\r\n") == std::string::npos &&
                     key.find('=') == std::string_view::npos && line.front() != ';' &&
                     !isHeader(line) && section.find_first_of("\r\n") == std::string_view::npos;
    if (!readsBack)
        throw Exception("Cannot write \"" + line + "\" into section [" + std::string(section) +
                        "] of the project script: it would not read back as written.");
    Section* found = findSection(section);
    if (!found) {
        m_sections.push_back(Section{std::string(section), {}});
        found = &m_sections.back();
    }
    for (std::string& existing : found->lines) {
        if (existing.find('=') != std::string::npos && sameName(keyOf(existing), key)) {
            existing = std::move(line);
            return;
        }
    }
    found->lines.push_back(std::move(line));
}

void ProjectScript::WriteInteger(std::string_view section, std::string_view key, int value)
{
    WriteString(section, key, std::to_string(value));
}

void ProjectScript::WriteBool(std::string_view section, std::string_view key, bool value)
{
    WriteString(section, key, value ? "1" : "0");
}

void ProjectScript::WriteFloat(std::string_view section, std::string_view key, double value)
{
    WriteString(section, key, realToShortText(value));
}

std::string ProjectScript::text() const
{
    std::string out;
    for (const Section& section : m_sections) {
        out += "[" + section.name + "]\r\n";
        for (const std::string& line : section.lines)
            out += line + "\r\n";
        out += "\r\n";
    }
    return out;
}

std::vector<ProjectScript::SourceLine> ProjectScript::arranged() const
{
    // Entries are only ever appended, so a section's entries beyond those the text held, and
    // the sections beyond those it held, are the new ones.
    const std::size_t count = m_sections.size();
    std::vector<std::size_t> held(count, 0);
    std::vector<std::size_t> lastLine(count, m_source.size());
    for (std::size_t i = 0; i < m_source.size(); ++i) {
        const SourceLine& line = m_source[i];
        if (line.section < 0)
            continue;
        lastLine[static_cast<std::size_t>(line.section)] = i;
        if (line.entry >= 0)
            ++held[static_cast<std::size_t>(line.section)];
    }
    std::vector<SourceLine> out;
    out.reserve(m_source.size());
    auto appendEntries = [&](std::size_t s, std::size_t from) {
        const std::vector<std::string>& lines = m_sections[s].lines;
        for (std::size_t e = from; e < lines.size(); ++e)
            out.push_back({lines[e], lines[e], static_cast<int>(s), static_cast<int>(e)});
    };
    for (std::size_t i = 0; i < m_source.size(); ++i) {
        out.push_back(m_source[i]);
        const int s = m_source[i].section;
        if (s >= 0 && lastLine[static_cast<std::size_t>(s)] == i)
            appendEntries(static_cast<std::size_t>(s), held[static_cast<std::size_t>(s)]);
    }
    for (std::size_t s = 0; s < count; ++s) {
        if (lastLine[s] != m_source.size())
            continue;
        // An empty line apart from what comes before, and one after, as text() writes them.
        if (!out.empty() && !(out.back().section < 0 && out.back().raw.empty()))
            out.emplace_back();
        out.push_back({"[" + m_sections[s].name + "]", {}, static_cast<int>(s), -1});
        appendEntries(s, 0);
        out.emplace_back();
    }
    return out;
}

std::string ProjectScript::fileText() const
{
    std::string out = m_byteOrderMark ? "\xEF\xBB\xBF" : "";
    for (const SourceLine& line : arranged()) {
        const std::string* current =
            line.entry >= 0 ? &m_sections[static_cast<std::size_t>(line.section)]
                                   .lines[static_cast<std::size_t>(line.entry)]
                            : nullptr;
        out += current && *current != line.asRead ? *current : line.raw;
        out += m_lineEnd;
    }
    return out;
}

void ProjectScript::UpdateFile() const
{
    if (m_fileName.empty())
        throw Exception("Cannot save the project script: it has no file name.");
    auto failure = [this](const std::string& reason) {
        return Exception("Cannot save the project script \"" + m_fileName + "\": " + reason);
    };

    if (auto reason = replaceFileContent(m_fileName, fileText()))
        throw failure(*reason);
}

} // namespace zyl
