# cmake -D BUNDLE_NAME=... -D BUNDLE_ZIP=... -D STAGING_DIR=... -D BUNDLE_FILES=a;b;...
#       [-D STRIP=<triplet>-strip] -P make_bundle.cmake
#
# Stages the files and a sample STANAG.SET in STAGING_DIR/BUNDLE_NAME and
# zips that folder, so the zip unpacks into one folder of its own.
foreach(variable BUNDLE_NAME BUNDLE_ZIP STAGING_DIR BUNDLE_FILES)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "make_bundle.cmake: ${variable} is not set")
  endif()
endforeach()

set(folder ${STAGING_DIR}/${BUNDLE_NAME})
file(REMOVE_RECURSE ${STAGING_DIR})
file(MAKE_DIRECTORY ${folder})
file(COPY ${BUNDLE_FILES} DESTINATION ${folder})

# The debug symbols are for developers; users get programs half the size.
if(STRIP)
  file(GLOB programs ${folder}/*.exe)
  foreach(program ${programs})
    execute_process(COMMAND ${STRIP} --strip-all ${program} RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "make_bundle.cmake: ${STRIP} failed on ${program}")
    endif()
  endforeach()
endif()

# The pictures the README shows, so it reads the same from the zip.
foreach(file ${BUNDLE_FILES})
  get_filename_component(name ${file} NAME)
  if(name STREQUAL "README.md")
    get_filename_component(source_dir ${file} DIRECTORY)
    file(READ ${file} readme)
    string(REGEX MATCHALL "\\(docs/[A-Za-z0-9_.-]+\\.png\\)" pictures "${readme}")
    list(REMOVE_DUPLICATES pictures)
    foreach(picture ${pictures})
      string(REGEX REPLACE "^\\((.*)\\)$" "\\1" picture "${picture}")
      if(NOT EXISTS ${source_dir}/${picture})
        message(FATAL_ERROR "make_bundle.cmake: the README shows ${picture}, which does not exist")
      endif()
      file(COPY ${source_dir}/${picture} DESTINATION ${folder}/docs)
    endforeach()
  endif()
endforeach()

# The settings file both programs read: the defaults, one value per line.
# The lines must end in CR LF: the programs' reader does not take a lone
# line feed as a separator, and Notepad shows such a file on one line.
file(WRITE ${folder}/STANAG.SET "8000\r\n1500\r\n")

file(REMOVE ${BUNDLE_ZIP})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E tar cf ${BUNDLE_ZIP} --format=zip ${BUNDLE_NAME}
  WORKING_DIRECTORY ${STAGING_DIR}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "make_bundle.cmake: zipping ${BUNDLE_NAME} failed: ${result}")
endif()
