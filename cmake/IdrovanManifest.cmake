# The manifests of the programs (app/idrovan.manifest, and those of any other program folder)
# name the program's version as @IDROVAN_VERSION@, filled in from the file VERSION, and the
# 64-bit architecture, processorArchitecture="amd64"; Windows expects "x86" there for a 32-bit
# program and refuses a mismatch as a side-by-side configuration error.
#
# idrovan_fit_manifests(): writes a copy of every <folder>/<name>.manifest with
# the version, and in a 32-bit build naming x86, into the build tree, and at the end of the
# configuration puts that folder first on the resource search path of every program with a
# resource script, so that "RT_MANIFEST "<name>.manifest"" finds the copy. The resource scripts
# stay one file for both architectures, and whichever programs exist are covered.
function(idrovan_fit_manifests)
  set(folder ${CMAKE_BINARY_DIR}/manifests)
  file(GLOB manifests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/*/*.manifest)
  foreach(manifest ${manifests})
    file(READ ${manifest} text)
    foreach(expected "version=\"@IDROVAN_VERSION@\"" "processorArchitecture=\"amd64\"")
      string(REGEX MATCHALL "${expected}" own "${text}")
      list(LENGTH own count)
      if(NOT count EQUAL 1)
        message(FATAL_ERROR "${manifest}: expected one ${expected}, found ${count}")
      endif()
    endforeach()
    string(REPLACE "@IDROVAN_VERSION@" "${IDROVAN_VERSION}" text "${text}")
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      string(REPLACE "processorArchitecture=\"amd64\"" "processorArchitecture=\"x86\"" text "${text}")
    endif()
    get_filename_component(name ${manifest} NAME)
    # Written only when it changes, so that configuring again rebuilds nothing.
    file(WRITE ${folder}/${name}.new "${text}")
    configure_file(${folder}/${name}.new ${folder}/${name} COPYONLY)
    file(REMOVE ${folder}/${name}.new)
  endforeach()
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${manifests})
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _idrovan_use_fitted_manifests)
endfunction()

function(_idrovan_targets_below directory out)
  get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory ${subdirectories})
    _idrovan_targets_below(${subdirectory} below)
    list(APPEND targets ${below})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

function(_idrovan_use_fitted_manifests)
  set(folder ${CMAKE_BINARY_DIR}/manifests)
  file(GLOB copies ${folder}/*.manifest)
  _idrovan_targets_below(${CMAKE_SOURCE_DIR} targets)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    get_target_property(sources ${target} SOURCES)
    get_target_property(source_dir ${target} SOURCE_DIR)
    set(scripts "")
    foreach(source ${sources})
      if(source MATCHES "\\.rc$")
        get_filename_component(source ${source} ABSOLUTE BASE_DIR ${source_dir})
        list(APPEND scripts ${source})
      endif()
    endforeach()
    if(type STREQUAL "EXECUTABLE" AND scripts)
      target_include_directories(${target} BEFORE PRIVATE ${folder})
      set_property(SOURCE ${scripts} TARGET_DIRECTORY ${target} APPEND PROPERTY OBJECT_DEPENDS
                   ${copies})
    endif()
  endforeach()
endfunction()
