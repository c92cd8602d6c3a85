#pragma once
// Brings the installed editor module up to date before the editor runs.
#include <chrono>
#include <string>
#include <vector>

#include "host/window.h"
#include "startup/startup_file.h"
#include "update/manifest.h"

// The whole update: manifest, stale files deleted, each needed archive fetched once,
// unpacked, checked and moved into the install folder. Sets the module file name.
bool update_module(host::window* window, const startup_file_xml& startup,
                   std::u16string& module_file);

// Fetches and loads the manifest at manifest_base + "activeupdate.xml", sets the module file
// name from it, deletes stale installed files and lists the entries that need updating.
bool collect_updates(const std::u16string& install_folder, std::vector<update_file_entry>& updates,
                     const std::u16string& manifest_base, std::u16string& module_file);

// Downloads the address into `target` through `target` + ".tmp~", up to 5 attempts.
bool download_to_file(const std::u16string& url, const std::u16string& target);

// How long a launcher waits for another that holds the install folder's update.lock before
// it gives the update up. Tests shorten it.
std::chrono::milliseconds& update_lock_wait_limit();

// Lets the window process whatever is pending.
void drain_window_messages();
