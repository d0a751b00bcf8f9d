// The stream monitor's live table, as plain code: one line per stream, worst
// first, fitted to the terminal, from a health snapshot.
#ifndef KELVANE_ROVIMAR_DIAGNOSIS__MONITOR_VIEW_HPP_
#define KELVANE_ROVIMAR_DIAGNOSIS__MONITOR_VIEW_HPP_

#include <string>
#include <vector>

#include "kelvane_rovimar_diagnosis/stream_health.hpp"

namespace kelvane_rovimar_diagnosis {

struct ViewSize {
  /// Columns and lines of the terminal; no line is longer, no more lines are drawn.
  int columns = 80;
  int lines = 24;
};

/// The table: a line of totals, the column heads, one line per stream (worst
/// level first, then by node and topic) and, when they do not all fit, a last
/// line that counts the streams left out by level. With `colour`, each
/// stream's state is coloured by its level (ANSI; the codes take no column).
std::vector<std::string> renderView(const std::vector<StreamHealth>& streams, ViewSize size,
                                    bool colour);

}  // namespace kelvane_rovimar_diagnosis

#endif  // KELVANE_ROVIMAR_DIAGNOSIS__MONITOR_VIEW_HPP_
