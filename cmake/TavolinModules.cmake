# Include directories that follow the module graph.
#
# tavolin_module_include(<target> <folder>...): the target, and whatever links
# it, sees the headers of these folders as "<folder>/<name>.h" and nothing else
# of the tree: not even those of their subfolders, which belong to targets of
# their own. A module reaches another module's headers only by linking it,
# so an include that points up the graph fails to build. A folder belongs to
# one target only.
function(tavolin_module_include target)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  file(REMOVE_RECURSE ${root})
  foreach(folder ${ARGN})
    get_property(owner GLOBAL PROPERTY tavolin_folder_of_${folder})
    if(owner)
      message(FATAL_ERROR "${target} exports ${folder}/, which ${owner} exports already")
    endif()
    set_property(GLOBAL PROPERTY tavolin_folder_of_${folder} ${target})
    file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.h)
    file(MAKE_DIRECTORY ${root}/${folder})
    foreach(header ${headers})
      get_filename_component(name ${header} NAME)
      file(CREATE_LINK ${header} ${root}/${folder}/${name} SYMBOLIC)
    endforeach()
  endforeach()
  target_include_directories(${target} PUBLIC ${root})
endfunction()

# tavolin_tree_include(<folder>...): every target of the calling directory sees
# these folders whole, for instance "tests/..." for the tests' own helpers.
# Each calling directory has a root of its own, named by its place in the
# checkout (not its absolute path, so a compiler cache serves any checkout).
function(tavolin_tree_include)
  file(RELATIVE_PATH place ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  string(REPLACE "/" "." place "in.${place}")
  set(root ${CMAKE_BINARY_DIR}/include/tree/${place})
  foreach(folder ${ARGN})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endforeach()
  set_property(DIRECTORY APPEND PROPERTY INCLUDE_DIRECTORIES ${root})
endfunction()
