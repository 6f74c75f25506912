#pragma once

#include "engine/Formulas.h"
#include "engine/Zyl.h"
#include "expr/Tensor.h"
#include "script/ProjectScript.h"

#include <string>

namespace zyl {

/// The value an export column writes for `text` (a column's value in the EXPORT section):
/// when `text` names a symbol, its definition, else the definition of a temporary symbol made
/// from `text` by the statement pipeline. A vector or matrix (nestingDepth not 0) gives the
/// printed form of its evaluation; anything else the real part of its numeric value, as
/// realToText ("%g").
/// \throws the language's errors (InfoErr, math errors) unchanged.
std::string exportColumnText(const std::string& text, SymbolTable& table);

/// The fourth step of a generation: one row of the statistics export. `export_name`
/// (section EXPORT_NAMES) and the columns (section EXPORT, key = title, value = name or
/// expression, default "???") are read from `script` at every call; an empty export_name
/// does nothing and touches no file. Each title and each value is followed by "\t", each
/// line by "\n".
///
/// - `everyIteration` true: appends to the file (created when missing) the header line when
///   `generation` is 0, then the row, in one write; a write that fails (a full disk) cuts the
///   file back to its size before it, so that it never ends in half a row.
/// - `everyIteration` false: the file holds the header line and the latest row, nothing else;
///   it is rewritten every generation through a temporary file beside it that then replaces it,
///   so a reader never sees a half-written file.
///
/// A row is written whole or not at all: when a column fails, the columns before it are not
/// written either (in append mode the header of generation 0 still is), so the file never
/// holds a row without its line end for later rows to be glued onto.
/// \throws Exception with the column's error message when a column fails, or
/// "Cannot write the export file \"<name>\": <reason>" when the file cannot be opened or
/// written (where the Part would fail silently). When both fail, append mode reports the file
/// (the Part opens it before evaluating the columns) and overwrite mode the column, leaving
/// the file untouched. The caller adds the "Export\n" prefix.
/// `formulas`, when given, keeps the columns compiled from one generation to the next (they
/// are matched to the columns by their texts, which may change between calls).
void exportStatistics(const ZYL& zyl, const ProjectScript& script, SymbolTable& table,
                      bool everyIteration, std::vector<CompiledText>* formulas = nullptr);

/// One of a run's own files, which its export would destroy: `kind` is "run store", "script"
/// or "program"; an empty name stands for none.
struct RunFile {
    const char* kind;
    std::string name;
};

/// Refuses an export file that is one of `files`: the same file (device and inode) or, for
/// a name that does not exist yet, the same path once links and dots are resolved. Asked
/// before a run writes anything.
/// \throws Exception "The export file \"<export>\" is the <kind> \"<name>\": choose another
/// export_name."
void refuseExportOnto(const std::string& exportName, const std::vector<RunFile>& files);

} // namespace zyl
