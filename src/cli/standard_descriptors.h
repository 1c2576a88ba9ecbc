#pragma once

namespace vesk {

// Descriptors 0, 1 and 2 that the process was started without are opened on /dev/null, for
// reading only: no socket or event descriptor of the run can take one of their numbers and
// receive what was meant for a standard stream, and a write to a reserved 1 or 2 still fails
// with EBADF, as it did on the closed descriptor. Returns whether standard output can be written
// at all: false when it was closed, or opened for reading only. A few system calls, no more.
bool reserveStandardDescriptors();

}  // namespace vesk
