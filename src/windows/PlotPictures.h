#pragma once

#include "engine/Objectives.h"
#include "engine/UserPlots.h"

#include <string>
#include <vector>

namespace zyl {

/// Draws each plot with the chart window's code and writes DIR/<title>.png and
/// DIR/<title>.svg, each whole or not at all (a picture that cannot be written leaves the
/// file of that name as it was). Needs a QApplication. Characters a file name cannot hold ("/"
/// and NUL) become "_". Returns one message per file that could not be written ("Cannot
/// write the picture to <file>: <reason>").
std::vector<std::string> writePlotPictures(const std::vector<UserPlot>& plots,
                                           const std::string& directory);

/// Draws the front of a task with several objectives, as writePlotPictures draws a plot: a
/// scatter of each pair of objectives (the first against the second, ..., with three or more
/// every pair) as DIR/Front_<first>_<second>.png and .svg, the front in black, the other
/// feasible designs in grey and the infeasible ones in red. Nothing without several objectives.
std::vector<std::string> writeFrontPictures(const FrontSnapshot& snapshot,
                                            const std::string& directory);

} // namespace zyl
