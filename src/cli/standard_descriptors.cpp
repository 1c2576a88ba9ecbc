#include "cli/standard_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "cli/output.h"

namespace vesk {

bool reserveStandardDescriptors() {
  bool outputWritable = true;
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags == -1) {
      // The lowest free number is taken: this one, as the lower ones are open by now.
      if (::open("/dev/null", O_RDONLY) == -1) {
        die("cannot open /dev/null: " + std::string(std::strerror(errno)));
      }
      flags = O_RDONLY;
    }
    if (fd == STDOUT_FILENO) outputWritable = (flags & O_ACCMODE) != O_RDONLY;
  }
  return outputWritable;
}

}  // namespace vesk
