# The Windows installer (`make windows-package`): the settings install/windows/build-msi packs
# the launcher with, written at configure time so that the installer tests build their
# packages exactly as the shop's build does.
#
# A shop's branded installer (QUORLA_URL_SCHEME) is a product of its own, as its Debian package
# is: its own name, folder, file name and upgrade code, so that two shops' installers never
# replace one another. The codes are derived from the scheme and stay the same from version to
# version, which is what lets a newer package upgrade an older one in place.
set(quorla_msi_upgrade_code 4d1f28a5-bff7-4e9c-95bb-f4a7846bac01)
if(QUORLA_URL_SCHEME STREQUAL "quorla")
  set(quorla_msi_product "QuorlaLauncher")
  set(quorla_msi_folder "QuorlaLauncher")
else()
  string(UUID quorla_msi_upgrade_code NAMESPACE ${quorla_msi_upgrade_code} NAME "${QUORLA_URL_SCHEME}" TYPE SHA1)
  set(quorla_msi_product "QuorlaLauncher (${QUORLA_URL_SCHEME})")
  set(quorla_msi_folder "QuorlaLauncher-${QUORLA_URL_SCHEME}")
endif()
# An open demo package (INSECURE=1) is a product of its own too: it never upgrades, or is
# taken for, the shop's locked-down one.
if(QUORLA_INSECURE_PACKAGE)
  string(UUID quorla_msi_upgrade_code NAMESPACE ${quorla_msi_upgrade_code} NAME insecure TYPE SHA1)
  string(APPEND quorla_msi_product " (insecure)")
  string(APPEND quorla_msi_folder "-insecure")
endif()
string(UUID quorla_msi_launcher_guid NAMESPACE ${quorla_msi_upgrade_code} NAME launcher TYPE SHA1)
string(UUID quorla_msi_scheme_guid NAMESPACE ${quorla_msi_upgrade_code} NAME scheme TYPE SHA1)

# What the package holds, brought up to date by `make windows-package`. The launcher joins the
# Windows build with its Win32 window; until then there is nothing to pack.
if(TARGET quorla-launcher)
  set(quorla_msi_launcher $<TARGET_FILE:quorla-launcher>)
  add_custom_target(quorla_msi_inputs DEPENDS quorla-launcher)
else()
  set(quorla_msi_launcher ${CMAKE_BINARY_DIR}/bin/quorla-launcher.exe)
  add_custom_target(quorla_msi_inputs
    COMMAND ${CMAKE_COMMAND} -E echo "windows-package: this Windows build has no quorla-launcher.exe yet"
    COMMAND ${CMAKE_COMMAND} -E false)
endif()
set(QUORLA_MSI_SETTINGS ${CMAKE_BINARY_DIR}/install/msi-settings.sh)
file(GENERATE OUTPUT ${QUORLA_MSI_SETTINGS} CONTENT "# Written by CMake (install/windows/msi.cmake); read by install/windows/build-msi.
QUORLA_MSI_VERSION='${QUORLA_VERSION}'
QUORLA_MSI_SCHEME='${QUORLA_URL_SCHEME}'
QUORLA_MSI_PRODUCT='${quorla_msi_product}'
QUORLA_MSI_MANUFACTURER='QuorlaLauncher'
QUORLA_MSI_FOLDER='${quorla_msi_folder}'
QUORLA_MSI_FILE_STEM='${QUORLA_PACKAGE_NAME}'
QUORLA_MSI_UPGRADE_CODE='${quorla_msi_upgrade_code}'
QUORLA_MSI_LAUNCHER_GUID='${quorla_msi_launcher_guid}'
QUORLA_MSI_SCHEME_GUID='${quorla_msi_scheme_guid}'
QUORLA_MSI_LAUNCHER='${quorla_msi_launcher}'
QUORLA_MSI_COPYRIGHT='${CMAKE_SOURCE_DIR}/install/copyright'
QUORLA_MSI_ICON_PNG='${CMAKE_SOURCE_DIR}/res/app_icon.png'
")
