# Debian packages made by `cpack -G DEB` from an installed tree (see cmake/install.cmake):
#   sift-runlog      the program, the companions sift_runlog_table and sift_runlog_report, their
#                    manual pages and the copyright file
#   sift-runlog-dev  the library (in the multiarch folder), its public header, the CMake package
#                    and the copyright file
# No Homepage field: the project has no public home yet.
# Build them from the release preset, which links the program statically: the package then
# needs no shared library at all.
set(SIFT_PACKAGE_MAINTAINER "sift_runlog maintainers <sift-runlog@example.org>"
    CACHE STRING "The Maintainer field of the Debian packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sift-runlog)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${SIFT_PACKAGE_MAINTAINER}")
# CPack puts any other summary in front of every package's description; at its own default it
# puts none, and the first line of each description below is that package's synopsis.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SIFT_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME sift-runlog)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
    "grade the logs of benchmark runs of model-checking tools
sift_runlog reads the log of one benchmark run (a model-checking tool's
captured output with the harness's marker lines) and prints one
comma-separated result line: cores, time and memory flags, the verdict or
the answers, and the techniques the tool used.

sift_runlog_table grades a whole campaign of logs in one process, on
several threads, and writes one table in the byte order of the logs'
paths: the lines of sift_runlog, CSV or JSON Lines. It lists the failed
logs for a second run, and splits a campaign among the machines of a
cluster and merges their tables.

sift_runlog_report reads those tables and writes a campaign's answers one
per row, a summary per tool and examination, where tools disagree, scores
against known answers, and a self-contained HTML page.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME sift-runlog-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
    "grade benchmark run logs from C++ programs
The static library and the header sift_runlog/grade.hpp give a C++
benchmark harness the grading of sift_runlog in-process: the exact result
line, exit status and report of the program, and the analysis as fields.
A CMake package is included: find_package(sift_runlog) and link
sift_runlog::sift_analysis.")

if(SIFT_STATIC_PROGRAM)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
else()
  # A dynamically linked program needs its shared libraries listed (dpkg-shlibdeps, from
  # dpkg-dev, finds them).
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
