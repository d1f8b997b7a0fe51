// The last step of every tool's main: output that never reached its file (a full disk, a closed
// pipe) must not end with exit status 0 behind a truncated result.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace vantora {

// status when standard output was flushed and closed cleanly; otherwise says why on stderr and
// returns status, or failed when status was 0.
inline int CheckedExit(const char* tool, int status, int failed = 1) {
    errno = 0;
    std::cout.flush();
    bool ok = static_cast<bool>(std::cout);
    ok = std::fflush(stdout) == 0 && ok && !std::ferror(stdout);
    const int flushErrno = errno;
    ok = std::fclose(stdout) == 0 && ok;
    if (ok) return status;
    const int e = flushErrno ? flushErrno : errno;
    std::fprintf(stderr, "%s: cannot write the output: %s\n", tool, e ? std::strerror(e) : "write error");
    return status == 0 ? failed : status;
}

}  // namespace vantora
