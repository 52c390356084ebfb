#pragma once
// The directories of the output folders as the output-file layer reaches them (used by
// output_file_*.cpp only; output_tree_posix.cpp and output_tree_win.cpp hold the system calls).
// Below an output folder an OutputRoot holds, each directory is opened from its parent's handle
// one name at a time, never through a link, and remembered by identity; before a file is made or
// named in it, the chain up to the output folder is checked again. Any other directory is opened
// by its path as it stands and not checked.
#include "deliver/output_file.h"

#include <filesystem>
#include <memory>
#include <string>

namespace edb::conv::tree {

using DirRef = std::shared_ptr<Dir>;

// `dir`, open. Throws std::filesystem::filesystem_error naming the directory: "cannot use the
// folder" when it is missing or not a real directory, or the replaced-folder error when a
// directory seen there before is no longer the one there.
[[nodiscard]] DirRef Open(const std::filesystem::path& dir);

// Makes the directory `p` in its parent (opened as Open does); false when a name `p` is
// already there, whatever it is.
[[nodiscard]] bool MakeDirectory(const std::filesystem::path& p);

// Checks that `d` and every folder above it up to the output folder are still the directories
// opened there, and throws the replaced-folder error naming the first that is not. What it
// returns keeps them so until it goes where the system allows it (Windows: a folder held open
// cannot be moved or removed); nothing on POSIX, where every call goes through `d`'s handle.
using Hold = std::shared_ptr<void>;
[[nodiscard]] Hold Check(const Dir& d);

// Whether files and names in `d` are flushed to the disk.
[[nodiscard]] bool Syncs(const Dir& d);

// A name in `d` was made or moved there: `d` is flushed at the next OutputRoot::flush.
void Changed(const DirRef& d);

// The descriptor of `d` (POSIX), and its path for messages.
[[nodiscard]] int Descriptor(const Dir& d);
[[nodiscard]] const std::filesystem::path& PathOf(const Dir& d);

// Windows only (output_file_win.cpp): a path as the system calls take it (a long one in the
// extended-length form), and the errno value a system error code reads as.
[[nodiscard]] std::wstring WidePath(const std::filesystem::path& p);
[[nodiscard]] int ErrnoFrom(unsigned long code);

} // namespace edb::conv::tree
