# veltrane_layer(<target> FOLDER <folder> [HEADERS <h>...] [SOURCES <cpp>...] [LINKS <target>...])
#
# One layer of the program: a static library (an interface library when it
# has no sources) over the listed files, relative to the current source
# folder. Its
# headers are seen as "<folder>/<name>.h" by the layer itself and by the
# targets that link it, and by nothing else: the include root of a layer is
# <build>/include/<target>/, which holds a link to each of its listed headers
# and nothing more. No target has src/ on its include path, so a file that
# includes a header of a layer its target does not link fails to compile.
function(veltrane_layer target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "FOLDER" "HEADERS;SOURCES;LINKS")
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  file(MAKE_DIRECTORY ${root}/${arg_FOLDER})
  set(names "")
  foreach(header ${arg_HEADERS})
    get_filename_component(name ${header} NAME)
    list(APPEND names ${name})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${header} ${root}/${arg_FOLDER}/${name} SYMBOLIC)
  endforeach()
  # A header taken off the list is gone from the include root too.
  file(GLOB present LIST_DIRECTORIES false RELATIVE ${root}/${arg_FOLDER} ${root}/${arg_FOLDER}/*)
  foreach(name ${present})
    if(NOT name IN_LIST names)
      file(REMOVE ${root}/${arg_FOLDER}/${name})
    endif()
  endforeach()
  if(arg_SOURCES)
    add_library(${target} STATIC ${arg_SOURCES} ${arg_HEADERS})
    target_include_directories(${target} PUBLIC ${root})
    target_link_libraries(${target} PUBLIC ${arg_LINKS})
  else()
    add_library(${target} INTERFACE ${arg_HEADERS})
    target_include_directories(${target} INTERFACE ${root})
    target_link_libraries(${target} INTERFACE ${arg_LINKS})
  endif()
endfunction()
