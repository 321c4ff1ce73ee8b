# Windows builds: DLLs that need nothing beside the system's DLLs, exports
# from the same symbol lists as the Linux version scripts, and (when
# cross-built) the tests run under wine.

# zlib, the C++ runtime, libgcc and winpthread linked in: the DLLs and the
# test programs import only KERNEL32.dll and the C runtime (msvcrt.dll).
set(ZLIB_USE_STATIC_LIBS ON)
if(MINGW)
  add_link_options(-static -static-libgcc -static-libstdc++)
  # printf and its kin from the MinGW runtime, linked in, which knows C99's
  # %zu and %lld as msvcrt.dll's does not.
  add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)
endif()

# Programs and DLLs side by side, so that every program finds the DLLs the
# way Windows looks for them first: in the program's own directory.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)

# Writes OUTPUT, a module-definition (.def) file that exports from DLL
# exactly the global names of the version script MAP. A pattern such as
# qvres_* stands for the functions HEADER declares with the calling
# convention macro CALL whose names match it.
function(results_api_write_def OUTPUT DLL MAP HEADER CALL)
  file(READ ${MAP} map_text)
  string(REGEX REPLACE "/\\*([^*]|\\*[^/])*\\*/" "" map_text "${map_text}")
  if(NOT map_text MATCHES "global:(.*)local:")
    message(FATAL_ERROR "${MAP}: no global: section")
  endif()
  string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*\\*?" patterns "${CMAKE_MATCH_1}")

  file(READ ${HEADER} header_text)
  string(REGEX MATCHALL "${CALL}[ \t\n*]+[A-Za-z_][A-Za-z0-9_]*[ \t\n]*\\(" decls "${header_text}")
  set(declared)
  foreach(decl IN LISTS decls)
    string(REGEX REPLACE "${CALL}[ \t\n*]+([A-Za-z0-9_]+).*" "\\1" name "${decl}")
    list(APPEND declared ${name})
  endforeach()

  set(names)
  foreach(pattern IN LISTS patterns)
    if(pattern MATCHES "^(.*)\\*$")
      set(prefix ${CMAKE_MATCH_1})
      foreach(name IN LISTS declared)
        string(FIND "${name}" "${prefix}" at)
        if(at EQUAL 0)
          list(APPEND names ${name})
        endif()
      endforeach()
    else()
      list(APPEND names ${pattern})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES names)
  if(NOT names)
    message(FATAL_ERROR "${MAP}: no exported name")
  endif()

  set(text "LIBRARY ${DLL}\nEXPORTS\n")
  foreach(name IN LISTS names)
    string(APPEND text "    ${name}\n")
  endforeach()
  # Rewritten only when the names change, so that a new configure does not
  # relink the DLL.
  file(WRITE ${OUTPUT}.new "${text}")
  configure_file(${OUTPUT}.new ${OUTPUT} COPYONLY)
  file(REMOVE ${OUTPUT}.new)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${MAP} ${HEADER})
endfunction()

# Cross-built tests run under wine64, through a wrapper that keeps wine's
# prefix inside the build tree and runs it headless and quiet.
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(RESULTS_API_WINE64 wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
  if(RESULTS_API_WINE64)
    set(RESULTS_API_WINEPREFIX ${PROJECT_BINARY_DIR}/wine)
    # The wrapper keeps the template's execute permission.
    configure_file(${CMAKE_CURRENT_LIST_DIR}/wine_run.sh.in ${PROJECT_BINARY_DIR}/wine_run.sh @ONLY)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_BINARY_DIR}/wine_run.sh)
  else()
    message(WARNING "wine64 not found: the Windows tests can be built but not run here")
  endif()
endif()
