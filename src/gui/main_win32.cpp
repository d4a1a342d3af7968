// The windowed front end's entry point: wmain, in a program of the GUI
// subsystem, so that the runtime splits the command line as for the console
// tool.
#include "gui/gui.h"

int wmain(int argc, wchar_t** argv) { return m3umerge::gui::run_windowed(argc, argv); }
