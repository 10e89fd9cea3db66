# Packs the Windows programs into one zip: cmake -DZIP=... -DSTAGE=...
# -DFILES="a|b" -P windows_zip.cmake. The files go to the top of the zip.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "|" ";" FILES "${FILES}")
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE})
set(names)
foreach(file IN LISTS FILES)
  get_filename_component(name ${file} NAME)
  file(COPY_FILE ${file} ${STAGE}/${name} ONLY_IF_DIFFERENT)
  list(APPEND names ${name})
endforeach()
file(REMOVE ${ZIP})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${ZIP} --format=zip ${names}
                WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not make ${ZIP}")
endif()
