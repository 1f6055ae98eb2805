// Profile files (".cus": 21 records of 216 bytes, no header) and the errors
// of file operations.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "profile/ParaTable.h"

namespace vlx {

// An error with a text for the user (shown followed by a full stop).
class EVlxError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A failed file operation: "File not found", "Disk full", "I/O error 5", ...
class EInOutError : public EVlxError {
 public:
  EInOutError(int errorCode, const std::string& text) : EVlxError(text), ErrorCode(errorCode) {}
  int ErrorCode;
};

// The text for an operating-system error number. path, where given, tells a
// missing file ("File not found") from a missing folder ("Invalid filename").
std::string InOutErrorText(int err, const std::string& path = {});
[[noreturn]] void RaiseInOutError(int err, const std::string& path = {});

// Reads the records of the file into the table: Value limited to 127,
// Channel to 15, DataType to 6 (upper limits only); names cut to 80
// characters. Records after the last one read keep their contents; records
// after the 21st and bytes after the last whole record are ignored. The file
// is opened for reading and writing: a file that cannot be written is
// refused ("File access denied"). Throws EInOutError.
void LoadProfileFile(const std::string& path, TParaTable& table);

// Writes records 1..21 of the table. The write is atomic: the records go to
// a temporary file in the same folder, which is flushed and then renamed over
// path, so a failure leaves the previous file whole. The replacement keeps
// the file's mode, owner and group. The file is written in place instead
// (from its start, cut to length, flushed), keeping everything it was, where
// the replacement could not be what the file was: an owner or group this
// process may not give, a file with further hard links, or a folder that
// refuses the temporary file or the rename (no write permission on it, a
// sticky folder of another owner). A symbolic link is written through and
// stays a link. A FIFO or a character device is written into without being
// replaced (a FIFO that nobody reads is refused at once, "No reader at the
// other end"); a block device or a socket is refused. Throws EInOutError.
void WriteProfileFile(const std::string& path, const TParaTable& table);

// Whether the file at path holds the table as saving it would write it: 21
// whole records that, loaded over the table, leave it as it is. A file that
// is missing, cannot be read or has another size does not.
bool ProfileFileMatches(const std::string& path, const TParaTable& table);

// The 4,536 bytes of a profile.
std::vector<uint8_t> EncodeProfile(const TParaTable& table);

// Writes bytes to path atomically, as WriteProfileFile does.
void WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes);

// Whether a file (not a folder) exists at path.
bool FileExists(const std::string& path);

}  // namespace vlx
