# idrovan_manifest_for_architecture(<target> <manifest>)
# The manifests in the sources name the 64-bit architecture (processorArchitecture="amd64");
# Windows expects "x86" there for a 32-bit program and refuses a mismatch as a side-by-side
# configuration error. For a 32-bit build this writes a copy that names x86 into the build tree
# and puts its folder first on the target's resource search path, so that the resource script
# stays one file for both. A 64-bit build is left exactly as it is.
function(idrovan_manifest_for_architecture target manifest)
  if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
    return()
  endif()
  get_filename_component(name ${manifest} NAME)
  set(folder ${CMAKE_CURRENT_BINARY_DIR}/${target}-manifest-x86)

  file(READ ${manifest} text)
  string(REGEX MATCHALL "processorArchitecture=\"amd64\"" own "${text}")
  list(LENGTH own count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "${manifest}: expected one processorArchitecture=\"amd64\", found ${count}")
  endif()
  string(REPLACE "processorArchitecture=\"amd64\"" "processorArchitecture=\"x86\"" text "${text}")
  # Written only when it changes, so that a new configure run rebuilds nothing.
  file(WRITE ${folder}/${name}.new "${text}")
  configure_file(${folder}/${name}.new ${folder}/${name} COPYONLY)
  file(REMOVE ${folder}/${name}.new)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${manifest})

  target_include_directories(${target} BEFORE PRIVATE ${folder})
  get_target_property(sources ${target} SOURCES)
  foreach(source ${sources})
    if(source MATCHES "\\.rc$")
      set_property(SOURCE ${source} APPEND PROPERTY OBJECT_DEPENDS ${folder}/${name})
    endif()
  endforeach()
endfunction()
