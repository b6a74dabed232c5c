#pragma once
// Opening files for reading the way every reader of the program must: only
// regular files. A FIFO, a device or a folder that carries a media name
// (x.png, x.mp4) is refused at once instead of blocking the caller in
// open() or read() until someone writes to it.

#include <cstdio>
#include <string>

namespace platform {

// Opens the file for reading and answers its descriptor, or -1 (errno set;
// EINVAL when the path names something other than a regular file). The
// open itself never blocks: it is made non-blocking, checked with fstat and
// then switched back to blocking reads.
int OpenRegularFileForRead(const std::string& path);

// The same as a stdio stream opened "rb"; null when refused.
std::FILE* OpenRegularFileStream(const std::string& path);

// True when the path names a regular file (symbolic links followed).
bool IsRegularFile(const std::string& path);

}  // namespace platform
