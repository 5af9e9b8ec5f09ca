#pragma once
// Finishes the database may not have recorded yet. A finished ".kx!" file is
// renamed to its final name only once a line naming the job, that name and
// the file's size has reached the disk here, so that a kill or a power cut
// right after the rename, before a save recorded the job as finished, still
// lets the next open complete the job from its file instead of failing on
// the missing ".kx!" file or fetching it again under another name.
//
// A job's files moved to another folder or renamed are noted here too,
// before they move, so that a kill before the next save does not leave the
// database naming a place where nothing is any more.
//
// The journal is a text file beside the database: one line a finish,
// "<job id> <size> <final name as hex>", or a move, "m <job id> <size> <f|u>
// <folder as hex> <name as hex>". A torn last line is ignored. A save that
// recorded every finish and move in it makes it empty again.
//
// Thread: one owner (the loop thread) at a time.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace fetchora {

class CComPtrTree;

struct FinishNote {
    int32_t jobId = 0;
    int64_t size = 0;
    std::string name;  // the final file name, in the job's folder
    // Set for a move: the folder the job's files went to (name is then the
    // job's final file name there, size that of the file moved, and
    // `unfinished` says it was the ".kx!" file).
    std::string folder{};
    bool unfinished = false;

    bool isMove() const { return !folder.empty(); }
};

std::filesystem::path FinishJournalPath(const std::filesystem::path& database);

// The journal's line for a finish note, with its newline.
std::string FinishLine(const FinishNote& note);

// Appends whole lines (each ending in a newline) and syncs them with `sync`
// (fdatasync, or a test's stand-in); false, with `error` set in the user's
// language, when they are not on the disk.
bool AppendFinishLines(const std::filesystem::path& journal, const std::string& lines, std::string& error,
                       const std::function<int(int)>& sync = ::fdatasync);

// Appends the note and syncs it; false, with `error` set, when it is not on
// the disk.
bool RecordFinish(const std::filesystem::path& journal, const FinishNote& note, std::string& error);

// Appends the note of a move (a note with a folder) and syncs it, before the
// files move; false, with `error` set, when it is not on the disk.
bool RecordFileMove(const std::filesystem::path& journal, const FinishNote& note, std::string& error);

// Every whole line of the journal; none when it does not exist.
std::vector<FinishNote> ReadFinishJournal(const std::filesystem::path& journal);

// Gives each job a note names its final file and whole ranges, when the
// database had not recorded the finish, the job's ".kx!" file is gone and
// the named file is a plain file of the noted size: that file is the one the
// job renamed. Returns how many jobs were mended; they finish at their next
// start without a byte fetched.
// The ids of the mended jobs go to `mended` when it is given.
int ApplyFinishJournal(CComPtrTree& tree, const std::vector<FinishNote>& notes,
                       std::vector<int32_t>* mended = nullptr);

// Empties the journal once a save has recorded every finish it holds.
void ClearFinishJournal(const std::filesystem::path& journal);

// How long the journal is; 0 when it does not exist. Notes only ever grow it
// until it is emptied.
uint64_t FinishJournalBytes(const std::filesystem::path& journal);

// Empties the journal when it is still `bytesAtImage` long: nothing was
// noted after the database image that the caller just wrote was taken, so
// that image records every finish in it. A journal that grew meanwhile is
// kept for the next save. The caller holds the job lock, under which runners
// note their finishes, so that no note lands between the check and the
// removal. True when it was emptied.
bool ClearFinishJournalIfUnchanged(const std::filesystem::path& journal, uint64_t bytesAtImage);

}  // namespace fetchora
