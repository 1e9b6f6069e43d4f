// The standard descriptors 0, 1 and 2 when the program starts closed (as with >&-): each is
// held by /dev/null opened the other way round (0 for writing, 1 and 2 for reading), so that no
// file the program opens takes its place (a table written into "standard error") and any use of
// it still fails and is reported. The program knows which were closed.
//
// Errors follow failure.hpp; nothing here fails: a descriptor that cannot be held stays closed.
#pragma once

namespace sift_runlog::campaign {

// First thing in main, before any file is opened.
void hold_closed_standard_descriptors();

// Whether the standard descriptor `fd` (0, 1 or 2) was closed when the program started.
[[nodiscard]] bool closed_at_start(int fd);

// "standard input", "standard output" or "standard error" for 0, 1 and 2.
[[nodiscard]] const char* standard_name(int fd);

}  // namespace sift_runlog::campaign
