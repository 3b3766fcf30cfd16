cmake_minimum_required(VERSION 3.25)
# Checks that every folder of the program includes only the folders below it:
#   cmake -DROOT=<source tree> -P check_layering.cmake
# Fails (with each offending include named) when a file includes a folder its own folder
# may not see, or when a folder of the tree has no entry in the table below.

# Each folder and the folders it may include (its own included), lowest layer first.
set(layers
  "xls:xls"
  "cellvalues:cellvalues"
  "archive:archive,xls"
  "xlsx:xlsx,archive,xls,cellvalues"
  "ods:ods,archive,xls,cellvalues"
  "csv:csv,xls,cellvalues"
  "workbook:workbook,xls,archive,xlsx,ods,csv"
  "numeric:numeric"
  "io:io"
  "app/state:app/state"
  "import:import,xls,numeric,io"
  "analysis:analysis,import,numeric"
  "report:report,analysis,import,numeric"
  "export:export,analysis,import,numeric,io"
  "app/commands:app/commands,app/state,import,analysis,report,export,io,workbook,xls,numeric"
  "cli:cli,app/commands,app/state,import,analysis,report,export,io,workbook,xls,numeric"
  "app/qt:app/qt,app/commands,app/state,import,analysis,report,export,io,workbook,xls,numeric")
# Folders of the tree that hold no program code.
set(ignored tests bench docs examples scripts cmake build .git .cache out)

if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source tree> -P check_layering.cmake")
endif()

set(problems "")
set(known "")
foreach(layer ${layers})
  string(REPLACE ":" ";" parts "${layer}")
  list(GET parts 0 folder)
  list(GET parts 1 allowedText)
  string(REPLACE "," ";" allowed "${allowedText}")
  list(APPEND known ${folder})
  file(GLOB_RECURSE sources LIST_DIRECTORIES false "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp")
  foreach(source ${sources})
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line ${includes})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*$" "\\1" header "${line}")
      if(NOT header MATCHES "/")
        continue()  # a header beside the file, or a generated one
      endif()
      set(ok FALSE)
      foreach(prefix ${allowed})
        string(LENGTH "${prefix}/" length)
        string(SUBSTRING "${header}" 0 ${length} start)
        if(start STREQUAL "${prefix}/")
          # app/commands may not pass for app/qt: the prefix ends at a separator.
          set(ok TRUE)
        endif()
      endforeach()
      if(NOT ok)
        file(RELATIVE_PATH where "${ROOT}" "${source}")
        string(APPEND problems "\n  ${where} includes \"${header}\", which ${folder}/ may not see")
      endif()
    endforeach()
  endforeach()
endforeach()

# Every top-level folder with C++ in it must have a place in the table.
file(GLOB entries LIST_DIRECTORIES true "${ROOT}/*")
foreach(entry ${entries})
  if(NOT IS_DIRECTORY "${entry}")
    continue()
  endif()
  get_filename_component(name "${entry}" NAME)
  if(name IN_LIST ignored OR name STREQUAL "app" OR EXISTS "${entry}/CMakeCache.txt")
    continue()  # not program code, or a build tree made beside the sources
  endif()
  file(GLOB_RECURSE code LIST_DIRECTORIES false "${entry}/*.cpp" "${entry}/*.h")
  if(code AND NOT name IN_LIST known)
    string(APPEND problems "\n  folder ${name}/ has no place in the layering table")
  endif()
endforeach()

if(problems)
  message(FATAL_ERROR "layering broken:${problems}")
endif()
message(STATUS "layering holds")
