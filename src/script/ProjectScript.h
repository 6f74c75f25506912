#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zyl {

/// Whether two section names, or two keys, are the same to a script: without regard to ASCII
/// letter case.
bool sameScriptName(std::string_view a, std::string_view b);

/// The in-memory project script: ordered sections of key=value lines in INI form, with typed
/// reads and writes. Section names and keys are compared without regard to ASCII letter case;
/// when a name occurs twice the first section, and within it the first entry, wins.
///
/// Text is handled as 8-bit bytes and passed through unchanged, so UTF-8 names survive; a
/// UTF-8 byte-order mark at the start of a file is skipped. Numbers are read and written with
/// "." whatever the process locale. The method names follow the INI operations that the other
/// parts of the program call.
class ProjectScript {
public:
    /// An empty script not connected to a file.
    ProjectScript() = default;
    /// A script with the given file name; if the file exists it is read (blank and ";" lines
    /// skipped, "[name]" lines open sections, other lines kept verbatim, lines before the first
    /// section ignored). A missing file gives an empty script.
    /// \throws Exception when the file exists but cannot be read.
    explicit ProjectScript(std::string fileName);
    /// A script read from `text` by the same rules, not connected to a file.
    static ProjectScript fromText(std::string_view text);

    const std::string& fileName() const { return m_fileName; }
    /// Sets the file name without reading anything.
    void SetFileName(std::string fileName) { m_fileName = std::move(fileName); }

    /// Removes every space and tab from every line (and control characters at both ends) and
    /// parses the result again, so names, keys and values never contain blanks. A header that
    /// only became one through the stripping ("[SHOW] ") now opens its section. The lines as
    /// they were read stay behind for fileText().
    void StripBlanks();

    /// The value verbatim, or `def` when the section or key is absent.
    std::string ReadString(std::string_view section, std::string_view key,
                           const std::string& def) const;
    /// Decimal with optional sign, or hexadecimal after "0x"/"0X"; `def` when absent or not a
    /// 32-bit integer.
    int ReadInteger(std::string_view section, std::string_view key, int def) const;
    /// An integer, non-zero being true; `def` when absent or not an integer ("true" included).
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;
    /// A decimal real with "."; `def` when absent, empty or not a number.
    double ReadFloat(std::string_view section, std::string_view key, double def) const;

    /// The keys of the section's entries in order (an empty key for an entry without "=");
    /// an absent section gives an empty list.
    std::vector<std::string> ReadSection(std::string_view section) const;
    /// Whether ReadSection(section) contains `key` (ignoring case).
    bool HasKey(std::string_view section, std::string_view key) const;
    /// The section names in file (creation) order, repeated ones included.
    std::vector<std::string> sectionNames() const;

    /// Replaces the line of the first entry with the key in place, or appends key=value to the
    /// section, which is created after all others when absent.
    /// \throws Exception when the line would not read back as the same entry (a line break
    /// anywhere, "=" in the key, a key starting with ";", a line shaped like "[...]"); the
    /// script is then unchanged.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    /// Written in decimal.
    void WriteInteger(std::string_view section, std::string_view key, int value);
    /// Written as "1" or "0".
    void WriteBool(std::string_view section, std::string_view key, bool value);
    /// Written in the shortest general form with at most 15 significant digits.
    void WriteFloat(std::string_view section, std::string_view key, double value);

    /// The script in its plain form: each section as "[name]", its lines, then an empty line,
    /// every line ended by CR LF.
    std::string text() const;
    /// The content UpdateFile writes. A script made in memory is its text(). A script read from
    /// text keeps that text's layout: its comments, blank lines and stray lines stay where they
    /// were, an entry the script still holds as read keeps its line as written (blanks
    /// included), a changed entry is written in place as key=value, a new entry follows the
    /// last entry of its section, and a new section comes at the end; lines end as the text's
    /// first line did.
    std::string fileText() const;
    /// Writes fileText() to the file. The content goes to a temporary file beside the target,
    /// which then replaces the target, so a failed save leaves the old file as it was.
    /// \throws Exception when there is no file name or the file cannot be written.
    void UpdateFile() const;

private:
    struct Section {
        std::string name;
        std::vector<std::string> lines;
    };

    /// A line of the text the script was read from. `section` is -1 for a line that reading
    /// passed over (a comment, a blank line, a line before the first section); `entry` is -1
    /// for the section's header. `asRead` is the entry's line as reading stored it.
    struct SourceLine {
        std::string raw;
        std::string asRead;
        int section = -1;
        int entry = -1;
    };

    /// Where parseLine put a line: its section and entry (-1 for a header), or section -1.
    struct Place {
        int section = -1;
        int entry = -1;
    };

    /// Rules for one line of text; entries before the first section are dropped.
    static Place parseLine(std::vector<Section>& sections, std::string line);
    /// The whole content in the order fileText() writes it, as source lines; those the text
    /// did not hold (new entries and sections) are their own raw text.
    std::vector<SourceLine> arranged() const;
    const Section* findSection(std::string_view name) const;
    Section* findSection(std::string_view name);
    /// The line of the first entry with the key and a "=", or nullptr.
    const std::string* findLine(std::string_view section, std::string_view key) const;

    std::string m_fileName;
    std::vector<Section> m_sections;
    /// The layout of the text the script was read from; empty for a script made in memory.
    std::vector<SourceLine> m_source;
    std::string m_lineEnd = "\r\n";
    bool m_byteOrderMark = false;
};

} // namespace zyl
