# Lays out one release folder and zips it:
#   cmake -DPACKAGE_DIR=... -DZIP=... -DSETUP=... -DPROVIDER=... -DUI=... [-DUI32=...]
#         -DREADMES=a|b|... [-DEXTRA=a|b|...] -P package.cmake
# The folder holds setup.exe, the modules under the names setup copies them
# from, and the read-me texts; the zip holds the folder.
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
file(COPY_FILE "${SETUP}" "${PACKAGE_DIR}/setup.exe")
file(COPY_FILE "${PROVIDER}" "${PACKAGE_DIR}/k482tsp.ts0")
file(COPY_FILE "${UI}" "${PACKAGE_DIR}/ui482tsp.dl0")
if(DEFINED UI32)
  file(COPY_FILE "${UI32}" "${PACKAGE_DIR}/ui482tsp32.dl0")
endif()
foreach(file IN LISTS READMES EXTRA)
  get_filename_component(name "${file}" NAME)
  file(COPY_FILE "${file}" "${PACKAGE_DIR}/${name}")
endforeach()

if(DEFINED ZIP)
  get_filename_component(parent "${PACKAGE_DIR}" DIRECTORY)
  get_filename_component(folder "${PACKAGE_DIR}" NAME)
  file(REMOVE "${ZIP}")
  execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${ZIP}" --format=zip "${folder}"
                  WORKING_DIRECTORY "${parent}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "package: could not write ${ZIP}")
  endif()
endif()
