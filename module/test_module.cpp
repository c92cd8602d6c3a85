// A module for the host's tests. Each TEST_MODULE_* switch leaves out or breaks one thing.
// Every call is appended as one line to the file named by $QUORLA_TEST_TRACE.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "module/editor_module.h"
#include "text/text.h"

namespace {

void trace(const std::string& line) {
    const char* path = std::getenv("QUORLA_TEST_TRACE");
    if (path == nullptr) return;
    if (FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

std::string s(const char16_t* text) { return text ? "[" + to_utf8(text) + "]" : "(null)"; }

const char16_t kResult[] = u"{\"exit_code\":\"0\",\"uploaded_list\":[\"w.json\"]}";

int32_t finish(const char16_t** result) {
#if !defined(TEST_MODULE_WORK_STORES_NOTHING)
    *result = kResult;
#else
    (void)result;
#endif
#if defined(TEST_MODULE_WORK_FAILS_WITH_TEXT)
    return 0;
#else
    return 1;
#endif
}

}  // namespace

extern "C" {

#if !defined(TEST_MODULE_NO_INITIALIZE)
int32_t QUORLA_MODULE_CALL Initialize(quorla_owner_window owner, const char16_t* mode, const char16_t* install_path,
                   const char16_t* reserved, const char16_t* config_host) {
    trace("Initialize " + std::to_string(reinterpret_cast<uintptr_t>(owner)) + " " + s(mode) + " " +
          s(install_path) + " " + s(reserved) + " " + s(config_host));
#if defined(TEST_MODULE_THREAD_OUTLIVES)
    // Like a library that keeps a worker thread: it runs module code after Uninitialize.
    std::thread([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        trace("thread still running");
    }).detach();
#endif
#if defined(TEST_MODULE_INITIALIZE_FAILS)
    return 0;
#else
    return 1;
#endif
}
#endif

#if !defined(TEST_MODULE_NO_INTERNAL_CALL)
int32_t QUORLA_MODULE_CALL InternalCall(const char16_t* name, const char16_t* value, const char16_t* reserved) {
    trace("InternalCall " + s(name) + " " + s(value) + " " + s(reserved));
    return 1;
}
#endif

#if !defined(TEST_MODULE_NO_NEW_WORK)
int32_t QUORLA_MODULE_CALL NewWork(const char16_t* config_url, const char16_t* editor_id, const char16_t* rsid,
                int32_t count, const char16_t** result) {
    trace("NewWork " + s(config_url) + " " + s(editor_id) + " " + s(rsid) + " " + std::to_string(count) +
          " " + (*result == nullptr ? "null" : "set"));
    return finish(result);
}
#endif

#if !defined(TEST_MODULE_NO_OPEN_WORK)
int32_t QUORLA_MODULE_CALL OpenWork(const char16_t* config_url, const char16_t* editor_id, const char16_t* rsid,
                 int32_t count, const char16_t** result) {
    trace("OpenWork " + s(config_url) + " " + s(editor_id) + " " + s(rsid) + " " + std::to_string(count));
    return finish(result);
}
#endif

#if !defined(TEST_MODULE_NO_OPEN_LOCAL_WORK)
int32_t QUORLA_MODULE_CALL OpenLocalWork(const char16_t* lsid, const char16_t* editor_id, const char16_t** result) {
    trace("OpenLocalWork " + s(lsid) + " " + s(editor_id));
    return finish(result);
}
#endif

#if !defined(TEST_MODULE_NO_OPEN_STORAGE)
int32_t QUORLA_MODULE_CALL OpenStorage(const char16_t* config_url, const char16_t* editor_id, const char16_t** result) {
    trace("OpenStorage " + s(config_url) + " " + s(editor_id));
    return finish(result);
}
#endif

#if !defined(TEST_MODULE_NO_DOWNLOAD_WORKS)
int32_t QUORLA_MODULE_CALL DownloadWorks(const char16_t* rsid, const char16_t* user_id, const char16_t* storage_url,
                      const char16_t** result) {
    trace("DownloadWorks " + s(rsid) + " " + s(user_id) + " " + s(storage_url));
    return finish(result);
}
#endif

#if !defined(TEST_MODULE_NO_UNINITIALIZE)
int32_t QUORLA_MODULE_CALL Uninitialize(void) {
    trace("Uninitialize");
    return 1;
}
#endif

}  // extern "C"
