#pragma once

class QWidget;

namespace zyl {

/// SIGINT and SIGTERM close `window` as its close button does (a run is aborted first, and its
/// programs ended), instead of killing the process and leaving the programs running. Returns
/// false when the signals could not be routed (the default action then stays).
bool closeOnSignals(QWidget& window);

/// The signal that closed the window, or 0.
int closingSignal();

} // namespace zyl
