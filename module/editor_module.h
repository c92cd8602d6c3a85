/* The editor module ABI: the exports a module library provides to QuorlaLauncher.
 *
 * A module is a shared library exporting these eight functions with C linkage. Texts are
 * zero-terminated UTF-16 strings, valid only during the call. Results are 32-bit integers,
 * non-zero meaning success.
 *
 * The launcher calls Initialize first; then InternalCall once for every named value (when
 * exported); then the one work export the startup document's work mode selects; then
 * Uninitialize. A work export may store in *result a zero-terminated UTF-16 JSON text, the
 * edit result. The text stays the module's: the launcher copies it after Uninitialize has
 * returned and before it releases the library, and never frees it.
 *
 * The library stays mapped until the launcher's process ends, even after it is released:
 * threads that a module (or a library it uses) starts in Initialize and that outlive
 * Uninitialize keep running code that is still there. Module destructors run at process exit.
 *
 * On Linux, link the module with an $ORIGIN run path so that its own folder is searched first
 * for the libraries it depends on.
 */
#ifndef QUORLA_EDITOR_MODULE_H
#define QUORLA_EDITOR_MODULE_H

#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
#define QUORLA_MODULE_CALL __stdcall
typedef HWND quorla_owner_window;
#else
#define QUORLA_MODULE_CALL
/* The native id of the launcher's progress window (the X11 window id), or null. */
typedef void* quorla_owner_window;
#endif

#if !defined(__cplusplus) || !defined(__cpp_unicode_characters)
typedef uint_least16_t char16_t;
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* mode is "modal"; install_path is the absolute install folder (with a trailing separator);
 * reserved is empty; config_host is the host part of the configuration address. */
int32_t QUORLA_MODULE_CALL Initialize(quorla_owner_window owner, const char16_t* mode,
                                      const char16_t* install_path, const char16_t* reserved,
                                      const char16_t* config_host);
/* One named value from the startup document (or the launcher); reserved is empty. */
int32_t QUORLA_MODULE_CALL InternalCall(const char16_t* name, const char16_t* value,
                                        const char16_t* reserved);
/* Work mode "new_work". */
int32_t QUORLA_MODULE_CALL NewWork(const char16_t* config_url, const char16_t* editor_id,
                                   const char16_t* rsid, int32_t count, const char16_t** result);
/* Work mode "open_work". */
int32_t QUORLA_MODULE_CALL OpenWork(const char16_t* config_url, const char16_t* editor_id,
                                    const char16_t* rsid, int32_t count, const char16_t** result);
/* Work mode "open_local_work". */
int32_t QUORLA_MODULE_CALL OpenLocalWork(const char16_t* lsid, const char16_t* editor_id,
                                         const char16_t** result);
/* Work mode "open_storage". */
int32_t QUORLA_MODULE_CALL OpenStorage(const char16_t* config_url, const char16_t* editor_id,
                                       const char16_t** result);
/* Work mode "download_work". */
int32_t QUORLA_MODULE_CALL DownloadWorks(const char16_t* rsid, const char16_t* user_id,
                                         const char16_t* storage_url, const char16_t** result);
int32_t QUORLA_MODULE_CALL Uninitialize(void);

/* Pointer types of the exports, as the launcher looks them up. */
typedef int32_t(QUORLA_MODULE_CALL* quorla_initialize_fn)(quorla_owner_window, const char16_t*,
                                                          const char16_t*, const char16_t*,
                                                          const char16_t*);
typedef int32_t(QUORLA_MODULE_CALL* quorla_internal_call_fn)(const char16_t*, const char16_t*,
                                                             const char16_t*);
typedef int32_t(QUORLA_MODULE_CALL* quorla_work_fn)(const char16_t*, const char16_t*,
                                                    const char16_t*, int32_t, const char16_t**);
typedef int32_t(QUORLA_MODULE_CALL* quorla_open_local_work_fn)(const char16_t*, const char16_t*,
                                                               const char16_t**);
typedef int32_t(QUORLA_MODULE_CALL* quorla_open_storage_fn)(const char16_t*, const char16_t*,
                                                            const char16_t**);
typedef int32_t(QUORLA_MODULE_CALL* quorla_download_works_fn)(const char16_t*, const char16_t*,
                                                              const char16_t*, const char16_t**);
typedef int32_t(QUORLA_MODULE_CALL* quorla_uninitialize_fn)(void);

#ifdef __cplusplus
}
#endif

#endif
