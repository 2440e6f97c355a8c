# add_psd_plugin(NAME CODE DEF_FILE DESCRIPTION SOURCES...)
#
# A plug-in: a Windows DLL (.spi for 32-bit, .sph for 64-bit) that imports
# only KERNEL32.dll and USER32.dll, exports exactly the names of its .def
# file and carries a version resource (cmake/version.rc.in: DESCRIPTION and
# the project's version), or on Linux a shared object NAME.so that exports
# the same names plus the platform calls a Linux host makes through the
# plug-in's own handle.

# The platform functions a Linux host reaches through dlsym on the plug-in.
set(PSD_LINUX_HOST_EXPORTS
    LocalAlloc LocalLock LocalUnlock LocalSize LocalFree
    PlatformGetCounts PlatformFailAllocation)

# Reads the export names of a .def file: the first word of every line after
# EXPORTS, without comments (';') or ordinals.
function(read_def_exports def_file out_var)
  file(STRINGS ${def_file} lines)
  set(names)
  set(in_exports FALSE)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE ";.*$" "" line "${line}")
    string(STRIP "${line}" line)
    if(line STREQUAL "")
      continue()
    endif()
    if(line MATCHES "^EXPORTS")
      set(in_exports TRUE)
      continue()
    endif()
    if(in_exports)
      string(REGEX MATCH "^[A-Za-z_][A-Za-z0-9_]*" name "${line}")
      if(name)
        list(APPEND names ${name})
      endif()
    endif()
  endforeach()
  set(${out_var} ${names} PARENT_SCOPE)
endfunction()

function(add_psd_plugin name code def_file description)
  set(sources ${ARGN})
  if(NOT EXISTS ${def_file})
    message(WARNING "${name}: ${def_file} does not exist yet; not built")
    return()
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def_file})

  add_library(${name} SHARED ${sources})
  target_compile_definitions(${name} PRIVATE PLUGIN_INTERFACE_CODE="${code}")
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE plugin_code_flags)
  # Whole archives: the exported engine entry point and the platform calls
  # must be in the plug-in even where the plug-in's own code does not call them.
  get_target_property(engine_type engine TYPE)
  if(engine_type STREQUAL "STATIC_LIBRARY")
    target_link_libraries(${name} PRIVATE
                          "$<LINK_LIBRARY:WHOLE_ARCHIVE,engine>")
  endif()
  target_link_libraries(${name} PRIVATE
                        "$<LINK_LIBRARY:WHOLE_ARCHIVE,platform>")
  set_target_properties(${name} PROPERTIES PREFIX "" LINK_DEPENDS ${def_file})

  if(WIN32)
    set(PLUGIN_NAME ${name})
    set(PLUGIN_FILE ${name}${PLUGIN_SUFFIX})
    set(PLUGIN_DESCRIPTION "${description} (${PLUGIN_BITS}-bit)")
    configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in
                   ${CMAKE_CURRENT_BINARY_DIR}/${name}_version.rc @ONLY)
    target_sources(${name} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${name}_version.rc)
    set_target_properties(${name} PROPERTIES SUFFIX ${PLUGIN_SUFFIX})
    target_link_options(${name} PRIVATE
      -nostdlib -Wl,-e,${DLL_ENTRY} -Wl,--kill-at -Wl,--no-insert-timestamp
      ${def_file})
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      # The .def names are undecorated; match them to the stdcall symbols.
      target_link_options(${name} PRIVATE -Wl,--enable-stdcall-fixup)
    endif()
    target_link_libraries(${name} PRIVATE kernel32 user32 gcc)
  else()
    read_def_exports(${def_file} def_names)
    set(script "{\n  global:\n")
    foreach(symbol IN LISTS def_names PSD_LINUX_HOST_EXPORTS)
      string(APPEND script "    ${symbol};\n")
    endforeach()
    string(APPEND script "  local:\n    *;\n};\n")
    set(script_file ${CMAKE_CURRENT_BINARY_DIR}/${name}.version)
    file(WRITE ${script_file} "${script}")
    target_link_options(${name} PRIVATE
      -Wl,--version-script=${script_file} -Wl,-Bsymbolic)
    if((NOT PSD_SANITIZE AND NOT PSD_THREAD_SANITIZE) OR
       CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      target_link_options(${name} PRIVATE -Wl,-z,defs)
    endif()
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${script_file})
  endif()
endfunction()
