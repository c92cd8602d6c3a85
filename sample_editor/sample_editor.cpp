// The sample editor module: a complete, small editor module to read before writing one.
//
// It exports the eight functions of module/editor_module.h. Named values it understands
// (through InternalCall):
//   "trace_file"   a file to which every call is appended as one UTF-8 line:
//                  the export name and every argument, separated by "|"
//   "result_json"  the result text to hand back instead of the default one
//   "interactive"  "true": with an owner window on a display, ask the customer to finish
//                  or cancel the work in a small window
// The window is the OS's: GTK (customer_window_gtk.cpp) or Win32 (customer_window_win.cpp).
#include <cstdio>
#include <string>
#include <vector>

#include "module/editor_module.h"
#include "sample_editor/customer_window.h"

namespace {

struct editor_state {
    quorla_owner_window owner = nullptr;
    std::string trace_file;
    std::vector<std::string> pending_trace;  // lines written before "trace_file" arrived
    std::u16string result_json;
    bool interactive = false;
};
editor_state state;

// The result text handed to the launcher. The launcher reads it after Uninitialize returns,
// so it lives until the library is unloaded, not just until Uninitialize.
std::u16string result_text;

std::string utf8(const char16_t* text) {
    std::string out;
    for (; text != nullptr && *text != 0; ++text) {
        char32_t c = *text;
        if (c >= 0xD800 && c <= 0xDBFF && text[1] >= 0xDC00 && text[1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[1] - 0xDC00);
            ++text;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void append_trace(const std::string& line) {
    if (FILE* f = open_for_append(state.trace_file)) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

void trace(const char* name, std::initializer_list<std::string> args) {
    std::string line = name;
    for (const auto& a : args) line += "|" + a;
    if (state.trace_file.empty())
        state.pending_trace.push_back(line);
    else
        append_trace(line);
}

// A JSON string literal of ASCII-safe content.
std::u16string json_string(const char16_t* text) {
    std::u16string out = u"\"";
    for (; text != nullptr && *text != 0; ++text) {
        const char16_t c = *text;
        if (c == u'"' || c == u'\\') {
            out += u'\\';
            out += c;
        } else if (c < 0x20) {
            static const char16_t hex[] = u"0123456789abcdef";
            out += u"\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += c;
        }
    }
    return out + u"\"";
}

// Ends a work export: the customer's choice (or at once), then the result text.
int32_t finish_work(const char16_t* work_id, const char16_t** result) {
    const bool ask = state.interactive && state.owner != nullptr && can_show_window(state.owner);
    if (ask && !customer_finishes(state.owner, "Work " + utf8(work_id) + "\nFinish to upload it, or cancel.")) {
        result_text = u"{\"exit_code\":\"1\",\"uploaded_list\":[]}";
        *result = result_text.c_str();
        return 0;
    }
    if (!state.result_json.empty()) {
        result_text = state.result_json;
    } else {
        result_text = u"{\"exit_code\":\"0\",\"uploaded_list\":[" +
                      json_string((std::u16string(work_id) + u".json").c_str()) + u"]}";
    }
    *result = result_text.c_str();
    return 1;
}

std::string number(int64_t n) {
    return std::to_string(n);
}

}  // namespace

extern "C" {

int32_t QUORLA_MODULE_CALL Initialize(quorla_owner_window owner, const char16_t* mode,
                                      const char16_t* install_path, const char16_t* reserved,
                                      const char16_t* config_host) {
    state = editor_state{};
    state.owner = owner;
    trace("Initialize", {number(reinterpret_cast<intptr_t>(owner)), utf8(mode), utf8(install_path),
                         utf8(reserved), utf8(config_host)});
    return 1;
}

int32_t QUORLA_MODULE_CALL InternalCall(const char16_t* name, const char16_t* value,
                                        const char16_t* reserved) {
    const std::u16string key = name != nullptr ? name : u"";
    if (key == u"trace_file" && value != nullptr && *value != 0) {
        state.trace_file = utf8(value);
        for (const auto& line : state.pending_trace) append_trace(line);
        state.pending_trace.clear();
    } else if (key == u"result_json") {
        state.result_json = value != nullptr ? value : u"";
    } else if (key == u"interactive") {
        state.interactive = value != nullptr && std::u16string(value) == u"true";
    }
    trace("InternalCall", {utf8(name), utf8(value), utf8(reserved)});
    return 1;
}

int32_t QUORLA_MODULE_CALL NewWork(const char16_t* config_url, const char16_t* editor_id,
                                   const char16_t* rsid, int32_t count, const char16_t** result) {
    trace("NewWork", {utf8(config_url), utf8(editor_id), utf8(rsid), number(count)});
    return finish_work(rsid, result);
}

int32_t QUORLA_MODULE_CALL OpenWork(const char16_t* config_url, const char16_t* editor_id,
                                    const char16_t* rsid, int32_t count, const char16_t** result) {
    trace("OpenWork", {utf8(config_url), utf8(editor_id), utf8(rsid), number(count)});
    return finish_work(rsid, result);
}

int32_t QUORLA_MODULE_CALL OpenLocalWork(const char16_t* lsid, const char16_t* editor_id,
                                         const char16_t** result) {
    trace("OpenLocalWork", {utf8(lsid), utf8(editor_id)});
    return finish_work(lsid, result);
}

int32_t QUORLA_MODULE_CALL OpenStorage(const char16_t* config_url, const char16_t* editor_id,
                                       const char16_t** result) {
    trace("OpenStorage", {utf8(config_url), utf8(editor_id)});
    return finish_work(editor_id, result);
}

int32_t QUORLA_MODULE_CALL DownloadWorks(const char16_t* rsid, const char16_t* user_id,
                                         const char16_t* storage_url, const char16_t** result) {
    trace("DownloadWorks", {utf8(rsid), utf8(user_id), utf8(storage_url)});
    return finish_work(rsid, result);
}

int32_t QUORLA_MODULE_CALL Uninitialize(void) {
    trace("Uninitialize", {});
    // result_text stays: the launcher copies it after this returns.
    return 1;
}

}  // extern "C"
