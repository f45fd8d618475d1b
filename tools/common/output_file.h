// Outputs written whole or not at all: each file is written under a temporary name in
// its own folder and renamed onto its real name only when every write and the close
// succeeded, so that a full disk or a stopped run never leaves a truncated file under a
// name the user asked for. A name that already exists as something other than a regular
// file (/dev/stdout, a pipe) is written directly. Owns no globals.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

// The temporary name for `path`: the same folder, ".NAME.TAG-PID.EXT" (the extension
// kept last, for programs that pick the format by it). NAME is shortened where the
// whole would pass the folder's longest file name, so that every name the file system
// takes for `path` has a temporary name it takes too.
std::string temporaryPathFor(const std::string& path, const std::string& tag = "tmp");

// Whether `path` can be written: its name is one the file system takes, and a file can
// be made under its temporary name (made and removed again) or, for a name written in
// place, opened for writing. False with the system's reason. For checking every output
// before a long run, so that nothing is refused only at its end.
bool probeOutput(const std::string& path, std::string* error);

// True when `path` exists and is not a regular file: written in place, never renamed over.
bool writtenInPlace(const std::string& path);

// Renames the finished `temporary` onto `path` and checks that the file is there, with
// the size it had. False with a reason otherwise; the temporary file is removed then.
bool placeOutput(const std::string& temporary, const std::string& path, std::string* error);

// One output written through stdio.
struct OutputFile {
    std::string path;       // the name asked for
    std::string writePath;  // where the bytes go until they are complete
    std::FILE* file = nullptr;
};

// Opens `path` for writing (its temporary name). False with a reason.
bool openOutput(OutputFile& output, const std::string& path, std::string* error);
// Flushes, checks every earlier write, closes and renames into place. False with a
// reason (and nothing left behind) when any of it failed.
bool commitOutput(OutputFile& output, std::string* error);
// Closes and removes an output that will not be completed. Safe on a closed one.
void discardOutput(OutputFile& output);
