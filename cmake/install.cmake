# What `cmake --install` puts in place: the program and its companion commands in bin/, their
# manual pages in share/man/man1/, and the library with its public header and a CMake package,
# so that a C++ harness can find_package(sift_runlog) and link sift_runlog::sift_analysis; and
# the copyright file of each Debian package in share/doc/<package>/.
#
# Two components: "runtime" (the commands and the manual pages) and "development" (the library,
# the header and the package files); the Debian packages follow the same split.

# The library goes to the multiarch folder (lib/x86_64-linux-gnu, ...) where the compiler has
# one, as Debian's packages have it; find_package looks there too.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH "Object code libraries")
endif()
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The same name inside this build as for users of the installed package.
add_library(sift_runlog::sift_analysis ALIAS sift_analysis)
# The public header needs no more than C++17 of its users.
target_compile_features(sift_analysis PUBLIC cxx_std_17)

# Manual pages are installed compressed, as man expects them on Debian.
set(sift_manual_pages sift_runlog.1 sift_runlog_table.1 sift_runlog_report.1)
set(sift_compressed_pages)
foreach(page IN LISTS sift_manual_pages)
  set(source ${PROJECT_SOURCE_DIR}/doc/${page})
  set(compressed ${PROJECT_BINARY_DIR}/doc/${page}.gz)
  add_custom_command(
    OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
    COMMAND sh -c "gzip -9 -n -c \"$1\" > \"$2\"" sh ${source} ${compressed}
    DEPENDS ${source}
    COMMENT "Compressing the manual page ${page}"
    VERBATIM)
  list(APPEND sift_compressed_pages ${compressed})
endforeach()
add_custom_target(sift_manual_pages ALL DEPENDS ${sift_compressed_pages})

install(TARGETS sift_runlog sift_runlog_table sift_runlog_report RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT runtime)
install(FILES ${sift_compressed_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT runtime)

set(sift_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/sift_runlog)
install(TARGETS sift_analysis EXPORT sift_runlog_targets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# Only the public header: the headers beside the sources are the library's own business.
install(FILES ${PROJECT_SOURCE_DIR}/analysis/include/sift_runlog/grade.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/sift_runlog COMPONENT development)
install(EXPORT sift_runlog_targets NAMESPACE sift_runlog:: FILE sift_runlogTargets.cmake
        DESTINATION ${sift_package_dir} COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/sift_runlogConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/sift_runlogConfig.cmake
                              INSTALL_DESTINATION ${sift_package_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/sift_runlogConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/sift_runlogConfig.cmake
              ${PROJECT_BINARY_DIR}/sift_runlogConfigVersion.cmake
        DESTINATION ${sift_package_dir} COMPONENT development)

# The copyright file of the Debian packages, in the machine-readable format, made from LICENSE.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE sift_license)
string(REGEX REPLACE "^MIT License\n\nCopyright \\(c\\) [^\n]*\n\n" "" sift_license "${sift_license}")
string(STRIP "${sift_license}" sift_license)
string(REPLACE "\n\n" "\n.\n" sift_license "${sift_license}")
string(REPLACE "\n" "\n " sift_license "${sift_license}")
file(WRITE ${PROJECT_BINARY_DIR}/doc/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: sift_runlog\n\n"
     "Files: *\nCopyright: the sift_runlog developers\nLicense: MIT\n ${sift_license}\n")
install(FILES ${PROJECT_BINARY_DIR}/doc/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/sift-runlog COMPONENT runtime)
install(FILES ${PROJECT_BINARY_DIR}/doc/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/sift-runlog-dev COMPONENT development)
