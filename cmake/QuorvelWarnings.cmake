# quorvel_warnings(target): the project's warning set, errors when QUORVEL_WERROR is on.
function(quorvel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
  if(QUORVEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# quorvel_folder_includes(name): includes are written from the project root
# ("numeric/matrix.h"), but a library sees only its own folder and the folders of the
# targets it links. Each library exports a staging folder that holds a link to its own
# source folder and nothing else, so an include of a folder the target does not link
# fails to compile.
function(quorvel_folder_includes name)
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set(stage ${PROJECT_BINARY_DIR}/include/${name})
  get_filename_component(parent ${stage}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT EXISTS ${stage}/${folder})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${stage}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${name} PUBLIC ${stage})
endfunction()

# quorvel_core_library(name sources...): a static library of the headless core, one per
# folder, with its folder's includes.
function(quorvel_core_library name)
  add_library(${name} STATIC ${ARGN})
  quorvel_folder_includes(${name})
  target_compile_features(${name} PUBLIC cxx_std_20)
  # Let GCC vectorise loops whose trip count needs a remainder loop also at -O2; no
  # floating-point semantics change.
  target_compile_options(${name} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-fvect-cost-model=dynamic>)
  quorvel_warnings(${name})
endfunction()
