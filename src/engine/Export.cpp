#include "engine/Export.h"

#include "common/Exception.h"
#include "common/FileReplace.h"
#include "common/TextConvert.h"
#include "expr/Evaluator.h"
#include "expr/Printer.h"
#include "expr/Statement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <random>
#include <system_error>
#include <vector>

namespace zyl {

namespace fs = std::filesystem;

namespace {

Exception fileFailure(const std::string& fileName, const std::string& reason)
{
    return Exception("Cannot write the export file \"" + fileName + "\": " + reason);
}

std::string definitionText(const Tensor& definition, SymbolTable& table)
{
    if (nestingDepth(definition) != 0)
        return printToString(*evaluate(definition, table));
    return realToText(evaluateNumeric(definition, table).re);
}

void appendToFile(const std::string& fileName, const std::string& content)
{
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        throw fileFailure(fileName, systemMessage(errno));
    struct stat before {};
    const bool regular = ::fstat(fd, &before) == 0 && S_ISREG(before.st_mode);
    int error = 0;
    for (std::size_t done = 0; done < content.size() && error == 0;) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n == 0)
            error = EIO;
        else if (errno != EINTR)
            error = errno;
    }
    // A file that took only part of the row is cut back: a reader, the next row and a run
    // store that records what the file holds all count on whole rows.
    if (error != 0 && regular)
        (void)!::ftruncate(fd, before.st_size);
    if (::close(fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    if (error != 0)
        throw fileFailure(fileName, systemMessage(error));
}

void replaceFile(const std::string& fileName, const std::string& content)
{
    if (auto reason = replaceFileContent(fileName, content))
        throw fileFailure(fileName, *reason);
}

} // namespace

std::string exportColumnText(const std::string& text, SymbolTable& table)
{
    if (const Funkcja* symbol = table.lookup(text))
        return definitionText(*symbol->definition, table);
    std::unique_ptr<Funkcja> temporary = makeSymbolFromStatement(text, "", false, table);
    return definitionText(*temporary->definition, table);
}

void exportStatistics(const ZYL& zyl, const ProjectScript& script, SymbolTable& table,
                      bool everyIteration, std::vector<CompiledText>* formulas)
{
    const std::string fileName = script.ReadString("EXPORT_NAMES", "export_name", "");
    if (fileName.empty())
        return;
    const std::vector<std::string> keys = script.ReadSection("EXPORT");

    std::string header;
    for (const std::string& key : keys)
        header += key + "\t";
    header += "\n";

    // The row is computed before anything is written, so that it is written whole or not at all.
    std::string row;
    std::optional<std::string> failure;
    try {
        if (formulas && formulas->size() > keys.size())
            formulas->erase(formulas->begin() + static_cast<std::ptrdiff_t>(keys.size()),
                            formulas->end());
        for (std::size_t k = 0; k < keys.size(); ++k) {
            const std::string text = script.ReadString("EXPORT", keys[k], "???");
            if (!formulas) {
                row += exportColumnText(text, table) + "\t";
                continue;
            }
            if (k == formulas->size())
                formulas->emplace_back(text);
            else if ((*formulas)[k].text() != text)
                (*formulas)[k] = CompiledText(text);
            row += (*formulas)[k].exportText(table) + "\t";
        }
        row += "\n";
    } catch (const std::exception& error) {
        failure = error.what();
    }

    if (everyIteration)
        appendToFile(fileName, (zyl.generation == 0 ? header : std::string()) +
                                   (failure ? std::string() : row));
    else if (!failure)
        replaceFile(fileName, header + row);
    if (failure)
        throw Exception(*failure);
}

void refuseExportOnto(const std::string& exportName, const std::vector<RunFile>& files)
{
    if (exportName.empty())
        return;
    struct stat exported {};
    const bool exists = ::stat(exportName.c_str(), &exported) == 0;
    // Absolute first: a relative name none of whose parts exists stays relative otherwise.
    auto resolve = [](const std::string& name, std::error_code& error) {
        const fs::path absolute = fs::absolute(name, error);
        return error ? absolute : fs::weakly_canonical(absolute, error);
    };
    std::error_code error;
    const fs::path resolved = resolve(exportName, error);
    for (const RunFile& file : files) {
        if (file.name.empty())
            continue;
        struct stat own {};
        bool same = exists && ::stat(file.name.c_str(), &own) == 0 &&
                    own.st_dev == exported.st_dev && own.st_ino == exported.st_ino;
        if (!same && !error) {
            std::error_code otherError;
            const fs::path other = resolve(file.name, otherError);
            same = !otherError && other == resolved;
        }
        if (same)
            throw Exception("The export file \"" + exportName + "\" is the " + file.kind + " \"" +
                            file.name + "\": choose another export_name.");
    }
}

} // namespace zyl
