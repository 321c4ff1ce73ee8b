# Packages made by cpack from the install components:
#   Debian (scripts/packages.sh, or `cpack -G DEB -D RESULTS_API_DEB=<component>`
#   per package): one runtime package per SONAME, the development files, the
#   tools and the Python package, each with its own version;
#   Windows (the mingw-w64 cross build, `cpack -G ZIP`): one zip of the DLLs,
#   import libraries, .def files, headers, CMake package and tools.
# The Debian packages expect a build configured with CMAKE_INSTALL_PREFIX=/usr
# (the library directory, the Python directory and the tools' path to the
# library are worked out from it when configuring).

file(STRINGS ${PROJECT_SOURCE_DIR}/python/pyproject.toml RESULTS_API_PYTHON_VERSION
     REGEX "^version = \"[0-9.]+\"$")
string(REGEX REPLACE "^version = \"([0-9.]+)\"$" "\\1" RESULTS_API_PYTHON_VERSION
       "${RESULTS_API_PYTHON_VERSION}")

# The Debian name and version of each component's package. The development
# package holds both interfaces, so both versions make its own.
string(REPLACE "_" "-" results_api_deb_runtime "libresults_api${PROJECT_VERSION_MAJOR}")
string(REGEX MATCH "^[0-9]+" qvres_major "${QVRES_VERSION}")
set(RESULTS_API_DEB_PACKAGES
  results_api_runtime ${results_api_deb_runtime} ${PROJECT_VERSION}
  qvres_runtime libqvres${qvres_major} ${QVRES_VERSION}
  development libresults-api-dev ${PROJECT_VERSION}+${QVRES_VERSION}
  tools qvres-tools ${QVRES_TOOLS_VERSION}
  python python3-qvres ${RESULTS_API_PYTHON_VERSION})

set(RESULTS_API_MAINTAINER "results_api developers <results-api@users.noreply.example.org>")

# Each Debian package's copyright and changelog, in its own /usr/share/doc
# directory; the Windows zip has the licence and the changelog at its top.
if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt
          COMPONENT development)
  install(FILES ${PROJECT_SOURCE_DIR}/CHANGELOG.md DESTINATION . COMPONENT development)
