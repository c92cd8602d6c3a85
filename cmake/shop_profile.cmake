# Shop profiles and the packaging rule. `quorla-pack --new-shop DIR` writes DIR/shop.cmake, a
# CMake initial cache (`cmake -C DIR/shop.cmake`) that sets QUORLA_SHOP_PROFILE with the
# shop's scheme, servers, keys and TLS verification. What a shop ships is built from one:
# `make package` and `make windows-package` refuse a build that lacks its settings, unless
# INSECURE=1 asks for an open package for demos, which is marked as such.
option(QUORLA_SHOP_PROFILE "Built from a shop profile: TLS verified, own servers only, HTTPS only, signed manifests" OFF)
option(QUORLA_ALLOW_HTTP "A profile build that also takes plain http addresses" OFF)
option(QUORLA_INSECURE_PACKAGE "An open package for demos, marked in its name and start banner" OFF)
option(QUORLA_PACKAGE_BUILD "Set by make package and make windows-package: refuse a build that is not locked down" OFF)
set(QUORLA_SHOP_NAME "" CACHE STRING "The shop's product name")
set(QUORLA_SIGNING_KEY_FILE "" CACHE FILEPATH "The shop's private signing key, for packing; never built in")

set(quorla_missing_settings "")
if(NOT QUORLA_ALLOWED_SERVERS)
  list(APPEND quorla_missing_settings "QUORLA_ALLOWED_SERVERS (the shop's hosts)")
endif()
if(NOT QUORLA_MANIFEST_PUBLIC_KEY)
  list(APPEND quorla_missing_settings "QUORLA_MANIFEST_PUBLIC_KEY (the shop's manifest signing key)")
endif()
if(NOT QUORLA_VERIFY_TLS)
  list(APPEND quorla_missing_settings "QUORLA_VERIFY_TLS=ON")
endif()
list(JOIN quorla_missing_settings ", " quorla_missing_text)
string(CONCAT quorla_profile_hint
       "Make a profile once with\n  quorla-pack --new-shop DIR --scheme myshop --servers 'shop.example,*.cdn.example'\n"
       "then build with cmake -C DIR/shop.cmake, or make package SHOP=DIR/shop.cmake and make windows-package "
       "SHOP=DIR/shop.cmake.")
if(QUORLA_SHOP_PROFILE AND quorla_missing_settings)
  message(FATAL_ERROR "This shop profile lacks: ${quorla_missing_text}.\n${quorla_profile_hint}")
endif()
# A profile's launcher fetches only https addresses, its own release folder included: say so
# now rather than leave a launcher that never finds its releases.
if(QUORLA_SHOP_PROFILE AND NOT QUORLA_ALLOW_HTTP AND QUORLA_LAUNCHER_UPDATE_URL MATCHES "^http://")
  message(FATAL_ERROR "QUORLA_LAUNCHER_UPDATE_URL must be an https:// address in a shop profile "
                      "(QUORLA_ALLOW_HTTP is off), got: '${QUORLA_LAUNCHER_UPDATE_URL}'")
endif()
# Nor one outside the servers it may talk to.
if(QUORLA_LAUNCHER_UPDATE_URL AND QUORLA_ALLOWED_SERVERS)
  string(REGEX REPLACE "^https?://([^/:]*).*$" "\\1" quorla_release_host "${QUORLA_LAUNCHER_UPDATE_URL}")
  string(TOLOWER "${quorla_release_host}" quorla_release_host)
  string(REGEX REPLACE "[,; \t]+" ";" quorla_servers "${QUORLA_ALLOWED_SERVERS}")
  set(quorla_release_host_allowed OFF)
  foreach(server IN LISTS quorla_servers)
    string(TOLOWER "${server}" server)
    if(server STREQUAL quorla_release_host)
      set(quorla_release_host_allowed ON)
    elseif(server MATCHES "^\\*(\\..+)$")
      set(suffix "${CMAKE_MATCH_1}")
      string(LENGTH "${suffix}" suffix_length)
      string(LENGTH "${quorla_release_host}" host_length)
      if(host_length GREATER suffix_length)
        math(EXPR start "${host_length} - ${suffix_length}")
        string(SUBSTRING "${quorla_release_host}" ${start} -1 tail)
        if(tail STREQUAL suffix)
          set(quorla_release_host_allowed ON)
        endif()
      endif()
    endif()
  endforeach()
  if(NOT quorla_release_host_allowed)
    message(FATAL_ERROR "QUORLA_LAUNCHER_UPDATE_URL names host '${quorla_release_host}', which is not one of "
                        "QUORLA_ALLOWED_SERVERS (${QUORLA_ALLOWED_SERVERS}): the launcher would refuse it")
  endif()
endif()
if(QUORLA_SHOP_PROFILE AND QUORLA_INSECURE_PACKAGE)
  message(FATAL_ERROR "QUORLA_INSECURE_PACKAGE does not go with a shop profile")
endif()
if(QUORLA_PACKAGE_BUILD AND NOT QUORLA_INSECURE_PACKAGE AND quorla_missing_settings)
  message(FATAL_ERROR "A package is what a shop ships, and this build is not locked down: it lacks "
                      "${quorla_missing_text}.\n${quorla_profile_hint}\n"
                      "INSECURE=1 builds an open package for demos, marked as insecure.")
endif()
if(QUORLA_INSECURE_PACKAGE)
  string(APPEND QUORLA_PACKAGE_NAME "-insecure")
endif()

# The tests' own launchers (quorla_test_launcher, cmake/quorla.cmake) trust the servers, keys
# and certificate authority a test gives them: a shop's build never has them. Off by default in a
# profile or package build, and refused there when asked for.
if(QUORLA_SHOP_PROFILE OR QUORLA_PACKAGE_BUILD)
  set(quorla_test_launchers_default OFF)
else()
  set(quorla_test_launchers_default ON)
endif()
option(QUORLA_TEST_LAUNCHERS "Build the tests' own launchers (trust settings a test gives; never in a profile or package build)"
       ${quorla_test_launchers_default})
if(QUORLA_TEST_LAUNCHERS AND (QUORLA_SHOP_PROFILE OR QUORLA_PACKAGE_BUILD))
  message(FATAL_ERROR "QUORLA_TEST_LAUNCHERS does not go with a shop profile or a package build: the tests' "
                      "launchers trust a test's own certificate authority and keys. Configure with "
                      "-DQUORLA_TEST_LAUNCHERS=OFF (a build folder configured before without the profile keeps it ON).")
endif()

# Values for the generated configuration header.
set(QUORLA_SHOP_PROFILE_VALUE 0)
set(QUORLA_HTTPS_ONLY_VALUE 0)
set(QUORLA_INSECURE_PACKAGE_VALUE 0)
set(QUORLA_PACKAGE_BUILD_VALUE 0)
if(QUORLA_PACKAGE_BUILD)
  set(QUORLA_PACKAGE_BUILD_VALUE 1)
endif()
if(QUORLA_SHOP_PROFILE)
  set(QUORLA_SHOP_PROFILE_VALUE 1)
  if(NOT QUORLA_ALLOW_HTTP)
    set(QUORLA_HTTPS_ONLY_VALUE 1)
  endif()
endif()
if(QUORLA_INSECURE_PACKAGE)
  set(QUORLA_INSECURE_PACKAGE_VALUE 1)
endif()
