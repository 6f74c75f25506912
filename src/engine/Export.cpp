#include "engine/Export.h"

#include "common/Exception.h"
#include "common/FileReplace.h"
#include "common/TextConvert.h"
#include "expr/Evaluator.h"
#include "expr/Printer.h"
#include "expr/Statement.h"

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
    errno = 0;
    std::FILE* file = std::fopen(fileName.c_str(), "ab");
    if (!file)
        throw fileFailure(fileName, systemMessage(errno ? errno : EIO));
    if (int error = writeAndClose(file, content))
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

} // namespace zyl
