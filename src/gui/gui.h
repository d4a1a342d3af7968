// The windowed front end: merges like the console tool, then shows one
// dialog for the run that says what was written, what was left out and where
// the results are, with buttons to show them in Explorer or play one.
#pragma once

namespace m3umerge::gui {

// Runs the windowed front end on `argv[1]` to `argv[argc - 1]`, handing them
// to an instance started just before, if one is gathering anchors, instead
// of showing a dialog of its own. Always returns 0, the exit status.
int run_windowed(int argc, wchar_t** argv);

}  // namespace m3umerge::gui