else()
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
  # The licence's own text after its copyright line, as the copyright
  # file's License paragraph wants it: indented, blank lines as " .".
  string(REGEX REPLACE "^.*All rights reserved\\.\n\n" "" licence "${licence}")
  string(REGEX REPLACE "\n$" "" licence "${licence}")
  string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
  string(REGEX REPLACE "\n" "\n " licence " ${licence}")
  file(READ ${PROJECT_SOURCE_DIR}/CHANGELOG.md changes)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    string(TIMESTAMP deb_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  else()
    string(TIMESTAMP deb_date "%a, %d %b %Y 00:00:00 +0000" UTC)
  endif()
  find_program(RESULTS_API_GZIP gzip)
  set(deb_docs "")
  set(entries ${RESULTS_API_DEB_PACKAGES})
  while(entries)
    list(POP_FRONT entries component package version)
    set(dir ${PROJECT_BINARY_DIR}/debian/${package})
    file(WRITE ${dir}/copyright
      "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
      "Upstream-Name: results_api\n\n"
      "Files: *\nCopyright: 2026, the results_api developers\nLicense: BSD-3-Clause\n\n"
      "License: BSD-3-Clause\n${licence}\n")
    # The changelog's entry is the section of CHANGELOG.md for this
    # version, as Debian changelog lines.
    if(component STREQUAL "results_api_runtime")
      set(headings "libresults_api ${PROJECT_VERSION}")
    elseif(component STREQUAL "qvres_runtime")
      set(headings "libqvres ${QVRES_VERSION}")
    elseif(component STREQUAL "development")
      set(headings "libresults_api ${PROJECT_VERSION}" "libqvres ${QVRES_VERSION}")
    elseif(component STREQUAL "tools")
      set(headings "tools ${QVRES_TOOLS_VERSION}")
    else()
      set(headings "qvres ${RESULTS_API_PYTHON_VERSION}")
    endif()
    set(body "")
    foreach(heading IN LISTS headings)
      string(REGEX MATCH "\n### ${heading} [^\n]*\n\n[^#]*" section "${changes}")
      if(NOT section)
        # scripts/abi.sh fails a library version without its entry; the
        # build goes on.
        message(WARNING "CHANGELOG.md has no '### ${heading}' section for the package ${package}")
        set(section "\n### ${heading} (unreleased)\n\n- No CHANGELOG.md entry yet.\n")
      endif()
      string(REGEX REPLACE "^\n### ([^\n]*)\n\n" "\\1:\n" section "${section}")
      string(REGEX REPLACE "\n+$" "" section "${section}")
      string(REGEX REPLACE "\n\n+" "\n" section "${section}")
      string(REGEX REPLACE "\n  ([^ ])" "\n      \\1" section "${section}")
      string(REGEX REPLACE "\n- " "\n    - " section "${section}")
      string(REGEX REPLACE "\n([^ ])" "\n    \\1" section "${section}")
      string(APPEND body "  * ${section}\n")
    endforeach()
    string(REPLACE "`" "" body "${body}")
    file(WRITE ${dir}/changelog
      "${package} (${version}) unstable; urgency=medium\n\n${body}\n"
      " -- ${RESULTS_API_MAINTAINER}  ${deb_date}\n")
    if(RESULTS_API_GZIP)
      add_custom_command(OUTPUT ${dir}/changelog.gz
        COMMAND ${RESULTS_API_GZIP} -9nc changelog > changelog.gz
        WORKING_DIRECTORY ${dir} DEPENDS ${dir}/changelog VERBATIM)
      list(APPEND deb_docs ${dir}/changelog.gz)
      install(FILES ${dir}/copyright ${dir}/changelog.gz
              DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
    else()
      install(FILES ${dir}/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
              COMPONENT ${component})
    endif()
  endwhile()
  add_custom_target(results_api_debian_docs ALL DEPENDS ${deb_docs})
endif()

set(CPACK_PACKAGE_NAME results-api)
set(CPACK_PACKAGE_VENDOR "the results_api developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${RESULTS_API_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
# Read by cpack: picks the Debian package asked for with -D RESULTS_API_DEB.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Read access to the results of explicit-dynamics analyses")
  set(CPACK_PACKAGE_FILE_NAME results_api-${PROJECT_VERSION}-qvres-${QVRES_VERSION}-windows-x86_64)
  set(CPACK_COMPONENTS_ALL results_api_runtime qvres_runtime development tools)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  # Installed with DESTDIR under the configured prefix, so that what is
  # worked out from the prefix when installing (the ParaView start-up
  # script's plugin path) names /usr, not the staging directory.
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${RESULTS_API_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

  # The runtime packages run ldconfig through dpkg's trigger, as Debian
  # wants, rather than from the postinst and postrm CPack would write: CPack
  # writes neither when the extra control files name them, and these two
  # names lead to no file, so nothing is shipped in their place.
  file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
  set(deb_ldconfig_trigger ${PROJECT_BINARY_DIR}/debian/triggers
      ${PROJECT_BINARY_DIR}/debian/no-such-script/postinst
      ${PROJECT_BINARY_DIR}/debian/no-such-script/postrm)
  set(CPACK_DEBIAN_RESULTS_API_RUNTIME_PACKAGE_CONTROL_EXTRA ${deb_ldconfig_trigger})
  set(CPACK_DEBIAN_QVRES_RUNTIME_PACKAGE_CONTROL_EXTRA ${deb_ldconfig_trigger})

  set(CPACK_DEBIAN_RESULTS_API_RUNTIME_PACKAGE_NAME ${results_api_deb_runtime})
  set(CPACK_DEBIAN_RESULTS_API_RUNTIME_PACKAGE_SECTION libs)
  set(CPACK_COMPONENT_RESULTS_API_RUNTIME_DESCRIPTION
"read access to explicit-dynamics analysis results (59 exports)
libresults_api reads the base file and the cycle files an explicit-dynamics
solver writes: the model, the saved cycles and every stored node and element
array, in SI units. It gives host programs the 59 exports of results_api.h:
one analysis per process, every argument by address.")

  set(CPACK_DEBIAN_QVRES_RUNTIME_PACKAGE_NAME libqvres${qvres_major})
  set(CPACK_DEBIAN_QVRES_RUNTIME_PACKAGE_SECTION libs)
  set(CPACK_COMPONENT_QVRES_RUNTIME_DESCRIPTION
"re-entrant read access to explicit-dynamics analysis results
libqvres reads the base file and the cycle files an explicit-dynamics solver
writes: many analyses open at once, one cycle reader per thread, a count
query for every value query, 64-bit counts, histories and envelopes over
cycles, and failures that name the file, the section and the byte offset.")

  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libresults-api-dev)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
      "${results_api_deb_runtime} (= ${PROJECT_VERSION}), libqvres${qvres_major} (= ${QVRES_VERSION})")
  set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
"development files of libresults_api and libqvres
The headers results_api.h and qvres.h, the CMake package results_api
(targets results_api::results_api and results_api::qvres) and the pkg-config
files results_api.pc and qvres.pc for building hosts against the libraries.")

  set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME qvres-tools)
  # The tools load libqvres when they start (dlopen), so the dependency is
  # stated here; the rest comes from their own links.
  set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libqvres${qvres_major} (>= ${QVRES_VERSION})")
  set(CPACK_COMPONENT_TOOLS_DESCRIPTION
"command-line tools for explicit-dynamics analysis results
qvres-sample writes a sample analysis, qvres-inspect lists a run's model,
cycles and variables and writes values and histories as CSV or SVG,
qvres-to-vtk exports every cycle for ParaView, and qvres-diff compares two
analyses within tolerances.")

  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-qvres)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
      "python3:any, python3-numpy, libqvres${qvres_major} (>= ${QVRES_VERSION})")
  # Byte-compiled when installed and cleaned before removal, as Debian's
  # Python packages are.
  set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA
      ${PROJECT_SOURCE_DIR}/cmake/debian/python3-qvres/postinst
      ${PROJECT_SOURCE_DIR}/cmake/debian/python3-qvres/prerm)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "python3-meshio, python3-dask, python3-distributed, paraview")
  set(CPACK_COMPONENT_PYTHON_DESCRIPTION
"explicit-dynamics analysis results as numpy arrays
The Python package qvres reads analyses through libqvres: the model, cycles,
variables, values, histories and envelopes as numpy arrays in SI units,
meshio meshes and parameter studies over dask.distributed. A ParaView reader
plugin over it is installed in /usr/share/results_api/paraview.")
endif()

file(WRITE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake
  "# Written by cmake/packaging.cmake: -D RESULTS_API_DEB=<component> makes\n"
  "# that component's Debian package, with its own version.\n"
  "set(results_api_packages ${RESULTS_API_DEB_PACKAGES})\n"
  "if(CPACK_GENERATOR STREQUAL \"DEB\")\n"
  "  if(NOT RESULTS_API_DEB)\n"
  "    message(FATAL_ERROR \"name one package: cpack -G DEB -D RESULTS_API_DEB=<component>, one of: results_api_runtime qvres_runtime development tools python (scripts/packages.sh makes them all)\")\n"
  "  endif()\n"
  "  list(FIND results_api_packages \${RESULTS_API_DEB} at)\n"
  "  if(at LESS 0)\n"
  "    message(FATAL_ERROR \"no Debian package of the component \${RESULTS_API_DEB}\")\n"
  "  endif()\n"
  "  math(EXPR at \"\${at} + 2\")\n"
  "  list(GET results_api_packages \${at} CPACK_PACKAGE_VERSION)\n"
  "  set(CPACK_COMPONENTS_ALL \${RESULTS_API_DEB})\n"
  "endif()\n")

include(CPack)
