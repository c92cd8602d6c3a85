#pragma once
// The one process-wide daily log: UTF-16LE, a byte-order mark on an empty file,
// "HH:MM:SS " + message + "\r\n" per line, the file opened and closed for every line.
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "text/format.h"

class LogWriter {
public:
    static LogWriter& Instance();
    // Closes the lock, clears both strings and drops the instance.
    static void Destroy();

    template <class... A>
    void Write(std::u16string_view fmt, const A&... args) {
        WriteMessage(format16(fmt, args...));
    }
    // Appends one already formatted message as a line.
    void WriteMessage(const std::u16string& message);

    void SetPath(const std::u16string& path);
    void SetName(const std::u16string& name);
    std::u16string Path();
    std::u16string Name();

    ~LogWriter();

private:
    LogWriter();
    std::u16string FallbackPath();

    std::u16string name;
    std::u16string path;
    std::recursive_mutex lock;
};

// Per-user data folder without a trailing separator; empty when it is not known. An OS fact,
// defined in the log writer's OS half (log_writer_posix.cpp: $XDG_DATA_HOME, else
// $HOME/.local/share).
std::u16string LocalLowFolder();
// True when the folder exists afterwards; creates every missing level.
bool EnsureDirectory(const std::u16string& folder);
// Text of the calling thread's last system error: "<text> (0x%04X)", or "0x%04X" alone.
std::u16string SystemErrorText();
