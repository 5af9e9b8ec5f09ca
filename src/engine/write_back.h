#pragma once
// Starts the kernel's write-back of the files being downloaded, from a
// thread of its own, a few times a second. Data then goes to the disk while
// the download runs, and the sync when a job ends or the database is saved
// waits for the last moments' pages only, not for a whole file held in
// memory. Starting write-back costs CPU time, which this keeps off the loop
// thread.
//
// Thread: watch and unwatch from any thread; the kicks run on the write-back
// thread. It holds a duplicate of each watched descriptor, so a file closed
// (and its number reused) meanwhile is never touched by mistake.
#include <cstdint>

namespace fetchora {

// Returns a ticket for unwatchFile (0 when the file cannot be watched).
uint64_t watchFileForWriteBack(int fd);
void unwatchFileForWriteBack(uint64_t ticket);

}  // namespace fetchora
