#pragma once
// Execution preparation: the invocation arguments, request addresses, and the download and
// load of the startup document.
#include <string>
#include <vector>

#include "startup/arguments.h"
#include "startup/startup_file.h"

// Up to 5 GET attempts back to back; true on the first status 200, with the body in `buffer`.
// A proxy that wants credentials (407) ends them at once.
bool fetch_to_memory(std::vector<char>& buffer, const std::u16string& url);

// Parses the arguments into `key`, downloads and loads the startup document into `startup`
// and appends the three named values for the editor module.
bool prepare_execution(std::u16string& key, const std::u16string& arguments,
                       startup_file_xml& startup);
