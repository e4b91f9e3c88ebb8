// kestel-cli's "neighbors" command: runs neighbour discovery for one scan and its collection
// window (or for --seconds N, rescanning as the loader does) and prints the neighbours with the
// loader's columns, as a table or with --json as an array of objects keyed by column title.
// Discovery broadcasts on every interface: it runs only when this command is given.
#pragma once

namespace kestel {

// argv holds the words after "neighbors"; the result is the process's exit code.
int runNeighborsCommand(int argc, char** argv);

} // namespace kestel
