// Where an output named on the command line is written: the one-file forms'
// outputs, the table of `schedules` and `panel`, and the batch report.
//
// A symbolic link is followed: the file it names is written (a table by the
// library, under a temporary name in that file's folder, renamed over it), so
// the link stays a link. A device, pipe or socket, named or reached through a link, is written
// as it stands; one that is the tool's own standard output is standard output.
// A dangling link is refused, since writing through it would create a file
// wherever it points.
#pragma once

#include <string>

enum class OutputPlace {
  kFile,            // a regular file, or none yet: path is the file to write
  kStandardOutput,  // the tool's own standard output (/dev/stdout and the like)
  kAsItStands,      // a device, pipe or socket: opened and written directly
  kDanglingLink,    // a link to nothing: not written
};

struct OutputTarget {
  OutputPlace place;
  // kFile: the link's final target as a real path, or the path as given when
  // it is no link; otherwise the path as given.
  std::string path;
};

OutputTarget ResolveOutput(const std::string& path);

// The words refusing a dangling link, naming it and where it points.
std::string DanglingLinkWords(const std::string& path);
