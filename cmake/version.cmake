# Puts the version from VERSION into the program: res/version.h (the version record and the window
# title) and the process manifest's assemblyIdentity, both generated from their .in files into
# res/ of the build folder, where #include and windres find them.
function(kesta_version_resources target)
  # Windows holds a version as four 16-bit numbers; missing ones are 0 (1.0 is 1.0.0.0).
  set(numbers)
  foreach(part MAJOR MINOR PATCH TWEAK)
    set(number "${PROJECT_VERSION_${part}}")
    if(number STREQUAL "")
      set(number 0)
    elseif(number GREATER 65535)
      message(FATAL_ERROR "VERSION ${PROJECT_VERSION}: each number must be at most 65535")
    endif()
    list(APPEND numbers ${number})
  endforeach()
  set(KESTA_VERSION_TEXT "${PROJECT_VERSION}")
  list(JOIN numbers "," KESTA_VERSION_NUMBERS)
  list(JOIN numbers "." KESTA_VERSION_DOTTED)

  set(generated ${CMAKE_CURRENT_BINARY_DIR}/res)
  configure_file(${CMAKE_SOURCE_DIR}/res/version.h.in ${generated}/version.h @ONLY)
  configure_file(${CMAKE_SOURCE_DIR}/res/app.manifest.in ${generated}/app.manifest @ONLY)
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
  # windres reports no dependencies: rebuild the resources when the version changes.
  set_property(SOURCE ${CMAKE_SOURCE_DIR}/res/app.rc APPEND PROPERTY OBJECT_DEPENDS
               ${generated}/version.h ${generated}/app.manifest)
endfunction()
