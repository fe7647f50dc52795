// Arbitrary bytes as the update archive, through every reader of it: the
// updater's patch sources and the archive tool's listing and checks.
// Aborts on a leaked handle or block; the sanitizers catch the rest.
#ifndef UPDATER_ARCHIVE_HARNESS_H
#define UPDATER_ARCHIVE_HARNESS_H

#include <stddef.h>
#include <stdint.h>

// Writes the bytes to "UpdateData.dat" in the current directory and reads
// it every way the program and its tools do.
void RunArchiveInput(const uint8_t* data, size_t size);

#endif
