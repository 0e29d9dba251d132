# Strict warnings for the project's own targets; third-party headers come in as
# system includes so their warnings never fail our build.
add_library(corvane_warnings INTERFACE)
target_compile_options(corvane_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
  -Wcast-align -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough)
if(CORVANE_WERROR)
  target_compile_options(corvane_warnings INTERFACE -Werror)
endif()
if(CMAKE_UNITY_BUILD)
  # Files compiled together share one anonymous namespace, so a type from it
  # inside a member struct or a coroutine's frame is no linkage risk; GCC warns
  # of it in every file but the first of a batch.
  target_compile_options(corvane_warnings INTERFACE -Wno-subobject-linkage)
endif()

if(CORVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

add_compile_definitions(CORVANE_VERSION="${PROJECT_VERSION}")

# Adds one library per architecture folder from the sources found in it (and in
# the listed subfolders), so a new file needs no build edit.
function(corvane_folder_library name)
  cmake_parse_arguments(ARG "" "" "DIRS;LINK" ${ARGN})
  set(sources)
  foreach(dir ${ARG_DIRS})
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.h)
    list(APPEND sources ${found})
  endforeach()
  if(NOT sources)
    return() # folder not written yet
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LINK} PRIVATE corvane_warnings)
endfunction()
