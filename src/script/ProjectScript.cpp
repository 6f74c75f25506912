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
    if (text.substr(0, bom.size()) == bom)
        text.remove_prefix(bom.size());
    ProjectScript script;
    forEachLine(text, [&](std::string line) { parseLine(script.m_sections, std::move(line)); });
    return script;
}

void ProjectScript::parseLine(std::vector<Section>& sections, std::string line)
{
    if (line.empty() || line.front() == ';')
        return;
    if (isHeader(line)) {
        sections.push_back(Section{line.substr(1, line.size() - 2), {}});
        return;
    }
    if (!sections.empty())
        sections.back().lines.push_back(std::move(line));
}

void ProjectScript::StripBlanks()
{
    std::vector<Section> stripped;
    for (const Section& section : m_sections) {
        parseLine(stripped, stripLine("[" + section.name + "]"));
        for (const std::string& line : section.lines)
            parseLine(stripped, stripLine(line));
    }
    m_sections = std::move(stripped);
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

void ProjectScript::UpdateFile() const
{
    if (m_fileName.empty())
        throw Exception("Cannot save the project script: it has no file name.");
    auto failure = [this](const std::string& reason) {
        return Exception("Cannot save the project script \"" + m_fileName + "\": " + reason);
    };

    if (auto reason = replaceFileContent(m_fileName, text()))
        throw failure(*reason);
}

} // namespace zyl
