# Helpers shared by the layer, test and fuzz folders.

# rendova_layer(<target> [PUBLIC libs...] [PRIVATE libs...])
# A static library of every .cpp file in the calling folder. Sources are
# globbed so that adding a class is adding its two files.
function(rendova_layer target)
  cmake_parse_arguments(ARG "" "" "PUBLIC;PRIVATE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp" "${CMAKE_CURRENT_SOURCE_DIR}/*.c")
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC "${PROJECT_SOURCE_DIR}")
  if(ARG_PUBLIC)
    target_link_libraries(${target} PUBLIC ${ARG_PUBLIC})
  endif()
  if(ARG_PRIVATE)
    target_link_libraries(${target} PRIVATE ${ARG_PRIVATE})
  endif()
  target_link_libraries(rendova_layers INTERFACE ${target})
endfunction()
