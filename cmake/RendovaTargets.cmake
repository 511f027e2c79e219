# Helpers shared by the layer, test and fuzz folders.

# rendova_include_root(<target> <PUBLIC|INTERFACE>)
# Gives the target an include folder in the build tree that holds a link to
# its own source folder and nothing else, under the same path as in the
# source tree ("engine/core/..."). Includes are written from the project
# root, so a layer sees exactly the layers it links: an include of a layer
# above it, or beside it, finds no file and fails to compile.
function(rendova_include_root target scope)
  file(RELATIVE_PATH folder "${PROJECT_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}")
  string(REPLACE "/" "-" root_name "${folder}")
  set(root "${PROJECT_BINARY_DIR}/include/${root_name}")
  get_filename_component(parent "${root}/${folder}" DIRECTORY)
  file(MAKE_DIRECTORY "${parent}")
  file(CREATE_LINK "${CMAKE_CURRENT_SOURCE_DIR}" "${root}/${folder}" SYMBOLIC)
  target_include_directories(${target} ${scope} "${root}")
endfunction()

# rendova_conversion_warnings(<target>)
# -Wconversion and -Wsign-conversion, as errors, on a layer's own sources when
# RENDOVA_CONVERSION_LAYERS or RENDOVA_SIGN_CONVERSION_LAYERS name its folder.
# The headers of the layers below are checked with it where it includes them.
function(rendova_conversion_warnings target)
  file(RELATIVE_PATH folder "${PROJECT_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}")
  if(folder IN_LIST RENDOVA_CONVERSION_LAYERS)
    target_compile_options(${target} PRIVATE -Wconversion -Werror=conversion)
  endif()
  if(folder IN_LIST RENDOVA_SIGN_CONVERSION_LAYERS)
    target_compile_options(${target} PRIVATE -Wsign-conversion -Werror=sign-conversion)
  endif()
endfunction()

# rendova_layer(<target> [PUBLIC libs...] [PRIVATE libs...])
# A static library of every .cpp file in the calling folder. Sources are
# globbed so that adding a class is adding its two files.
function(rendova_layer target)
  cmake_parse_arguments(ARG "" "" "PUBLIC;PRIVATE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp" "${CMAKE_CURRENT_SOURCE_DIR}/*.c")
  add_library(${target} STATIC ${sources})
  rendova_include_root(${target} PUBLIC)
  rendova_conversion_warnings(${target})
  if(ARG_PUBLIC)
    target_link_libraries(${target} PUBLIC ${ARG_PUBLIC})
  endif()
  if(ARG_PRIVATE)
    target_link_libraries(${target} PRIVATE ${ARG_PRIVATE})
  endif()
  target_link_libraries(rendova_layers INTERFACE ${target})
endfunction()
