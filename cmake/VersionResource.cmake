# quil_version_resource(TARGET DESCRIPTION): gives the deliverable TARGET a VERSIONINFO resource
# with the project's version (project(... VERSION)) as its product and file version, so that
# Windows Installer's file rules and inventory tools see it (windres compiles the generated .rc),
# and the same numbers to its sources in QuilVersion.h.
function(quil_version_resource target description)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(QUIL_FILE_TYPE VFT_APP)
  else()
    set(QUIL_FILE_TYPE VFT_DLL)
  endif()
  set(QUIL_FILE_DESCRIPTION "${description}")
  set(QUIL_FILE_NAME "$<TARGET_FILE_NAME:${target}>")
  set(QUIL_INTERNAL_NAME "${target}")
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}.version.rc")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/Version.rc.in" "${rc}.in" @ONLY)
  # The file name is known only when the build is generated.
  file(GENERATE OUTPUT "${rc}" INPUT "${rc}.in")
  target_sources(${target} PRIVATE "${rc}")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/QuilVersion.h.in" "${PROJECT_BINARY_DIR}/version/QuilVersion.h" @ONLY)
  target_include_directories(${target} PRIVATE "${PROJECT_BINARY_DIR}/version")
endfunction()
