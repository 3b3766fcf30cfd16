# quorvel_warnings(target): the project's warning set, errors when QUORVEL_WERROR is on.
function(quorvel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
  if(QUORVEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# quorvel_core_library(name sources...): a static library of the headless core,
# includes written from the project root ("numeric/matrix.h").
function(quorvel_core_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_features(${name} PUBLIC cxx_std_20)
  # Let GCC vectorise loops whose trip count needs a remainder loop also at -O2; no
  # floating-point semantics change.
  target_compile_options(${name} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-fvect-cost-model=dynamic>)
  quorvel_warnings(${name})
endfunction()
