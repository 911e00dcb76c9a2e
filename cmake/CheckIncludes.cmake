# The layering of the program's folders, checked on the sources:
#   cmake -DSOURCE_DIR=<root> -P cmake/CheckIncludes.cmake
# The folder view (browser/) and the device dialogs (device/) never include
# the application shell (app/); the framework (framework/) includes only
# itself. A file that breaks a rule is named with its include, and the
# script fails.
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "CheckIncludes: SOURCE_DIR not set")
endif()

# folder;forbidden include prefixes (a regular expression)
set(rules
  "browser|app/"
  "device|app/|browser/"
  "framework|app/|browser/|device/|document/"
)

set(broken 0)
foreach(rule IN LISTS rules)
  string(REPLACE "|" ";" parts "${rule}")
  list(GET parts 0 folder)
  list(REMOVE_AT parts 0)
  string(REPLACE ";" "|" forbidden "${parts}")
  file(GLOB_RECURSE sources "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    foreach(line IN LISTS includes)
      if(line MATCHES "#[ \t]*include[ \t]*[\"<](${forbidden})")
        file(RELATIVE_PATH name "${SOURCE_DIR}" "${source}")
        string(STRIP "${line}" line)
        message(SEND_ERROR "${name}: ${line} (${folder}/ must not include ${CMAKE_MATCH_1})")
        set(broken 1)
      endif()
    endforeach()
  endforeach()
endforeach()
if(broken)
  message(FATAL_ERROR "CheckIncludes: the include rules are broken")
endif()
message(STATUS "CheckIncludes: the include rules hold")
