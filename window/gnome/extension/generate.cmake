# Writes one format of the Shell extension into OUTPUT_DIR: the lines marked for
# FORMAT unmarked, those of the other format dropped, the allowed caller filled in.
#   cmake -DFORMAT=legacy|module -DUUID=... -DSHELL_VERSIONS=43,44 -DEXECUTABLE=...
#         -DSOURCE_DIR=... -DOUTPUT_DIR=... -P generate.cmake
if(FORMAT STREQUAL "legacy")
  set(other module)
else()
  set(other legacy)
endif()
file(READ ${SOURCE_DIR}/window_list.js script)
string(REGEX REPLACE "\n//@${other}[^\n]*" "" script "${script}")
string(REGEX REPLACE "\n//@${FORMAT} ?" "\n" script "${script}")
string(REPLACE "@TEVOLI_WINDOW_EXECUTABLE@" "${EXECUTABLE}" script "${script}")
file(WRITE ${OUTPUT_DIR}/extension.js "${script}")
string(REPLACE "," "\", \"" SHELL_VERSIONS "\"${SHELL_VERSIONS}\"")
configure_file(${SOURCE_DIR}/metadata.json.in ${OUTPUT_DIR}/metadata.json @ONLY)
