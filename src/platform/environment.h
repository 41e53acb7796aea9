// The process and its files: command line, program folder, environment
// variables, files, other programs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vel::platform {

// An operating-system failure: its number (errno on Linux) and its text.
struct SystemError {
    int number = 0;
    std::string description;
};

// Where this process's standard error goes.
enum class ErrorStream {
    None,      // nowhere: closed, or a program without a console
    Terminal,  // a terminal: someone reads it there, as it comes
    Journal,   // systemd's journal, which stamps each line itself
    Other,     // a file, a pipe (cron, a scheduler's redirection)
};

// How an attempt to take an advisory lock went.
enum class LockResult {
    Locked,       // held until Unlock
    Busy,         // another process holds it; nothing was taken
    Unsupported,  // the file system keeps no such locks: go on without one
    Failed,       // the file could not be reopened (error tells why)
};

// A file opened for appending, shared with other runs of the program in the
// same folder (the log). Every Write appends (never overwrites, never
// truncates) and reaches the file before it returns, so a crash loses
// nothing that was written.
class OutputFile {
public:
    virtual ~OutputFile() = default;
    virtual bool Write(const std::string& bytes, SystemError& error) = 0;

    // Takes the file's advisory lock, exclusive or shared, without waiting.
    // The lock is taken on the file the path names now: when another process
    // has moved the file away meanwhile (a rotation), the path is opened
    // afresh first, so the lock and later writes go to the current file.
    virtual LockResult TryLock(bool exclusive, SystemError& error) = 0;
    virtual void Unlock() = 0;

    // Size in bytes of the file now open.
    virtual std::int64_t Size() = 0;
};

// Where the program's files lie: folders without a trailing separator.
struct ProgramFolders {
    std::string settings;   // the program folder, which holds the settings
    std::string log;        // the program folder, but for the machine's runs on Linux (/var/log/veltrane)
    std::string separator;  // between a folder and a file name ("/" or "\")
    // The machine's runs: the folder of their record of the last run
    // (/var/lib/veltrane; on Windows the machine's folder), and the folder
    // whose *.prom files a monitoring agent reads where this system has such
    // a place (/var/lib/prometheus/node-exporter). Empty in a user's runs.
    std::string state = {};
    std::string metrics = {};
};

// An entry for the system's event log (Windows' Application log).
struct SystemEvent {
    enum class Kind { Information, Warning, Error };
    int id = 0;
    Kind kind = Kind::Information;
    std::vector<std::string> fields;  // the event's strings, in order
};

enum class SystemEventResult {
    Written,
    NotSupported,  // this system keeps no such log
    Failed,        // `error` says why
};

// What this process was started with.
struct ProcessFacts {
    std::vector<std::string> arguments;  // after the program name, one by one, as it was given them
    ProgramFolders folders;
    ErrorStream standardError = ErrorStream::None;  // where standard error goes
};

class Environment {
public:
    virtual ~Environment() = default;

    virtual ProcessFacts Process() = 0;
    std::string ProgramFolder() { return Process().folders.settings; }

    // The size in bytes of an ordinary file; nullopt when there is none (a
    // folder of that name does not count, nor on Windows a hidden or system
    // file).
    virtual std::optional<std::int64_t> OrdinaryFileSize(const std::string& path) = 0;
    bool IsOrdinaryFile(const std::string& path) { return OrdinaryFileSize(path).has_value(); }

    // Moves the file at `from` to `to`, replacing what is there: one rename
    // where both lie on one file system, else a complete copy renamed into
    // place and then the removal of `from`. A symbolic link at either name
    // that the back end follows stays a link: the move takes and replaces the
    // files the links name. On Linux only the user's own links are followed;
    // another's is an error that names it.
    virtual bool MoveFileTo(const std::string& from, const std::string& to, SystemError& error) = 0;

    // Deletes an ordinary file; false when there was none or it could not go.
    virtual bool RemoveFile(const std::string& path) = 0;

    // Opens for appending; a missing file is created, an existing one is
    // never emptied. Only a regular file opens, and the open never waits (a
    // named pipe is an error at once).
    virtual std::unique_ptr<OutputFile> OpenAppend(const std::string& path, SystemError& error) = 0;

    // Writes a text to standard error as it stands.
    virtual void WriteStandardError(const std::string& text) = 0;
    // The same to standard output.
    virtual void WriteStandardOutput(const std::string& text) = 0;

    // The bytes of an ordinary file, at most `limit` of them (its beginning);
    // nullopt and `error` when there is none or it cannot be read. Never
    // blocks, never follows another user's link (as OpenAppend).
    virtual std::optional<std::string> ReadFileBytes(const std::string& path, std::size_t limit,
                                                     SystemError& error) = 0;

    // Replaces the file at `path` (or makes it) whole: a temporary file beside
    // it, written and flushed, takes its name in one rename, so a reader sees
    // the old file or the new one, never a part. The temporary name never ends
    // as the file's does. False and `error` when nothing changed.
    virtual bool ReplaceFileBytes(const std::string& path, const std::string& bytes, SystemError& error) = 0;

    // Whether a folder is at `path`.
    virtual bool IsFolder(const std::string& path) = 0;

    // Writes an entry to the system's event log under the program's source.
    virtual SystemEventResult WriteSystemEvent(const SystemEvent& event, SystemError& error) = 0;

    // Starts this system's program that shows its hardware and software
    // (what the About box's System Info button starts), shown and activated,
    // and does not wait for it. False when there is none or it did not start.
    virtual bool StartSystemInformation() = 0;
};

}  // namespace vel::platform
