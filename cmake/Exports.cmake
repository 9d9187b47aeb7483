# quil_exports(TARGET DEF_FILE): the module exports the undecorated names that DEF_FILE lists.
# The file is written for x86, where each stdcall name is an alias of its decorated symbol
# ("Name=Name@8"). x64 has one calling convention and no decoration, so there the aliases are
# dropped and each name exports the symbol of the same name.
function(quil_exports target def)
  get_filename_component(def "${def}" ABSOLUTE)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_sources(${target} PRIVATE "${def}")
    return()
  endif()
  file(READ "${def}" text)
  string(REGEX REPLACE "=[A-Za-z_][A-Za-z_0-9]*@[0-9]+" "" text "${text}")
  get_filename_component(name "${def}" NAME)
  set(undecorated "${CMAKE_CURRENT_BINARY_DIR}/${target}.x64/${name}")
  file(CONFIGURE OUTPUT "${undecorated}" CONTENT "${text}" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${def}")
  target_sources(${target} PRIVATE "${undecorated}")
endfunction()
