# Lays out one release folder and zips it:
#   cmake -DPACKAGE_DIR=... -DSETUP=... -DPROVIDER=... -DUI=... [-DUI32=...]
#         -DREADMES=a|b|... [-DEXTRA=a|b|...]
#         [-DZIP=... -DSYMBOLS_DIR=... -DSYMBOLS_ZIP=... -DOBJCOPY=... -DOBJDUMP=... -DWINDRES=...
#          -DVERSION=... -DCHECK=.../check-package.sh] -P package.cmake
# The folder holds setup.exe, the modules under the names setup copies them
# from, and the read-me texts; the zip holds the folder. A release (ZIP given)
# ships the modules stripped, their debug information in SYMBOLS_DIR under
# the installed names (k482tsp.tsp.debug ...; the 32-bit UI module's in
# wow64/), linked from each module by name and CRC, and zipped apart; the
# folder must pass CHECK before it is zipped.
string(REPLACE "|" ";" READMES "${READMES}")
string(REPLACE "|" ";" EXTRA "${EXTRA}")
foreach(file IN ITEMS "${SETUP}" "${PROVIDER}" "${UI}" ${READMES} ${EXTRA})
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "package: ${file} is missing")
  endif()
endforeach()
if(DEFINED UI32 AND NOT EXISTS "${UI32}")
  message(FATAL_ERROR
    "package: the x64 package needs the 32-bit UI module, and ${UI32} does not exist. "
    "Build the windows-x86 preset first (cmake --preset windows-x86 && cmake --build --preset windows-x86), "
    "or point K482_X86_BUILD_DIR at an x86 build.")
endif()

file(REMOVE_RECURSE "${PACKAGE_DIR}")
file(MAKE_DIRECTORY "${PACKAGE_DIR}")
if(DEFINED SYMBOLS_DIR)
  file(REMOVE_RECURSE "${SYMBOLS_DIR}")
  file(MAKE_DIRECTORY "${SYMBOLS_DIR}")
endif()

# One module into the folder: stripped, with its debug information beside
# the build, for a release; as built otherwise.
function(ship from name debug_name)
  if(NOT DEFINED OBJCOPY)
    file(COPY_FILE "${from}" "${PACKAGE_DIR}/${name}")
    return()
  endif()
  set(debug "${SYMBOLS_DIR}/${debug_name}")
  get_filename_component(debug_dir "${debug}" DIRECTORY)
  file(MAKE_DIRECTORY "${debug_dir}")
  execute_process(COMMAND "${OBJCOPY}" --only-keep-debug "${from}" "${debug}" RESULT_VARIABLE failed)
  if(NOT failed)
    execute_process(COMMAND "${OBJCOPY}" --strip-all "--add-gnu-debuglink=${debug}" "${from}" "${PACKAGE_DIR}/${name}"
                    RESULT_VARIABLE failed)
  endif()
  if(failed)
    message(FATAL_ERROR "package: could not strip ${from}")
  endif()
endfunction()

ship("${SETUP}" setup.exe setup.exe.debug)
ship("${PROVIDER}" k482tsp.ts0 k482tsp.tsp.debug)
ship("${UI}" ui482tsp.dl0 ui482tsp.dll.debug)
if(DEFINED UI32)
  ship("${UI32}" ui482tsp32.dl0 wow64/ui482tsp.dll.debug)
endif()
foreach(file IN LISTS READMES EXTRA)
  get_filename_component(name "${file}" NAME)
  file(COPY_FILE "${file}" "${PACKAGE_DIR}/${name}")
endforeach()

if(DEFINED CHECK)
  execute_process(COMMAND bash "${CHECK}" "${OBJDUMP}" "${WINDRES}" "${VERSION}" "${PACKAGE_DIR}" "${SYMBOLS_DIR}"
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "package: ${PACKAGE_DIR} is not fit to ship (see above)")
  endif()
endif()

function(zip_folder folder_path zip)
  get_filename_component(parent "${folder_path}" DIRECTORY)
  get_filename_component(folder "${folder_path}" NAME)
  file(REMOVE "${zip}")
  execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${zip}" --format=zip "${folder}"
                  WORKING_DIRECTORY "${parent}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "package: could not write ${zip}")
  endif()
endfunction()

if(DEFINED ZIP)
  zip_folder("${PACKAGE_DIR}" "${ZIP}")
endif()
if(DEFINED SYMBOLS_ZIP)
  zip_folder("${SYMBOLS_DIR}" "${SYMBOLS_ZIP}")
endif()
