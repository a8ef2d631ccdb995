# Writes the header every module's version resource includes:
#   cmake -DVERSION=1.1.1.0 -DSOURCE_DIR=... -DOUT=.../k482_version.h -P write_version.cmake
# The product version comes from project() in the top-level CMakeLists.txt,
# the only place it is set; the commit is the source tree's at build time,
# with "+changes" when tracked files differ from it. The file is rewritten
# only when its content changes, so an unchanged tree rebuilds nothing.
execute_process(COMMAND git -C "${SOURCE_DIR}" rev-parse --short=12 HEAD
                OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
if(failed OR commit STREQUAL "")
  set(commit "unknown")
else()
  execute_process(COMMAND git -C "${SOURCE_DIR}" status --porcelain --untracked-files=no
                  OUTPUT_VARIABLE changes OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT changes STREQUAL "")
    string(APPEND commit "+changes")
  endif()
endif()
string(REPLACE "." "," binary "${VERSION}")
file(CONFIGURE OUTPUT "${OUT}" CONTENT "// Written by cmake/write_version.cmake at build time.
#define K482_VERSION_BINARY ${binary}
#define K482_VERSION_TEXT \"${VERSION}\"
#define K482_COMMIT_TEXT \"${commit}\"
" @ONLY)
