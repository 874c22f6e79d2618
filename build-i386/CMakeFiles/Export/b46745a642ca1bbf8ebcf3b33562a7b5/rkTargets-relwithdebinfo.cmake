#----------------------------------------------------------------
# Generated CMake target import file for configuration "RelWithDebInfo".
#----------------------------------------------------------------

# Commands may need to know the format version.
set(CMAKE_IMPORT_FILE_VERSION 1)

# Import target "rk::rk" for configuration "RelWithDebInfo"
set_property(TARGET rk::rk APPEND PROPERTY IMPORTED_CONFIGURATIONS RELWITHDEBINFO)
set_target_properties(rk::rk PROPERTIES
  IMPORTED_LOCATION_RELWITHDEBINFO "${_IMPORT_PREFIX}/lib/librk.so.7.5.0"
  IMPORTED_SONAME_RELWITHDEBINFO "librk.so.7"
  )

list(APPEND _cmake_import_check_targets rk::rk )
list(APPEND _cmake_import_check_files_for_rk::rk "${_IMPORT_PREFIX}/lib/librk.so.7.5.0" )

# Commands beyond this point should not need to know the version.
set(CMAKE_IMPORT_FILE_VERSION)
