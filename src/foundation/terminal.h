// The terminal behind standard output: whether there is one, and whether it shows the colour and
// cursor escapes of the headless station's slot table.
#pragma once

namespace vornex::terminal {

// True when standard output is a terminal (on Windows a console), not a file or a pipe.
bool StdoutIsTerminal();

// Makes the terminal on standard output interpret colour and cursor escapes (Windows consoles
// must be asked to). False when standard output is no terminal or the terminal cannot: the
// caller then writes plain lines.
bool EnableEscapes();

// The width of the terminal on standard output in columns; 0 when it is not known.
int StdoutColumns();

}  // namespace vornex::terminal
