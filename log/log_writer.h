#pragma once
// The one process-wide daily log: UTF-16LE, a byte-order mark on an empty file,
// "HH:MM:SS " + message + "\r\n" per line, the file opened and closed for every line.
#include <array>
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

    // Longest text one argument puts into a line: 64 KiB of the file. A server's document
    // may be 16 MiB and is quoted on every attempt; longer text is cut and ends with
    // "[… N characters left out]".
    static constexpr size_t max_quoted_chars = 32768;

    template <class... A>
    void Write(std::u16string_view fmt, const A&... args) {
        std::array<std::u16string, sizeof...(A) ? sizeof...(A) : 1> cut;
        size_t next = 0;
        WriteMessage(format_list(fmt, {Quote(format_arg(args), cut[next++])...}));
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
    // The argument itself, or for text past max_quoted_chars its cut copy in `storage`.
    static format_arg Quote(format_arg arg, std::u16string& storage);

    std::u16string name;
    std::u16string path;
    std::recursive_mutex lock;
};

// Per-user data folder without a trailing separator; empty when it is not known
// (os::data_folder).
std::u16string LocalLowFolder();
// True when the folder exists afterwards; creates every missing level.
bool EnsureDirectory(const std::u16string& folder);
// Text of the calling thread's last system error: "<text> (0x%04X)", or "0x%04X" alone.
std::u16string SystemErrorText();
