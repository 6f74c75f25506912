#pragma once

#include "cli/BatchOptions.h"

#include <functional>

namespace zyl::cli {

/// zyl-batch --follow: prints the progress lines of the run that another process records in
/// the store `options.follow` (every stored generation once, in order, the earlier ones
/// first), in the form `options.progress` asks for, until the run ends. Returns the exit
/// status: 0 when the task is finished, 1 when its writer stopped without finishing it or the
/// store became unreadable (the reason on standard error), 2 when the store cannot be
/// watched, and 128 plus the signal when `signalled` gives one.
int followStore(const BatchOptions& options, const std::function<int()>& signalled);

} // namespace zyl::cli
