#pragma once
// Execution preparation: the invocation arguments, request addresses, and the download and
// load of the startup document.
#include <string>
#include <vector>

#include "startup/startup_file.h"

// Splits "key=K&svr=S" (either order) into the work key (unchanged) and the server address
// (URL-decoded). On failure the outputs are left as they were.
bool parse_invocation_arguments(std::u16string& key, const std::u16string& arguments,
                                std::u16string& server);

// base (one trailing "/" removed) + "?" when it has none + key=K + the extra parameter,
// then url_encode in `mode`.
std::u16string compose_request_url(const std::u16string& parameter, int mode,
                                   const std::u16string& base, const std::u16string& key);

// Up to 5 GET attempts back to back; true on the first status 200, with the body in `buffer`.
bool fetch_to_memory(std::vector<char>& buffer, const std::u16string& url);

// Parses the arguments into `key`, downloads and loads the startup document into `startup`
// and appends the three named values for the editor module.
bool prepare_execution(std::u16string& key, const std::u16string& arguments,
                       startup_file_xml& startup);
