// Stitching a numbered series of record files (rec_0001.qxc, rec_0002.qxc, ...) into one: the series
// listing, the contiguous choice of the files that follow the base, the output name and the byte copy.
// Toolkit-free; the dialog and qxtool both run the copy through CToolWorker.
#pragma once

#include "ToolWorker.h"

#include <cstdint>
#include <string>
#include <vector>

struct SeriesFile {
    std::string name; // file name only
    std::string path; // full path
    int number = 0;   // the four digits read as hexadecimal nibbles
};

// The file number of a name ending in "_dddd.qxc" (extension in any case); false for other names.
bool FileNumber(const std::string& name, int* number);

// Files of folder whose names carry a file number, sorted by name.
std::vector<SeriesFile> ListSeriesFiles(const std::string& folder);
// The files of base's series (same path up to the last 9 characters) with a greater file number,
// sorted by name; none when base has no file number.
std::vector<SeriesFile> ListCandidates(const std::string& folder, const std::string& basePath);

// After a change at candidate k (a click, or a key on the list), keeps the selection the first m
// candidates: selecting k selects all before it, deselecting k deselects it and all after it.
void KeepContiguous(std::vector<bool>& selected, size_t k);

// folder/Stitched_<base without .qxc>-%04X.qxc with the last selected number, " (n)" before the
// extension while the name exists; empty when nothing is selected, the number is below 2 or no free
// name is left.
std::string StitchOutputPath(const std::string& folder, const std::string& baseName,
                             const std::vector<SeriesFile>& candidates, const std::vector<bool>& selected);

// How many of files, from the first, continue one another as the files of one recording do; *reason
// names the first file that does not and why (empty when all do, or the file that cannot be read).
// The recorder switches files between two reads of one stream, so across the join the analyzer's
// clock and its CC block numbering run on: the next file's first VBUS sample comes after the last one
// of the file before, by no more than twice the spacing of the samples there (2 s when a file holds
// too few samples to show it), and its first CC edge block is the next in the numbering after the last
// one before it. A file of another recording left under the same name starts elsewhere in time or in
// the numbering. A file that holds neither samples nor CC blocks adds nothing and is passed over.
size_t ContinuingFiles(const std::vector<std::string>& files, std::string* reason);

// Copies the files one after another into out, byte for byte, under a temporary name that becomes out
// only when the copy is whole. Fails, leaving nothing behind and flags.reason saying why, when out is
// one of the files, a file cannot be read, does not continue the one before it or changes its size
// meanwhile, the output cannot be written or an abort is requested.
bool StitchFiles(const std::vector<std::string>& files, const std::string& out, ToolFlags& flags);
