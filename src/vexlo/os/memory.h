#pragma once
// How the process hands memory back to the system.

namespace vexlo::os {

// Keeps memory that the process frees for its own later allocations instead
// of returning it to the system at once. A run reads and parses a large log
// file during the synchronisation and again for `show`, and each time
// allocates buffers several times the file's size; reusing the pages of the
// first round spares faulting in fresh ones, while the peak stays that of
// one round. Meant to be called once at the start of the process.
void retain_freed_memory();

// Hands the memory the process has freed back to the system, for a reader
// that is about to take in a large input of another size and shape than the
// last, whose allocations would not fit the freed blocks.
void release_freed_memory();

}  // namespace vexlo::os
